// Source positions: where in its script file a failing statement stands.
#include "testlib.h"

#include <gtest/gtest.h>

using namespace zt::script;

namespace {

class Positions : public ::testing::Test {
protected:
    // Runs file$function and returns the failure's innermost position as "line:column" ("" when
    // the call succeeds or no position is known).
    std::string failureAt(const std::string& file, const char16_t* function) {
        scriptcontext context;
        try {
            testlib::callFunction(dir.path, file, zt::string(function).toUtf8(), context);
        } catch (const zt::exception& e) {
            const sourcePosition* where = innermostPosition(e);
            if (!where) return "unknown";
            EXPECT_EQ(where->file, zt::string::fromUtf8(dir.path + file + ".ztscr"));
            return std::to_string(where->line) + ":" + std::to_string(where->column);
        } catch (bool) {
            const sourcePosition where = lastParseFailurePosition();
            return "false@" + std::to_string(where.line) + ":" + std::to_string(where.column);
        }
        return "";
    }
    testlib::tempDir dir;
};

TEST_F(Positions, RunErrorsPointAtTheFailingStatement) {
    dir.write("p1.ztscr", "// header comment\r\n"
                          "scrdef f()\r\n"
                          "{\r\n"
                          "\tcreatevar(a, \"1\");   // a comment\r\n"
                          "\r\n"
                          "  if(isequal<int>(a, \"1\"),\r\n"
                          "     { setvar(a, \"2\");  throwerror(\"stop\") })\r\n"
                          "}\r\n"
                          "scrdef g() return(throwerror(\"at once\"))\n"
                          "scrdef h()\n"
                          "{\n"
                          "  createvar(x, strcat(\"a\", \"b\"));\n"
                          "  createvar(y, strcat(\"a\", \"b\"));\n"
                          "  return(strcat(x, getvar(nosuch)))\n"
                          "}\n");
    // CR LF line ends, a tab, a comment and an empty line before it.
    EXPECT_EQ(failureAt("p1", u"f"), "7:25");
    // On the definition line itself.
    EXPECT_EQ(failureAt("p1", u"g"), "9:19");
    // Equal texts earlier in the body do not confuse the lookup.
    EXPECT_EQ(failureAt("p1", u"h"), "14:20");
}

TEST_F(Positions, LoadErrorsPointAtTheTextThatFailed) {
    dir.write("p2.ztscr", "scrdef unknown()\n"
                          "{\n"
                          "  createvar(a, \"1\");\n"
                          "  return(add<int>(a, nosuchstatement(a)))\n"
                          "}\n"
                          "scrdef refused()\n"
                          "{\n"
                          "  if(\"1\")\n"
                          "}\n"
                          "scrdef unclosed()\n"
                          "   createvar(a, \"x)\n");
    EXPECT_EQ(failureAt("p2", u"unknown"), "4:22");
    EXPECT_EQ(failureAt("p2", u"refused"), "false@8:3");
    EXPECT_EQ(failureAt("p2", u"unclosed"), "11:4");
}

TEST_F(Positions, StatementsFromTextsOfNoFileHaveNone) {
    clonePtr<statement> st(statementParser::instance()->createStatementFrom(u"throwerror(\"x\")", 0));
    ASSERT_TRUE(st);
    EXPECT_FALSE(st->position().known());
    scriptcontext context;
    zt::genericValue result;
    try {
        st->exec(context, result);
        FAIL() << "throwerror did not fail";
    } catch (const zt::exception& e) {
        EXPECT_EQ(innermostPosition(e), nullptr);
    }
}

TEST(SourceMap, EncodesAndMapsOffsets) {
    sourceMap map(u"f.ztscr");
    map.add(0, 3, 5);
    map.add(10, 4, 1);
    map.add(25, 7, 9);
    const sourceMap back = sourceMap::decode(u"f.ztscr", map.encode());
    EXPECT_EQ(back.positionOf(0).text(), u"f.ztscr:3:5");
    EXPECT_EQ(back.positionOf(9).text(), u"f.ztscr:3:14");
    EXPECT_EQ(back.positionOf(10).text(), u"f.ztscr:4:1");
    EXPECT_EQ(back.positionOf(30).text(), u"f.ztscr:7:14");
    EXPECT_EQ(back.shiftedBy(12).positionOf(0).text(), u"f.ztscr:4:3");
    EXPECT_EQ(back.shiftedBy(12).positionOf(13).text(), u"f.ztscr:7:9");
    // Texts that are no map give no positions rather than wrong ones.
    EXPECT_TRUE(sourceMap::decode(u"f", u"1:2:x;").empty());
    EXPECT_FALSE(sourceMap().positionOf(0).known());
}

} // namespace
