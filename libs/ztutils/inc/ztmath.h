// Decimal rounding of floating-point values.
//
// Both functions work on the value's shortest decimal text form (the digits that a conversion to
// text shows), so 2.675 rounds to 2.68 although its binary value lies slightly below 2.675.
// digits counts decimal places after the point; a negative count rounds to tens, hundreds, ...
// Infinities and NaN come back unchanged; a result too large for the type becomes an infinity.
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

} // namespace zt
