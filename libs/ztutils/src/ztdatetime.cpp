// Dates, times of day and timestamps; their text forms and conversions.
#include "ztdatetime.h"

#include "ztvalue.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace zt {

namespace ch = std::chrono;

namespace {

constexpr std::int64_t kMsPerDay = time::msPerDay;

constexpr std::int32_t dayNumberOf(int y, unsigned m, unsigned d) {
    return static_cast<std::int32_t>(
        ch::sys_days(ch::year(y) / ch::month(m) / ch::day(d)).time_since_epoch().count());
}
constexpr std::int32_t kMinDay = dayNumberOf(date::minYear, 1, 1);
constexpr std::int32_t kMaxDay = dayNumberOf(date::maxYear, 12, 31);

// Floor division and the matching non-negative remainder.
constexpr std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Local wall-clock milliseconds since the epoch for now.
std::int64_t localNowMs() {
    const auto now = ch::system_clock::now();
    const auto secs = ch::floor<ch::seconds>(now);
    const std::int64_t ms = ch::floor<ch::milliseconds>(now).time_since_epoch().count();
    const std::time_t t = static_cast<std::time_t>(secs.time_since_epoch().count());
    std::tm local{};
#if defined(_WIN32)
    if (localtime_s(&local, &t) != 0) return ms;
    return ms + static_cast<std::int64_t>(_mkgmtime(&local) - t) * 1000;
#else
    if (localtime_r(&t, &local) == nullptr) return ms;
    return ms + static_cast<std::int64_t>(local.tm_gmtoff) * 1000;
#endif
}

[[noreturn]] void outOfRange(const char16_t* what) { throw dateTimeException(what); }

// Appends value zero-padded to width digits.
void appendPadded(string& s, int value, int width) {
    if (value < 0) {
        s += u'-';
        value = -value;
    }
    char16_t buf[16];
    int n = 0;
    do {
        buf[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value > 0 && n < 16);
    for (int i = n; i < width; ++i) s += u'0';
    while (n > 0) s += buf[--n];
}

void appendDate(string& s, const ch::year_month_day& ymd) {
    appendPadded(s, static_cast<int>(ymd.year()), 4);
    s += u'-';
    appendPadded(s, static_cast<int>(static_cast<unsigned>(ymd.month())), 2);
    s += u'-';
    appendPadded(s, static_cast<int>(static_cast<unsigned>(ymd.day())), 2);
}

void appendTime(string& s, const time& t) {
    appendPadded(s, t.hour(), 2);
    s += u':';
    appendPadded(s, t.minute(), 2);
    s += u':';
    appendPadded(s, t.second(), 2);
    if (t.millisecond() != 0) {
        s += u'.';
        appendPadded(s, t.millisecond(), 3);
    }
}

// A small cursor over text for the parsers.
struct scanner {
    const char16_t* p;
    const char16_t* end;

    static bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }
    static bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

    explicit scanner(const string& text) : p(text.data()), end(text.data() + text.size()) {
        while (p < end && isBlank(*p)) ++p;
        while (end > p && isBlank(end[-1])) --end;
    }
    bool atEnd() const { return p == end; }
    bool accept(char16_t c) {
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
    // Reads between minDigits and maxDigits decimal digits (as many as there are).
    bool number(int minDigits, int maxDigits, int& value, int* digits = nullptr) {
        int n = 0;
        value = 0;
        while (p < end && n < maxDigits && isDigit(*p)) {
            value = value * 10 + (*p - u'0');
            ++p;
            ++n;
        }
        if (digits) *digits = n;
        // More digits than allowed are not a shorter number followed by junk.
        return n >= minDigits && !(p < end && isDigit(*p));
    }
};

bool scanDate(scanner& s, date& out) {
    int y, m, d;
    if (!s.number(4, 4, y) || !s.accept(u'-') || !s.number(1, 2, m) || !s.accept(u'-') || !s.number(1, 2, d))
        return false;
    if (!date::isValid(y, m, d)) return false;
    out = date(y, m, d);
    return true;
}

bool scanTime(scanner& s, time& out) {
    int h, m, sec = 0, ms = 0;
    if (!s.number(1, 2, h) || !s.accept(u':') || !s.number(2, 2, m)) return false;
    if (s.accept(u':')) {
        if (!s.number(2, 2, sec)) return false;
        if (s.accept(u'.')) {
            int digits = 0;
            if (!s.number(1, 3, ms, &digits)) return false;
            for (; digits < 3; ++digits) ms *= 10;
        }
    }
    if (!time::isValid(h, m, sec, ms)) return false;
    out = time(h, m, sec, ms);
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------

dateTimeException::dateTimeException(const string& what, const exception* inner)
    : exception(
          [&] {
              locString s(u"Msg_EDateTime", u"Invalid date or time: [Val]");
              s.params().set(u"Val", what);
              return s;
          }(),
          inner) {}

string dtconvert(int value, int width) {
    string s;
    long long v = value;
    if (v < 0) {
        s += u'-';
        v = -v;
        --width;
    }
    char16_t buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v > 0);
    for (int i = n; i < width; ++i) s += u'0';
    while (n > 0) s += buf[--n];
    return s;
}

// ---------------------------------------------------------------------------------------------
// date

date::date(int year, int month, int day) {
    if (!isValid(year, month, day)) throw dateTimeException(string::format(u"%04d-%02d-%02d", year, month, day));
    mDays = dayNumberOf(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
}

date::date(ch::year_month_day ymd) {
    if (!ymd.ok() || static_cast<int>(ymd.year()) < minYear || static_cast<int>(ymd.year()) > maxYear)
        throw dateTimeException(u"year_month_day");
    mDays = static_cast<std::int32_t>(ch::sys_days(ymd).time_since_epoch().count());
}

date::date(ch::sys_days d) {
    const auto n = d.time_since_epoch().count();
    if (n < kMinDay || n > kMaxDay) throw dateTimeException(string::format(u"day number %d", n));
    mDays = static_cast<std::int32_t>(n);
}

bool date::isLeapYear(int year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int date::daysInMonth(int year, int month) noexcept {
    static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeapYear(year) ? 29 : lengths[month - 1];
}

bool date::isValid(int year, int month, int day) noexcept {
    return year >= minYear && year <= maxYear && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

date date::today() {
    date d;
    d.mDays = static_cast<std::int32_t>(floorDiv(localNowMs(), kMsPerDay));
    return d;
}

date date::thisYear() { return date(today().year(), 1, 1); }

date date::tarvineIniDate() noexcept {
    date d;
    d.mDays = dayNumberOf(1900, 1, 1);
    return d;
}

ch::year_month_day date::ymd() const noexcept { return ch::year_month_day(sysDays()); }

int date::year() const noexcept { return static_cast<int>(ymd().year()); }
int date::month() const noexcept { return static_cast<int>(static_cast<unsigned>(ymd().month())); }
int date::dayOfMonth() const noexcept { return static_cast<int>(static_cast<unsigned>(ymd().day())); }

int date::dayOfYear() const noexcept {
    const ch::sys_days jan1(ymd().year() / ch::January / 1);
    return static_cast<int>((sysDays() - jan1).count()) + 1;
}

int date::dayOfWeek() const noexcept { return static_cast<int>(ch::weekday(sysDays()).iso_encoding()) - 1; }

int date::weekOfYear() const noexcept {
    // The week belongs to the year of its Thursday.
    const ch::sys_days thursday = sysDays() + ch::days(3 - dayOfWeek());
    const ch::sys_days jan1(ch::year_month_day(thursday).year() / ch::January / 1);
    return static_cast<int>((thursday - jan1).count()) / 7 + 1;
}

int date::weekYear() const noexcept {
    const ch::sys_days thursday = sysDays() + ch::days(3 - dayOfWeek());
    return static_cast<int>(ch::year_month_day(thursday).year());
}

string date::toString() const {
    string s;
    s.reserve(10);
    appendDate(s, ymd());
    return s;
}

bool date::fromString(const string& text, date& out) {
    scanner s(text);
    date d;
    if (!scanDate(s, d) || !s.atEnd()) return false;
    out = d;
    return true;
}

date& date::operator+=(days n) {
    const std::int64_t r = static_cast<std::int64_t>(mDays) + n.count();
    if (r < kMinDay || r > kMaxDay) outOfRange(u"date + days");
    mDays = static_cast<std::int32_t>(r);
    return *this;
}

date& date::operator+=(weeks n) {
    const std::int64_t r = static_cast<std::int64_t>(mDays) + static_cast<std::int64_t>(n.count()) * 7;
    if (r < kMinDay || r > kMaxDay) outOfRange(u"date + weeks");
    mDays = static_cast<std::int32_t>(r);
    return *this;
}

namespace {
// Month arithmetic with the day clamped to the target month's length.
std::int32_t addMonths(std::int32_t dayNumber, std::int64_t n) {
    const ch::year_month_day ymd{ch::sys_days(ch::days(dayNumber))};
    const std::int64_t total = static_cast<std::int64_t>(static_cast<int>(ymd.year())) * 12 +
                               (static_cast<unsigned>(ymd.month()) - 1) + n;
    const std::int64_t y = floorDiv(total, 12);
    if (y < date::minYear || y > date::maxYear) outOfRange(u"date + months");
    const int m = static_cast<int>(total - y * 12) + 1;
    const int d = std::min(static_cast<int>(static_cast<unsigned>(ymd.day())),
                           date::daysInMonth(static_cast<int>(y), m));
    return dayNumberOf(static_cast<int>(y), static_cast<unsigned>(m), static_cast<unsigned>(d));
}
} // namespace

date& date::operator+=(months n) {
    mDays = addMonths(mDays, n.count());
    return *this;
}

date& date::operator+=(years n) {
    mDays = addMonths(mDays, static_cast<std::int64_t>(n.count()) * 12);
    return *this;
}

// ---------------------------------------------------------------------------------------------
// time

time::time(int hour, int minute, int second, int millisecond) {
    if (!isValid(hour, minute, second, millisecond))
        throw dateTimeException(string::format(u"%02d:%02d:%02d.%03d", hour, minute, second, millisecond));
    mMs = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

bool time::isValid(int hour, int minute, int second, int millisecond) noexcept {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           millisecond >= 0 && millisecond < 1000;
}

time time::fromMsecOfDay(std::int32_t ms) {
    if (ms < 0 || ms >= msPerDay) throw dateTimeException(string::format(u"%d ms of day", ms));
    time t;
    t.mMs = ms;
    return t;
}

time time::now() {
    time t;
    const std::int64_t ms = localNowMs();
    t.mMs = static_cast<std::int32_t>(ms - floorDiv(ms, kMsPerDay) * kMsPerDay);
    return t;
}

time time::daystart() noexcept { return time(); }

time time::lunchtime() noexcept {
    time t;
    t.mMs = 12 * 3'600'000;
    return t;
}

time time::midnight() noexcept {
    time t;
    t.mMs = msPerDay - 1;
    return t;
}

string time::toString() const {
    string s;
    s.reserve(12);
    appendTime(s, *this);
    return s;
}

bool time::fromString(const string& text, time& out) {
    scanner s(text);
    time t;
    if (!scanTime(s, t) || !s.atEnd()) return false;
    out = t;
    return true;
}

// ---------------------------------------------------------------------------------------------
// timestamp

timestamp::timestamp(const zt::date& d, const zt::time& t) noexcept
    : mMs(static_cast<std::int64_t>(d.dayNumber()) * kMsPerDay + t.msecOfDay()) {}

timestamp timestamp::now() { return fromTimer(localNowMs()); }

date timestamp::datePart() const { return zt::date(ch::sys_days(ch::days(floorDiv(mMs, kMsPerDay)))); }

time timestamp::timePart() const noexcept {
    return time::fromMsecOfDay(static_cast<std::int32_t>(mMs - floorDiv(mMs, kMsPerDay) * kMsPerDay));
}

string timestamp::toString() const {
    const std::int64_t dayNo = floorDiv(mMs, kMsPerDay);
    string s;
    s.reserve(23);
    appendDate(s, ch::year_month_day(ch::sys_days(ch::days(dayNo))));
    s += u' ';
    appendTime(s, time::fromMsecOfDay(static_cast<std::int32_t>(mMs - dayNo * kMsPerDay)));
    return s;
}

bool timestamp::fromString(const string& text, timestamp& out) {
    scanner s(text);
    zt::date d;
    zt::time t;
    if (!scanDate(s, d)) return false;
    if (!s.atEnd()) {
        if (s.accept(u'T') || s.accept(u't')) {
        } else if (scanner::isBlank(*s.p)) {
            while (!s.atEnd() && scanner::isBlank(*s.p)) ++s.p;
        } else {
            return false;
        }
        if (!scanTime(s, t) || !s.atEnd()) return false;
    }
    out = timestamp(d, t);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Conversions registered with the conversion manager

namespace {

template <class T>
bool textTo(T& dst, const string& src) {
    return T::fromString(src, dst);
}
template <class T>
bool toText(string& dst, const T& src) {
    dst = src.toString();
    return true;
}
bool dateToTimestamp(timestamp& dst, const date& src) {
    dst = timestamp(src);
    return true;
}
bool timestampToDate(date& dst, const timestamp& src) {
    try {
        dst = src.datePart();
    } catch (const dateTimeException&) {
        return false;
    }
    return true;
}
bool timestampToTime(time& dst, const timestamp& src) {
    dst = src.timePart();
    return true;
}

const typeconvert::typeConverter<string, date> gTextToDate(&textTo<date>);
const typeconvert::typeConverter<date, string> gDateToText(&toText<date>);
const typeconvert::typeConverter<string, time> gTextToTime(&textTo<time>);
const typeconvert::typeConverter<time, string> gTimeToText(&toText<time>);
const typeconvert::typeConverter<string, timestamp> gTextToTimestamp(&textTo<timestamp>);
const typeconvert::typeConverter<timestamp, string> gTimestampToText(&toText<timestamp>);
const typeconvert::typeConverter<date, timestamp> gDateToTimestamp(&dateToTimestamp);
const typeconvert::typeConverter<timestamp, date> gTimestampToDate(&timestampToDate);
const typeconvert::typeConverter<timestamp, time> gTimestampToTime(&timestampToTime);

const typeconvert::typeConverterBase* const gConverters[] = {
    &gTextToDate,      &gDateToText,      &gTextToTime,      &gTimeToText,      &gTextToTimestamp,
    &gTimestampToText, &gDateToTimestamp, &gTimestampToDate, &gTimestampToTime,
};

struct registrar {
    registrar() {
        for (const auto* c : gConverters) typeConversionManager::instance().add(c);
    }
    ~registrar() {
        for (const auto* c : gConverters) typeConversionManager::instance().remove(c);
    }
} gRegistrar;

} // namespace

} // namespace zt
