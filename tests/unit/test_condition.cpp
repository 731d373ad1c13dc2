// The condition language from C++: nesting limits and values of every type.
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

// What scripts see of the language is stated by tests/scripts/math/condition.ztscr; these are
// values of types and forms that a script file does not hand over.
TEST(ConditionEval, ValuesOfEveryType) {
    EXPECT_TRUE(meets(u">= 5", short(5)));
    EXPECT_FALSE(meets(u"> 5", 5u));
    EXPECT_TRUE(meets(u"< 0", -0.5f));
    EXPECT_TRUE(meets(u"= 1", true));
    EXPECT_TRUE(meets(u"= 4294967295", zt::ulong(4294967295u)));
    EXPECT_TRUE(meets(u"= 1000", 1e3));
    EXPECT_TRUE(meets(u"= -0.25", -0.25));
    EXPECT_TRUE(meetsText(u"= \"\u00c4BC\"", u"\u00e4bc"));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const char16_t* text : {u"= 5", u"< 5", u"<= 5", u"> 5", u">= 5", u"0..9", u"in (5)"})
        EXPECT_FALSE(meets(text, nan)) << zt::string(text).toUtf8();
    EXPECT_TRUE(meets(u"<> 5", nan));
    // A date has no numeric form.
    EXPECT_FALSE(meets(u"> 0", zt::date()));
}

} // namespace
