// Dates and times. A timestamp counts milliseconds of local wall-clock time since
// 1970-01-01 00:00:00 on the proleptic Gregorian calendar.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <cstdint>

namespace zt {

class ZTUTILS_API timestamp {
public:
    timestamp() = default;
    // From a file-system or clock "timer": milliseconds since the epoch.
    static timestamp fromTimer(std::int64_t milliseconds) {
        timestamp t;
        t.mMs = milliseconds;
        return t;
    }
    std::int64_t timer() const { return mMs; }

    friend bool operator==(const timestamp& a, const timestamp& b) { return a.mMs == b.mMs; }
    friend bool operator!=(const timestamp& a, const timestamp& b) { return a.mMs != b.mMs; }
    friend bool operator<(const timestamp& a, const timestamp& b) { return a.mMs < b.mMs; }
    friend bool operator<=(const timestamp& a, const timestamp& b) { return a.mMs <= b.mMs; }
    friend bool operator>(const timestamp& a, const timestamp& b) { return a.mMs > b.mMs; }
    friend bool operator>=(const timestamp& a, const timestamp& b) { return a.mMs >= b.mMs; }

private:
    std::int64_t mMs = 0;
};

} // namespace zt
