// Dates, times and timestamps of the utility library, and the date and time statements.
#include "testlib.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>

// Inside namespace zt, "time" names zt::time rather than the C library's function.
namespace zt {

inline void PrintTo(const date& d, std::ostream* os) { *os << d.toString().toUtf8(); }
inline void PrintTo(const time& t, std::ostream* os) { *os << t.toString().toUtf8(); }
inline void PrintTo(const timestamp& t, std::ostream* os) { *os << t.toString().toUtf8(); }

namespace {

using namespace zt::script;

// ---------------------------------------------------------------------------------------------
// date: fields, validity, range (days of the week and of the year, ISO weeks and the clamping of
// months and years as scripts see them: tests/scripts/date/date.ztscr)

TEST(Date, FieldsAndValidity) {
    date d(2024, 2, 29);
    EXPECT_EQ(d.year(), 2024);
    EXPECT_EQ(d.month(), 2);
    EXPECT_EQ(d.dayOfMonth(), 29);
    EXPECT_EQ(date().toString(), u"1970-01-01");
    // The valid dates as scripts see them: tests/scripts/date/date.ztscr.
    EXPECT_FALSE(date::isValid(1900, 2, 29));

    EXPECT_EQ(date::daysInMonth(2024, 2), 29);
    EXPECT_EQ(date::daysInMonth(2100, 2), 28);
    EXPECT_EQ(date::daysInMonth(2023, 11), 30);
    EXPECT_EQ(date::daysInMonth(2023, 12), 31);
    EXPECT_EQ(date::daysInMonth(2023, 13), 0);

    EXPECT_THROW(date(2023, 2, 29), zt::dateTimeException);
    EXPECT_THROW(date(0, 1, 1), zt::dateTimeException);
}

TEST(Date, IsoWeeksAreConsistentDayByDay) {
    // Weeks change only on Mondays, count up by one within a week-year, and week 1 holds 4 January.
    date d(1999, 1, 1);
    int prevWeek = d.weekOfYear(), prevYear = d.weekYear();
    for (d += zt::days(1); d < date(2032, 1, 1); d += zt::days(1)) {
        const int week = d.weekOfYear(), wy = d.weekYear();
        if (d.dayOfWeek() != 0) {
            ASSERT_EQ(week, prevWeek) << d.toString().toUtf8();
            ASSERT_EQ(wy, prevYear) << d.toString().toUtf8();
        } else if (wy == prevYear) {
            ASSERT_EQ(week, prevWeek + 1) << d.toString().toUtf8();
        } else {
            ASSERT_EQ(wy, prevYear + 1) << d.toString().toUtf8();
            ASSERT_EQ(week, 1) << d.toString().toUtf8();
            ASSERT_TRUE(prevWeek == 52 || prevWeek == 53) << d.toString().toUtf8();
        }
        if (d.month() == 1 && d.dayOfMonth() == 4) {
            ASSERT_EQ(week, 1) << d.toString().toUtf8();
        }
        prevWeek = week;
        prevYear = wy;
    }
}

// ---------------------------------------------------------------------------------------------
// date arithmetic

TEST(DateArithmetic, DifferencesAndCompoundSteps) {
    EXPECT_EQ((date(2024, 3, 1) - date(2024, 2, 1)).count(), 29);
    EXPECT_EQ((date(2025, 1, 1) - date(2024, 1, 1)).count(), 366);
    EXPECT_EQ((date(2023, 1, 1) - date(2024, 1, 1)).count(), -365);
    EXPECT_EQ((date(1970, 1, 1) - date(1, 1, 1)).count(), 719162);

    date d(2024, 1, 31);
    d += zt::months(1);
    d -= zt::days(28);
    EXPECT_EQ(d, date(2024, 2, 1));
}

// A step beyond the calendar throws and leaves the date as it was (the limits as scripts see
// them: tests/scripts/date/date.ztscr).
TEST(DateArithmetic, LeavingTheRangeThrowsAndKeepsTheDate) {
    date last(9999, 12, 31), first(1, 1, 1);
    EXPECT_THROW(last += zt::days(1), zt::dateTimeException);
    EXPECT_EQ(last, date(9999, 12, 31));
    EXPECT_THROW(first += zt::years(INT_MAX), zt::dateTimeException);
    EXPECT_EQ(first, date(1, 1, 1));
}

// a < b by every operator. Scripts compare by < and == alone (their order is stated by
// tests/scripts/date/date.ztscr); hosts use the others as well.
template <class T>
void expectOrdered(const T& a, const T& b) {
    EXPECT_TRUE(a < b && a <= b && a != b && b > a && b >= a) << a.toString().toUtf8();
    EXPECT_FALSE(b < a || b <= a || a == b || a > b || a >= b) << a.toString().toUtf8();
    const T same = b;
    EXPECT_TRUE(b == same && b <= same && b >= same && !(b != same) && !(b < same) && !(b > same));
}

TEST(DateArithmetic, Comparisons) {
    expectOrdered(date(2024, 2, 28), date(2024, 2, 29));
    expectOrdered(time(8, 0, 0), time(8, 0, 0, 1));
    expectOrdered(timestamp(date(2024, 2, 28), time(23, 59, 59, 999)), timestamp(date(2024, 2, 29)));
    expectOrdered(timestamp::fromTimer(-5), timestamp::fromTimer(5));
    EXPECT_EQ((time(8, 0, 0, 1) - time(8, 0, 0)).count(), 1);
    EXPECT_EQ((timestamp(date(2024, 2, 29)) - timestamp(date(2024, 2, 28), time(23, 59, 59, 999))).count(), 1);
}

// ---------------------------------------------------------------------------------------------
// time and timestamp

TEST(Time, MillisecondsAndRange) {
    // The fields as scripts see them: tests/scripts/date/time.ztscr.
    const time t(13, 45, 30, 250);
    EXPECT_EQ(t.millisecond(), 250);
    EXPECT_EQ(t.msecOfDay(), ((13 * 60 + 45) * 60 + 30) * 1000 + 250);
    EXPECT_EQ(time::fromMsecOfDay(t.msecOfDay()), t);

    EXPECT_THROW(time(24, 0, 0), zt::dateTimeException);
    EXPECT_THROW(time(0, 60, 0), zt::dateTimeException);
    EXPECT_THROW(time(0, 0, 60), zt::dateTimeException);
    EXPECT_THROW(time(0, 0, 0, 1000), zt::dateTimeException);
    EXPECT_THROW(time::fromMsecOfDay(time::msPerDay), zt::dateTimeException);
    EXPECT_THROW(time::fromMsecOfDay(-1), zt::dateTimeException);
}

TEST(Timestamp, PartsAroundTheEpoch) {
    const timestamp before(date(1969, 12, 31), time(23, 59, 59, 999));
    EXPECT_EQ(before.timer(), -1);
    EXPECT_EQ(before.datePart(), date(1969, 12, 31));
    EXPECT_EQ(before.timePart(), time(23, 59, 59, 999));
    EXPECT_EQ(before.toString(), u"1969-12-31 23:59:59.999");

    const timestamp t = timestamp::fromTimer(1709164800000 + 3723004); // 2024-02-29 01:02:03.004
    EXPECT_EQ(t.datePart(), date(2024, 2, 29));
    EXPECT_EQ(t.timePart(), time(1, 2, 3, 4));
    EXPECT_EQ(timestamp(t.datePart(), t.timePart()), t);
    EXPECT_EQ(timestamp(date(1, 1, 1)).datePart(), date(1, 1, 1));

    // Calendar units move the date and keep the time of day.
    EXPECT_EQ(t + zt::years(1), timestamp(date(2025, 2, 28), time(1, 2, 3, 4)));
    EXPECT_EQ(t - zt::months(1), timestamp(date(2024, 1, 29), time(1, 2, 3, 4)));
    EXPECT_EQ(t + std::chrono::hours(23), timestamp(date(2024, 3, 1), time(0, 2, 3, 4)));
}

TEST(Clock, TodayAndNowFollowTheLocalClock) {
    // Compare with the C library's local calendar; repeat if the day changed meanwhile.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t t0 = std::time(nullptr);
        const date today = date::today();
        const timestamp now = timestamp::now();
        const std::time_t t1 = std::time(nullptr);
        std::tm a{}, b{};
#if defined(_WIN32)
        localtime_s(&a, &t0);
        localtime_s(&b, &t1);
#else
        localtime_r(&t0, &a);
        localtime_r(&t1, &b);
#endif
        if (a.tm_yday != b.tm_yday) continue;
        EXPECT_EQ(today, date(a.tm_year + 1900, a.tm_mon + 1, a.tm_mday));
        EXPECT_EQ(now.datePart(), today);
        EXPECT_EQ(date::thisYear(), date(a.tm_year + 1900, 1, 1));
        const int nowSeconds = now.timePart().secondOfDay();
        EXPECT_GE(nowSeconds, (a.tm_hour * 60 + a.tm_min) * 60 + a.tm_sec);
        EXPECT_LE(nowSeconds, (b.tm_hour * 60 + b.tm_min) * 60 + b.tm_sec);
        return;
    }
    FAIL() << "the day kept changing";
}

// ---------------------------------------------------------------------------------------------
// Text forms (the texts that are no date, time or timestamp: tests/scripts/date/date.ztscr)

TEST(TextForms, TimesShowMillisecondsOnlyWhenSet) {
    EXPECT_EQ(time(8, 5, 3).toString(), u"08:05:03");
    EXPECT_EQ(time(8, 5, 3, 120).toString(), u"08:05:03.120");
    EXPECT_EQ(time(23, 59, 59, 1).toString(), u"23:59:59.001");

    // (What texts read as: tests/scripts/date/date.ztscr.) A text that is none leaves the value
    // as it was, for every type.
    time t = time::midnight();
    EXPECT_FALSE(time::fromString(u"24:00:00", t));
    EXPECT_EQ(t, time::midnight());
    date d(2000, 1, 1);
    EXPECT_FALSE(date::fromString(u"2023-02-29", d));
    EXPECT_EQ(d, date(2000, 1, 1));
    timestamp ts = timestamp::fromTimer(12345);
    EXPECT_FALSE(timestamp::fromString(u"2024-02-30 00:00:00", ts));
    EXPECT_EQ(ts, timestamp::fromTimer(12345));
}

TEST(TextForms, Timestamps) {
    const timestamp t(date(2024, 2, 29), time(23, 59, 59, 999));
    EXPECT_EQ(t.toString(), u"2024-02-29 23:59:59.999");
    EXPECT_EQ(timestamp(date(2024, 2, 29), time(8, 0, 0)).toString(), u"2024-02-29 08:00:00");

    timestamp back;
    ASSERT_TRUE(timestamp::fromString(t.toString(), back));
    EXPECT_EQ(back, t);
}

TEST(TextForms, Dtconvert) {
    EXPECT_EQ(zt::dtconvert(7, 2), u"07");
    EXPECT_EQ(zt::dtconvert(42, 4), u"0042");
    EXPECT_EQ(zt::dtconvert(2024, 4), u"2024");
    EXPECT_EQ(zt::dtconvert(123, 2), u"123");
    EXPECT_EQ(zt::dtconvert(0, 2), u"00");
    EXPECT_EQ(zt::dtconvert(-5, 3), u"-05");
    EXPECT_EQ(zt::dtconvert(INT_MIN, 1), u"-2147483648");
}

TEST(TextForms, ConversionManagerKnowsTheDateTypes) {
    zt::genericValue text = zt::genericValue::of(zt::string(u"2024-02-29 08:30:00"));
    timestamp ts;
    ASSERT_TRUE(text.get(ts));
    EXPECT_EQ(ts, timestamp(date(2024, 2, 29), time(8, 30, 0)));
    date d;
    EXPECT_FALSE(text.get(d)); // a timestamp text is not a date text
    time t;
    EXPECT_FALSE(text.get(t));

    // Writing a date into a value that holds text keeps the text type.
    zt::genericValue v = zt::genericValue::of(zt::string(u"x"));
    ASSERT_TRUE(v.set(date(2024, 2, 5)));
    ASSERT_TRUE(v.is<zt::string>());
    EXPECT_EQ(*v.constPtrTo<zt::string>(), u"2024-02-05");
    ASSERT_TRUE(v.set(time(7, 0, 0, 5)));
    EXPECT_EQ(*v.constPtrTo<zt::string>(), u"07:00:00.005");

    // Between the three types.
    zt::genericValue stamp = zt::genericValue::of(timestamp(date(2024, 2, 29), time(8, 30, 0)));
    ASSERT_TRUE(stamp.get(d));
    EXPECT_EQ(d, date(2024, 2, 29));
    ASSERT_TRUE(stamp.get(t));
    EXPECT_EQ(t, time(8, 30, 0));
    zt::genericValue day = zt::genericValue::of(date(2024, 2, 29));
    ASSERT_TRUE(day.get(ts));
    EXPECT_EQ(ts, timestamp(date(2024, 2, 29)));
    EXPECT_FALSE(day.get(t));

    zt::genericValue bad = zt::genericValue::of(zt::string(u"2024-02-30"));
    EXPECT_FALSE(bad.get(d));
    int n = 0;
    EXPECT_FALSE(day.get(n));
}

// ---------------------------------------------------------------------------------------------
// Statements with host values (what scripts see is stated by tests/scripts/date)

class DateStatements : public ::testing::Test {
protected:
    genericValue run(const zt::string& text) { return testlib::run(text, context); }
    // The type name and text of the result, as "int: 5".
    std::string shown(const zt::string& text) { return testlib::shown(run(text)); }
    scriptcontext context;
};

TEST_F(DateStatements, DateArgumentsConvertFromOtherTypes) {
    context.createVariable(scString(u"stamp"), genericValue::of(timestamp(date(2024, 2, 29), time(23, 7, 0))));
    context.createVariable(scString(u"day"), genericValue::of(date(2023, 7, 9)));
    EXPECT_EQ(shown(u"date_dayofmonth(stamp)"), "int: 29");
    EXPECT_EQ(shown(u"date_month(day)"), "int: 7");
    EXPECT_EQ(shown(u"date_aslocalestring(stamp)"), "string: 29.02.2024");
    EXPECT_EQ(shown(u"time_minute(stamp)"), "int: 7");
    EXPECT_EQ(shown(u"add<date,months>(stamp, \"13\")"), "date: 2025-03-29");
}

TEST_F(DateStatements, StaticDatesKeepATypedResult) {
    EXPECT_EQ(shown(u"today()"), "date: " + date::today().toString().toUtf8());
    EXPECT_EQ(*run(u"tarvineinidate()").constPtrTo<date>(), date(1900, 1, 1));

    genericValue text = genericValue::of(zt::string(u"old"));
    testlib::runInto(u"tarvineIniDate()", context, text);
    EXPECT_EQ(testlib::shown(text), "string: 1900-01-01");

    genericValue number = genericValue::of(5);
    EXPECT_THROW(testlib::runInto(u"tarvineIniDate()", context, number), scriptExecException);
    EXPECT_EQ(*number.constPtrTo<int>(), 5);
}

TEST_F(DateStatements, ScriptTypeNames) {
    EXPECT_EQ(testlib::shown(genericValue::of(date(2024, 2, 29))), "date: 2024-02-29");
    EXPECT_EQ(testlib::shown(genericValue::of(time(8, 0, 0))), "time: 08:00:00");
    EXPECT_EQ(testlib::shown(genericValue::of(timestamp(date(2024, 2, 29)))), "timestamp: 2024-02-29 00:00:00");
}

} // namespace

} // namespace zt
