// The statement parser: blocks, sequences, keywords, type lists, argument scanning, failures.
#include "testlib.h"

#include <gtest/gtest.h>

using namespace zt::script;

namespace {

struct parsed {
    clonePtr<statement> st;
    explicit parsed(const zt::string& text, int flags = 0) : st(statement::createFrom(text, flags)) {}
    const testlib::capture* cap() const { return dynamic_cast<const testlib::capture*>(st.get()); }
    const compoundstatement* seq() const { return dynamic_cast<const compoundstatement*>(st.get()); }
};

std::vector<std::string> utf8(const std::vector<zt::string>& v) {
    std::vector<std::string> out;
    for (const auto& s : v) out.push_back(s.toUtf8());
    return out;
}

template <class E>
std::string failureOf(const zt::string& text) {
    try {
        parsed p(text);
    } catch (const E& e) {
        return e.text().toUtf8();
    }
    return "(no exception)";
}

class Parser : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testlib::install(); }
};

TEST_F(Parser, CallIsSplitIntoKeywordTypesAndArguments) {
    parsed p(u"  tcap( x , tcap<int>(tg(x), \"1\") );");
    ASSERT_NE(p.cap(), nullptr);
    EXPECT_EQ(p.cap()->keyword, u"tcap");
    EXPECT_TRUE(p.cap()->types.empty());
    EXPECT_EQ(utf8(p.cap()->args), (std::vector<std::string>{"x", "tcap<int>(tg(x), \"1\")"}));
    EXPECT_EQ(p.st->text(), u"tcap( x , tcap<int>(tg(x), \"1\") );");

    parsed typed(u"tcap<int,double>(1,2)");
    EXPECT_EQ(utf8(typed.cap()->types), (std::vector<std::string>{"int", "double"}));
    parsed spaced(u"TCAP < Int > (1, 2)");
    ASSERT_NE(spaced.cap(), nullptr);
    EXPECT_EQ(utf8(spaced.cap()->types), (std::vector<std::string>{"int"}));
}

TEST_F(Parser, SequencesAndBlocks) {
    parsed two(u"tcap(1); tcap(2)");
    ASSERT_NE(two.seq(), nullptr);
    EXPECT_EQ(two.seq()->size(), 2u);
    parsed braced(u"{tcap(1); tcap(2)}");
    ASSERT_NE(braced.seq(), nullptr);
    EXPECT_EQ(braced.seq()->size(), 2u);

    parsed single(u"{tcap(1)}");
    EXPECT_NE(single.cap(), nullptr);
    EXPECT_EQ(parsed(u"{}").st.get(), nullptr);
    EXPECT_EQ(parsed(u"   ").st.get(), nullptr);
    EXPECT_EQ(parsed(u"noparenthesis").st.get(), nullptr);

    parsed nested(u"{tcap(1); {tcap(2); tcap(3)}}");
    ASSERT_NE(nested.seq(), nullptr);
    ASSERT_EQ(nested.seq()->size(), 2u);
    auto* inner = dynamic_cast<const compoundstatement*>(nested.seq()->child(1));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->size(), 2u);

    EXPECT_EQ(failureOf<errParsingException>(u"{{tcap(2); tcap(3)}}"), "Error parsing {{tcap(2); tcap(3)}}");
    EXPECT_EQ(failureOf<errParsingException>(u"{tcap(1)"), "Error parsing {tcap(1)");
    // An unknown keyword: the text is named untrimmed.
    EXPECT_EQ(failureOf<errParsingException>(u"  nosuchthing(1)"), "Error parsing   nosuchthing(1)");

    parsed trailing(u"tcap(1);");
    EXPECT_NE(trailing.cap(), nullptr);
}

TEST_F(Parser, EmptyPieceOfSequenceIsReportedAndYieldsNull) {
    testlib::assertCollector asserts;
    parsed p(u"tcap(1);;tcap(2)");
    EXPECT_EQ(p.st.get(), nullptr);
    ASSERT_EQ(asserts.reports.size(), 1u);
    EXPECT_EQ(asserts.reports[0], "statement::createFrom: error parsing \"\"");
}

