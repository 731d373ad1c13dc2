// Dates, times of day and timestamps on the proleptic Gregorian calendar.
//
// - date: a calendar day between 0001-01-01 and 9999-12-31. Text form "YYYY-MM-DD".
// - time: a time of day with millisecond resolution, 00:00:00.000 to 23:59:59.999.
//   Text form "HH:MM:SS", followed by ".mmm" only when the milliseconds are not zero.
// - timestamp: milliseconds of local wall-clock time since 1970-01-01 00:00:00. Text form
//   "YYYY-MM-DD HH:MM:SS[.mmm]"; on input a "T" may stand in for the blank.
// - years, months, weeks, days: counts of calendar units for date arithmetic. Adding months or
//   years keeps the day of month where the target month has it and otherwise clamps it to the
//   month's last day (2024-01-31 + months(1) = 2024-02-29).
//
// Operations that would leave the supported range of dates throw dateTimeException. Text input
// may carry blanks and tabs at both ends; anything else outside the text form is rejected.
// The conversion manager knows text <-> date, time and timestamp, date <-> timestamp (a date
// is the timestamp at 00:00:00.000) and timestamp -> time.
#pragma once

#include "ztexception.h"
#include "ztexport.h"
#include "ztstring.h"

#include <chrono>
#include <compare>
#include <cstdint>

namespace zt {

// Raised for values outside the supported range and for invalid calendar fields.
class ZTUTILS_API dateTimeException : public exception {
public:
    explicit dateTimeException(const string& what, const exception* inner = nullptr);
    ZT_EXCEPTION_CLONE(dateTimeException)
};

// A count of calendar units. Distinct types per unit so that date + days(3) and
// date + months(3) mean what they say.
template <int Unit>
class calendarUnits {
public:
    constexpr calendarUnits() noexcept = default;
    constexpr explicit calendarUnits(int count) noexcept : mCount(count) {}
    constexpr int count() const noexcept { return mCount; }
    constexpr calendarUnits operator-() const noexcept { return calendarUnits(-mCount); }
    friend constexpr bool operator==(calendarUnits a, calendarUnits b) noexcept { return a.mCount == b.mCount; }
    friend constexpr auto operator<=>(calendarUnits a, calendarUnits b) noexcept { return a.mCount <=> b.mCount; }

private:
    int mCount = 0;
};

using years = calendarUnits<1>;
using months = calendarUnits<2>;
using weeks = calendarUnits<3>;
using days = calendarUnits<4>;

// A number as text of at least width characters, zero-padded ("7", 2 -> "07"; -5, 3 -> "-05").
ZTUTILS_API string dtconvert(int value, int width);

class ZTUTILS_API date {
public:
    static constexpr int minYear = 1;
    static constexpr int maxYear = 9999;

    // 1970-01-01.
    constexpr date() noexcept = default;
    // Throws dateTimeException when the fields name no day of the supported range.
    date(int year, int month, int day);
    explicit date(std::chrono::year_month_day ymd);
    explicit date(std::chrono::sys_days d);

    static bool isValid(int year, int month, int day) noexcept;
    static bool isLeapYear(int year) noexcept;
    // Days of the month (28 to 31); 0 for a month outside 1 to 12.
    static int daysInMonth(int year, int month) noexcept;

    // The current local date.
    static date today();
    // 1 January of the current local year.
    static date thisYear();
    // The initial date of a record that has none of its own: 1900-01-01.
    static date tarvineIniDate() noexcept;

    int year() const noexcept;
    int month() const noexcept;      // 1 to 12
    int dayOfMonth() const noexcept; // 1 to 31
    int dayOfYear() const noexcept;  // 1 to 366
    // ISO 8601 week (1 to 53): weeks start on Monday, week 1 holds the year's first Thursday.
    int weekOfYear() const noexcept;
    // The year to which weekOfYear() belongs (differs from year() around the new year).
    int weekYear() const noexcept;
    // 0 = Monday ... 6 = Sunday.
    int dayOfWeek() const noexcept;

    std::chrono::year_month_day ymd() const noexcept;
    std::chrono::sys_days sysDays() const noexcept { return std::chrono::sys_days(std::chrono::days(mDays)); }
    // Days since 1970-01-01 (negative before).
    std::int32_t dayNumber() const noexcept { return mDays; }

    // "YYYY-MM-DD".
    string toString() const;
    // Parses "YYYY-MM-DD" (month and day may have one digit); false for anything else and for
    // days that do not exist. out is changed only on success.
    static bool fromString(const string& text, date& out);

    date& operator+=(days n);
    date& operator-=(days n) { return *this += -n; }
    date& operator+=(weeks n);
    date& operator-=(weeks n) { return *this += -n; }
    date& operator+=(months n);
    date& operator-=(months n) { return *this += -n; }
    date& operator+=(years n);
    date& operator-=(years n) { return *this += -n; }

    template <int U>
    friend date operator+(date d, calendarUnits<U> n) {
        return d += n;
    }
    template <int U>
    friend date operator+(calendarUnits<U> n, date d) {
        return d += n;
    }
    template <int U>
    friend date operator-(date d, calendarUnits<U> n) {
        return d -= n;
    }
    // Whole days from b to a.
    friend days operator-(const date& a, const date& b) noexcept { return days(a.mDays - b.mDays); }

    friend constexpr bool operator==(const date& a, const date& b) noexcept { return a.mDays == b.mDays; }
    friend constexpr bool operator!=(const date& a, const date& b) noexcept { return a.mDays != b.mDays; }
    friend constexpr bool operator<(const date& a, const date& b) noexcept { return a.mDays < b.mDays; }
    friend constexpr bool operator<=(const date& a, const date& b) noexcept { return a.mDays <= b.mDays; }
    friend constexpr bool operator>(const date& a, const date& b) noexcept { return a.mDays > b.mDays; }
    friend constexpr bool operator>=(const date& a, const date& b) noexcept { return a.mDays >= b.mDays; }

private:
    std::int32_t mDays = 0;
};

class ZTUTILS_API time {
public:
    static constexpr std::int32_t msPerDay = 86'400'000;

