#include "ztmath.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace zt {

namespace {

// Rounds (roundUp true: half away from zero) or cuts value at digits decimal places, working on
// the shortest decimal form of the value.
template <class T>
T decimalCut(T value, int digits, bool roundHalfUp) {
    if (!std::isfinite(value) || value == 0) return value;

    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const char* p = buf;
    const char* end = r.ptr;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    // Mantissa digits without the point, then the exponent: value = 0.D1D2... * 10^(exp + 1).
    std::string mantissa;
    while (p < end && *p != 'e') {
        if (*p != '.') mantissa += *p;
        ++p;
    }
    int exponent = 0;
    if (p < end) {
        ++p; // 'e'
        if (*p == '+') ++p;
        std::from_chars(p, end, exponent);
    }

    // Number of mantissa digits that stay in front of the cut.
    const long long keep = static_cast<long long>(exponent) + 1 + digits;
    if (keep >= static_cast<long long>(mantissa.size())) return value;

    std::string kept;
    bool up = false;
    if (keep < 0) {
        // The value lies below a tenth of the last kept place: nothing remains.
        return 0;
    }
    kept = mantissa.substr(0, static_cast<size_t>(keep));
    up = roundHalfUp && mantissa[static_cast<size_t>(keep)] >= '5';
    if (up) {
        int i = static_cast<int>(kept.size()) - 1;
        while (i >= 0 && kept[static_cast<size_t>(i)] == '9') kept[static_cast<size_t>(i--)] = '0';
        if (i >= 0) ++kept[static_cast<size_t>(i)];
        else kept.insert(kept.begin(), '1');
    }
    if (kept.empty() || kept.find_first_not_of('0') == std::string::npos) return 0;

    // kept * 10^-digits
    std::string text = negative ? "-" : "";
    text += kept;
    text += 'e';
    text += std::to_string(-static_cast<long long>(digits));
    T result{};
    auto pr = std::from_chars(text.data(), text.data() + text.size(), result, std::chars_format::scientific);
    if (pr.ec == std::errc::result_out_of_range) {
        // Only an overflow can get here: the result has at least one digit of the original.
        return negative ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
    }
    return result;
}

} // namespace

double roundImp(double value, int digits) { return decimalCut(value, digits, true); }
float roundImp(float value, int digits) { return decimalCut(value, digits, true); }
double cutOffImp(double value, int digits) { return decimalCut(value, digits, false); }
float cutOffImp(float value, int digits) { return decimalCut(value, digits, false); }

} // namespace zt

namespace zt {

bool dblEq(double a, double b, double tolerance) {
    if (a == b) return tolerance >= 0; // also equal infinities, whose difference is NaN
    return std::fabs(a - b) <= tolerance;
}

namespace {
constexpr double kPi = 3.14159265358979323846;
}

double angle::degree() const { return mInDegrees ? mValue : mValue * 180.0 / kPi; }
double angle::radians() const { return mInDegrees ? mValue * kPi / 180.0 : mValue; }

} // namespace zt
