// The string statements as a host sees them: delivery into results and arguments that refer to
// the host's values, texts beyond the Basic Multilingual Plane, and copies of statements.
#include "testlib.h"

#include <gtest/gtest.h>

#include <string>

using namespace zt::script;

namespace {

class StringStatements : public ::testing::Test {
protected:
    StringStatements() : mBlock(&mContext) {}

    void runInto(const zt::string& text, genericValue& result) { testlib::runInto(text, mBlock, result); }
    genericValue run(const zt::string& text) { return testlib::run(text, mBlock); }
    static zt::string textOf(const genericValue& v) {
        const zt::string* s = v.constPtrTo<zt::string>();
        EXPECT_NE(s, nullptr);
        return s ? *s : zt::string();
    }
    void setVariable(const char16_t* name, const genericValue& value) {
        mBlock.createVariable(scString(zt::string(name)), value);
    }

    scriptcontext mContext;
    codecontext mBlock;
};

// strlen and strcat assign: a result referring to a host's int is written through and keeps
// referring to it.
TEST_F(StringStatements, AssignWritesThroughReference) {
    int target = -1;
    genericValue result(new genericValue::ptrholder<int>(&target));
    runInto(u"strlen(\"abcd\")", result);
    EXPECT_EQ(target, 4);
    runInto(u"strcat(\"1\", \"2\")", result);
    EXPECT_EQ(target, 12);
    ASSERT_NE(result.getHolder(), nullptr);
    EXPECT_TRUE(result.getHolder()->isReference());
}

// The other statements replace: the referred value is left alone and the result owns the text.
TEST_F(StringStatements, ReplaceDropsReference) {
    zt::string target = u"keep";
    const char16_t* statements[] = {u"strlower(\"ABC\")", u"strupper(\"abc\")", u"strreplace(\"a\", \"a\", \"b\")",
                                    u"strdelspaces(\" a \", \"all\")", u"substr(\"abc\", \"0\", \"1\")"};
    for (const char16_t* text : statements) {
        genericValue result(new genericValue::ptrholder<zt::string>(&target));
        runInto(text, result);
        EXPECT_EQ(target, u"keep") << zt::string(text).toUtf8();
        ASSERT_NE(result.getHolder(), nullptr);
        EXPECT_FALSE(result.getHolder()->isReference()) << zt::string(text).toUtf8();
    }
}

// A parameter that refers to the host's text is read, never taken over or changed.
TEST_F(StringStatements, ReferredArgumentsStayIntact) {
    zt::string hostText = u"Host Text";
    mContext.setParameter(scString(zt::string(u"p")), genericValue(new genericValue::ptrholder<zt::string>(&hostText)));
    EXPECT_EQ(textOf(run(u"strupper(getparameter(p))")), u"HOST TEXT");
    EXPECT_EQ(textOf(run(u"substr(getparameter(p), \"5\")")), u"Text");
    EXPECT_EQ(textOf(run(u"strcat(getparameter(p), getparameter(p))")), u"Host TextHost Text");
    EXPECT_EQ(hostText, u"Host Text");
}

// Lengths and indices count UTF-16 code units; case mapping keeps every length.
TEST_F(StringStatements, TextsBeyondTheBasicPlane) {
    EXPECT_EQ(*run(u"strlen(\"a\U0001F600\")").constPtrTo<zt::uint64>(), 3u);
    EXPECT_EQ(static_cast<std::int32_t>(*run(u"strfind(\"\U0001F600x\", \"x\")").constPtrTo<zt::slong>()), 2);
    EXPECT_EQ(textOf(run(u"substr(\"a\U0001F600b\", \"1\", \"2\")")), u"\U0001F600");
    // Deseret letters: the case pair lies outside the BMP (two code units each).
    EXPECT_EQ(textOf(run(u"strupper(\"\U00010428x\")")), u"\U00010400X");
    EXPECT_EQ(textOf(run(u"strlower(\"\U00010400X\")")), u"\U00010428x");
    // Capital I with dot above lower-cases to a plain i (the full mapping would add a combining dot).
    EXPECT_EQ(textOf(run(u"strlower(\"\u0130\")")), u"i");
    // Final sigma upper-cases to the plain capital sigma; the ligature ff, whose capital is two
    // letters, stays as it is.
    EXPECT_EQ(textOf(run(u"strupper(\"\u03C2\uFB00\")")), u"\u03A3\uFB00");
}

} // namespace