    // 00:00:00.000.
    constexpr time() noexcept = default;
    // Throws dateTimeException for fields outside 0-23, 0-59, 0-59, 0-999.
    time(int hour, int minute, int second, int millisecond = 0);

    static bool isValid(int hour, int minute, int second, int millisecond = 0) noexcept;
    // From milliseconds since midnight; throws dateTimeException outside 0 to msPerDay - 1.
    static time fromMsecOfDay(std::int32_t ms);

    // The current local time of day.
    static time now();
    // 00:00:00.000, the first instant of a day.
    static time daystart() noexcept;
    // 12:00:00.000.
    static time lunchtime() noexcept;
    // 23:59:59.999, the last instant of a day (so that t <= midnight() holds for every t).
    static time midnight() noexcept;

    int hour() const noexcept { return mMs / 3'600'000; }
    int minute() const noexcept { return mMs / 60'000 % 60; }
    int second() const noexcept { return mMs / 1000 % 60; }
    int millisecond() const noexcept { return mMs % 1000; }
    int minuteOfDay() const noexcept { return mMs / 60'000; }
    int secondOfDay() const noexcept { return mMs / 1000; }
    std::int32_t msecOfDay() const noexcept { return mMs; }

    // "HH:MM:SS", plus ".mmm" when the milliseconds are not zero.
    string toString() const;
    // Parses "H:MM", "H:MM:SS" or "H:MM:SS.f" (one to three fraction digits, ".5" = 500 ms);
    // hours may have one or two digits. false for anything else. out changes only on success.
    static bool fromString(const string& text, time& out);

    // The duration from b to a (negative when a is earlier).
    friend std::chrono::milliseconds operator-(const time& a, const time& b) noexcept {
        return std::chrono::milliseconds(a.mMs - b.mMs);
    }

    friend constexpr bool operator==(const time& a, const time& b) noexcept { return a.mMs == b.mMs; }
    friend constexpr bool operator!=(const time& a, const time& b) noexcept { return a.mMs != b.mMs; }
    friend constexpr bool operator<(const time& a, const time& b) noexcept { return a.mMs < b.mMs; }
    friend constexpr bool operator<=(const time& a, const time& b) noexcept { return a.mMs <= b.mMs; }
    friend constexpr bool operator>(const time& a, const time& b) noexcept { return a.mMs > b.mMs; }
    friend constexpr bool operator>=(const time& a, const time& b) noexcept { return a.mMs >= b.mMs; }

private:
    std::int32_t mMs = 0;
};

class ZTUTILS_API timestamp {
public:
    // 1970-01-01 00:00:00.000.
    constexpr timestamp() noexcept = default;
    explicit timestamp(const zt::date& d, const zt::time& t = zt::time()) noexcept;

    // From a file-system or clock "timer": milliseconds of local wall-clock time since the
    // epoch, taken as they are.
    static timestamp fromTimer(std::int64_t milliseconds) noexcept {
        timestamp t;
        t.mMs = milliseconds;
        return t;
    }
    std::int64_t timer() const noexcept { return mMs; }

    // The current local date and time.
    static timestamp now();

    zt::date datePart() const;
    zt::time timePart() const noexcept;

    // "YYYY-MM-DD HH:MM:SS", plus ".mmm" when the milliseconds are not zero.
    string toString() const;
    // Parses a date text, a blank or "T", and a time text (see date and time); a date text
    // alone is the timestamp at 00:00:00. out changes only on success.
    static bool fromString(const string& text, timestamp& out);

    // Calendar arithmetic on the date part; the time of day is kept.
    template <int U>
    timestamp& operator+=(calendarUnits<U> n) {
        *this = timestamp(datePart() + n, timePart());
        return *this;
    }
    template <int U>
    timestamp& operator-=(calendarUnits<U> n) {
        return *this += -n;
    }
    template <int U>
    friend timestamp operator+(timestamp t, calendarUnits<U> n) {
        return t += n;
    }
    template <int U>
    friend timestamp operator-(timestamp t, calendarUnits<U> n) {
        return t -= n;
    }
    // Exact amounts of time.
    friend timestamp operator+(timestamp t, std::chrono::milliseconds d) noexcept {
        return fromTimer(t.mMs + d.count());
    }
    friend timestamp operator-(timestamp t, std::chrono::milliseconds d) noexcept {
        return fromTimer(t.mMs - d.count());
    }
    // The duration from b to a.
    friend std::chrono::milliseconds operator-(const timestamp& a, const timestamp& b) noexcept {
        return std::chrono::milliseconds(a.mMs - b.mMs);
    }

    friend constexpr bool operator==(const timestamp& a, const timestamp& b) noexcept { return a.mMs == b.mMs; }
    friend constexpr bool operator!=(const timestamp& a, const timestamp& b) noexcept { return a.mMs != b.mMs; }
    friend constexpr bool operator<(const timestamp& a, const timestamp& b) noexcept { return a.mMs < b.mMs; }
    friend constexpr bool operator<=(const timestamp& a, const timestamp& b) noexcept { return a.mMs <= b.mMs; }
    friend constexpr bool operator>(const timestamp& a, const timestamp& b) noexcept { return a.mMs > b.mMs; }
    friend constexpr bool operator>=(const timestamp& a, const timestamp& b) noexcept { return a.mMs >= b.mMs; }

private:
    std::int64_t mMs = 0;
};

} // namespace zt