TEST_F(Parser, ArgumentScanner) {
    EXPECT_EQ(utf8(parsed(u"tcap(a,,b)").cap()->args), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(utf8(parsed(u"tcap(a,)").cap()->args), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(parsed(u"tcap()").cap()->args.empty());
    EXPECT_TRUE(parsed(u"tcap( )").cap()->args.empty());
    EXPECT_EQ(utf8(parsed(u"tcap(1) trailing words").cap()->args), (std::vector<std::string>{"1"}));
    EXPECT_EQ(utf8(parsed(u"tcap(a, \"x<y\")").cap()->args), (std::vector<std::string>{"a", "\"x<y\""}));
    EXPECT_EQ(utf8(parsed(u"tcap(\"say \\\"hi\\\"\")").cap()->args), (std::vector<std::string>{"\"say \"hi\"\""}));
    EXPECT_EQ(utf8(parsed(u"tcap(\"C:\\temp\")").cap()->args), (std::vector<std::string>{"\"C:\\temp\""}));
    EXPECT_EQ(utf8(parsed(u"tcap(ab\"c,d\")").cap()->args), (std::vector<std::string>{"ab\"c", "d\""}));
    EXPECT_EQ(utf8(parsed(u"tcap(\"a,b\", (c, d))").cap()->args), (std::vector<std::string>{"\"a,b\"", "(c, d)"}));
}

TEST_F(Parser, UnbalancedTextIsRefused) {
    EXPECT_EQ(failureOf<missingBracketException>(u"tcap(a))"),
              "Missing closing bracket (\")\" for statement \"tcap(a))\"");
    EXPECT_EQ(failureOf<missingBracketException>(u"tcap(g(1)"),
              "Missing closing bracket (\")\" for statement \"tcap(g(1)\"");
    EXPECT_EQ(failureOf<missingBracketException>(u"tcap(x<y, z)"),
              "Missing closing bracket (\">\" for statement \"tcap(x<y, z)\"");
    EXPECT_EQ(failureOf<missingStringEndException>(u"tcap(\"ends with\\\\\")"),
              "Missing end of string for statement \"tcap(\"ends with\\\\\")\"");
    // a ";" inside quotes still splits: the first piece has an open string
    EXPECT_EQ(failureOf<missingStringEndException>(u"tcap(\"x;y\")"),
              "Missing end of string for statement \"tcap(\"x\"");
}

TEST_F(Parser, LongTextsAreShortenedInTheStatement) {
    auto build = [](size_t length) {
        zt::string text = u"tcap(\"";
        text.append(length - text.size() - 2, u'x');
        text += u"\")";
        return text;
    };
    zt::string t127 = build(127), t128 = build(128), t200 = build(200);
    EXPECT_EQ(parsed(t127).st->text(), t127);
    EXPECT_EQ(parsed(t128).st->text(), t128.substr(0, 122) + u" ...");
    EXPECT_EQ(parsed(t200).st->text().size(), 126u);
}

TEST_F(Parser, CloneIsDeepAndKeepsText) {
    parsed p(u"{tcap(1); tcap(2)}");
    clonePtr<statement> copy(p.st->clone());
    p.st.reset();
    ASSERT_NE(dynamic_cast<compoundstatement*>(copy.get()), nullptr);
    EXPECT_EQ(copy->text(), u"tcap(1); tcap(2)");
    EXPECT_EQ(dynamic_cast<compoundstatement*>(copy.get())->child(0)->text(), u"tcap(1)");
}

TEST_F(Parser, ModuleWithoutDispatcherIsRejected) {
    bool thrown = false;
    try {
        scriptModule bad(nullptr);
    } catch (bool b) {
        thrown = !b;
    }
    EXPECT_TRUE(thrown);
}

} // namespace
