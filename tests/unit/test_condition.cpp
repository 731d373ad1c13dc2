// The condition language: parsing and evaluation against values of several types.
#include <ztcondition.h>
#include <ztdatetime.h>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

namespace {

using zt::genericValue;
using zt::conditions::condition;

std::unique_ptr<condition> parsed(const char16_t* text) { return std::unique_ptr<condition>(condition::parse(text)); }

// Parses text (failing the test when it does not parse) and tests value.
template <class T>
bool meets(const char16_t* text, const T& value) {
    auto c = parsed(text);
    EXPECT_TRUE(c) << zt::string(text).toUtf8();
    return c && c->isTrue(genericValue::of(value));
}
bool meetsText(const char16_t* text, const char16_t* value) { return meets(text, zt::string(value)); }

TEST(ConditionParse, Rejects) {
    const char16_t* bad[] = {u"", u"   ", u">", u"5", u"abc", u"= abc", u"> 5 >", u"1..", u"..5", u"10..1",
                             u"1..'z'", u"in ()", u"in (1, 2", u"in (1 2)", u"in 1", u"like 5", u"like",
                             u"= 'open", u"(= 1", u"= 1)", u"()", u"= 1 and", u"or = 1", u"not", u"= 5x",
                             u"=> 5", u"! 5", u"= 1 = 2", u"empty empty", u"= 1e", u"= --1", u"= 1 ; = 2"};
    for (const char16_t* text : bad) EXPECT_FALSE(parsed(text)) << zt::string(text).toUtf8();
}

TEST(ConditionParse, Accepts) {
    const char16_t* good[] = {u"= 1", u"<>1", u"!=1", u"<=-1", u">= .5", u"< -.5", u"= 1e3", u"= 2.5E-1",
                              u"= \"x\"", u"= 'x'", u"= ''", u"1..1", u"-5..-1", u"1.5..2.5", u"'a'..'b'",
                              u"in (1)", u"in ('a', 2, \"c\")", u"EMPTY", u"Not Empty", u"like '*'",
                              u"((= 1))", u"not not = 1", u"= 1 OR = 2 AnD = 3", u"\t= 1\r\n"};
    for (const char16_t* text : good) EXPECT_TRUE(parsed(text)) << zt::string(text).toUtf8();
}

TEST(ConditionParse, DeepNestingIsRejectedNotCrashed) {
    zt::string deep;
    for (int i = 0; i < 5000; ++i) deep += u"(";
    deep += u"= 1";
    for (int i = 0; i < 5000; ++i) deep += u")";
    EXPECT_FALSE(condition::parse(deep));
    zt::string nots;
    for (int i = 0; i < 5000; ++i) nots += u"not ";
    EXPECT_FALSE(condition::parse(nots + u"empty"));
    zt::string shallow = u"((((= 1))))";
    EXPECT_TRUE(parsed(shallow.c_str()));
}

TEST(ConditionEval, NumbersCompareAsNumbers) {
    EXPECT_TRUE(meets(u"> 5", 10));
    EXPECT_TRUE(meetsText(u"> 5", u"10"));
    EXPECT_FALSE(meetsText(u"> '5'", u"10"));
    EXPECT_TRUE(meets(u"= 3", 3.0));
    EXPECT_TRUE(meetsText(u"= 3", u" 3 "));
    EXPECT_TRUE(meets(u">= 5", short(5)));
    EXPECT_FALSE(meets(u"> 5", 5u));
    EXPECT_TRUE(meets(u"< 0", -0.5f));
    EXPECT_TRUE(meets(u"= 1", true));
    EXPECT_TRUE(meets(u"= 4294967295", zt::ulong(4294967295u)));
    EXPECT_TRUE(meets(u"= 1000", 1e3));
    EXPECT_TRUE(meets(u"= -0.25", -0.25));
}

TEST(ConditionEval, TextsIgnoreCase) {
    EXPECT_TRUE(meetsText(u"= 'abc'", u"ABC"));
    EXPECT_TRUE(meetsText(u"= \"ÄBC\"", u"äbc"));
    EXPECT_TRUE(meetsText(u"< 'b'", u"Apple"));
    EXPECT_FALSE(meetsText(u"< 'B'", u"banana"));
    EXPECT_TRUE(meets(u"= '7'", 7));
    EXPECT_TRUE(meetsText(u"= 'it\\'s'", u"it's"));
    EXPECT_TRUE(meetsText(u"= \"a\\\\b\"", u"a\\b"));
}

TEST(ConditionEval, UnreadableValuesMeetOnlyNotEqual) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const char16_t* text : {u"= 5", u"< 5", u"<= 5", u"> 5", u">= 5", u"0..9", u"in (5)"}) {
        EXPECT_FALSE(meetsText(text, u"abc")) << zt::string(text).toUtf8();
        EXPECT_FALSE(meets(text, nan)) << zt::string(text).toUtf8();
        EXPECT_FALSE(parsed(text)->isTrue(genericValue())) << zt::string(text).toUtf8();
    }
    EXPECT_TRUE(meetsText(u"<> 5", u"abc"));
    EXPECT_TRUE(meets(u"<> 5", nan));
    EXPECT_TRUE(parsed(u"<> 5")->isTrue(genericValue()));
    EXPECT_FALSE(parsed(u"like '*'")->isTrue(genericValue()));
    // A date has no numeric form.
    EXPECT_FALSE(meets(u"> 0", zt::date()));
}

