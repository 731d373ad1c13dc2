// Numbers: decimal rounding, angles and tolerant comparison of floating-point values.
//
// roundImp and cutOffImp work on the value's shortest decimal text form (the digits that a
// conversion to text shows), so 2.675 rounds to 2.68 although its binary value lies slightly below
// 2.675. digits counts decimal places after the point; a negative count rounds to tens, hundreds,
// ... Infinities and NaN come back unchanged; a result too large for the type becomes an infinity.
#pragma once

#include "ztexport.h"

namespace zt {

// Rounds half away from zero to digits decimal places: roundImp(2.5, 0) is 3, roundImp(-2.5, 0)
// is -3, roundImp(1234.5, -2) is 1200.
ZTUTILS_API double roundImp(double value, int digits);
ZTUTILS_API float roundImp(float value, int digits);

// Cuts toward zero after digits decimal places: cutOffImp(2.789, 1) is 2.7, cutOffImp(-2.789, 1)
// is -2.7, cutOffImp(1299, -2) is 1200.
ZTUTILS_API double cutOffImp(double value, int digits);
ZTUTILS_API float cutOffImp(float value, int digits);

// True when a and b lie at most tolerance apart: |a - b| <= tolerance. Equal infinities are
// equal for any tolerance >= 0; NaN equals nothing.
ZTUTILS_API bool dblEq(double a, double b, double tolerance);

// An angle. It keeps the value in the unit it was made in and converts only when read in the
// other unit, so fromDegree(90).degree() is exactly 90 and fromRadians(x).radians() exactly x.
// Angles are not normalised: 370 degrees stay 370 degrees, -90 stays -90.
class ZTUTILS_API angle {
public:
    angle() = default;
    static angle fromDegree(double degrees) { return angle(degrees, true); }
    static angle fromRadians(double radians) { return angle(radians, false); }

    double degree() const;
    double radians() const;

private:
    angle(double value, bool inDegrees) : mValue(value), mInDegrees(inDegrees) {}
    double mValue = 0;
    bool mInDegrees = false;
};

} // namespace zt