TEST(ConditionEval, RangesIncludeBothEnds) {
    EXPECT_TRUE(meets(u"1..10", 1));
    EXPECT_TRUE(meets(u"1..10", 10));
    EXPECT_FALSE(meets(u"1..10", 10.000001));
    EXPECT_FALSE(meets(u"1..10", 0.999999));
    EXPECT_TRUE(meets(u"-5..-1", -3));
    EXPECT_TRUE(meets(u"2..2", 2));
    EXPECT_TRUE(meetsText(u"'a'..'m'", u"M"));
    EXPECT_FALSE(meetsText(u"'a'..'m'", u"mango"));
}

TEST(ConditionEval, Lists) {
    EXPECT_TRUE(meets(u"in (1, 2, 3)", 2));
    EXPECT_FALSE(meets(u"in (1, 2, 3)", 4));
    EXPECT_TRUE(meetsText(u"in ('a', 'b')", u"B"));
    EXPECT_TRUE(meetsText(u"in (1, 'x')", u"X"));
    EXPECT_TRUE(meetsText(u"in (1, 'x')", u"1.0"));
}

TEST(ConditionEval, Patterns) {
    EXPECT_TRUE(meetsText(u"like 'A*'", u"apple"));
    EXPECT_FALSE(meetsText(u"like 'A*'", u"banana"));
    EXPECT_TRUE(meetsText(u"like 'a?c'", u"abc"));
    EXPECT_FALSE(meetsText(u"like 'a?c'", u"ac"));
    EXPECT_FALSE(meetsText(u"like 'a?c'", u"abbc"));
    EXPECT_TRUE(meetsText(u"like '*b*'", u"abc"));
    EXPECT_TRUE(meetsText(u"like '*'", u""));
    EXPECT_FALSE(meetsText(u"like '?'", u""));
    EXPECT_TRUE(meetsText(u"like 'a*b*c'", u"axxbyybzc"));
    EXPECT_FALSE(meetsText(u"like 'a*b*c'", u"axxcyyb"));
    EXPECT_TRUE(meetsText(u"like '**a'", u"bbba"));
    EXPECT_TRUE(meetsText(u"like 'abc'", u"ABC"));
    EXPECT_FALSE(meetsText(u"like 'abc'", u"abcd"));
    EXPECT_TRUE(meets(u"like '4?'", 42));
}

TEST(ConditionEval, Empty) {
    EXPECT_TRUE(parsed(u"empty")->isTrue(genericValue()));
    EXPECT_TRUE(meetsText(u"empty", u""));
    EXPECT_FALSE(meetsText(u"empty", u" "));
    EXPECT_FALSE(meets(u"empty", 0));
    EXPECT_TRUE(meetsText(u"not empty", u"x"));
    EXPECT_FALSE(parsed(u"not empty")->isTrue(genericValue()));
}

TEST(ConditionEval, PrecedenceAndGrouping) {
    EXPECT_TRUE(meets(u"= 1 or = 2 and = 3", 1));
    EXPECT_FALSE(meets(u"(= 1 or = 2) and = 3", 1));
    EXPECT_FALSE(meets(u"not = 1 and = 2", 3));
    EXPECT_TRUE(meets(u"not (= 1 and = 2)", 3));
    EXPECT_TRUE(meets(u"not not = 1", 1));
    EXPECT_TRUE(meets(u"= 1 or = 2 or = 3", 3));
    EXPECT_FALSE(meets(u"> 1 and < 5 and <> 3", 3));
    EXPECT_TRUE(meets(u"> 1 and < 5 and <> 3", 4));
    EXPECT_TRUE(meets(u"(< 0 or > 100) and <> -1", -5));
    EXPECT_FALSE(meets(u"(< 0 or > 100) and <> -1", -1));
}

} // namespace
