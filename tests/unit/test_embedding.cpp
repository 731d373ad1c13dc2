// What a host sees of the engine: the version, its own statement library built with the helpers
// of ztstatements.h, and the exceptions that reach it.
#include "testlib.h"

#include <ztstatements.h>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zt::script;

namespace {

// A host statement library as a host writes one.
//   emb_net(amount [, rate])   amount * (1 + rate / 100), rate 20 by default
//   emb_locked(id)             throws a std::runtime_error, as host code does
class emb_net : public namedParameterStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<emb_net>(u"test", __LINE__, u"emb_net", params, flags, u"amount", true, u"rate", false, nullptr);
    }
    statement* clone() const override { return new emb_net(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const double amount = valueAs<double>(u"amount", context, u"amount is no number");
        const double rate = hasParam(u"rate") ? valueAs<double>(u"rate", context, u"rate is no number") : 20.0;
        result.replace(amount * (1 + rate / 100));
    }
};

class emb_locked : public namedParameterStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<emb_locked>(u"test", __LINE__, u"emb_locked", params, flags, u"id", true, nullptr);
    }
    statement* clone() const override { return new emb_locked(*this); }
    void execute(codecontext& context, genericValue&) const override {
        throw std::runtime_error("invoice " + text(u"id", context, u"no id").toUtf8() + " is locked");
    }
};

std::vector<std::string> gKeywordsSeen;

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                    int flags) {
    if (keyword.startsWith(u"emb_")) gKeywordsSeen.push_back(keyword.toUtf8());
    if (keyword == u"emb_net") return emb_net::createFrom(params, flags);
    if (keyword == u"emb_locked") return emb_locked::createFrom(params, flags);
    if (keyword == u"emb_refused") rejectStatement(u"emb_refused: %s", params.empty() ? zt::string() : params[0]);
    return nullptr;
}

scriptModule gLibrary(&dispatch);

class Embedding : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gLibrary.registerModule(); }

    testlib::tempDir dir;

    genericValue call(const std::string& codeCall, std::vector<genericValue> args = {}) {
        scriptcontext context;
        genericValue result;
        EXPECT_TRUE(codeManager::instance()->executeFunction(zt::string(dir.path), zt::string(codeCall), context, args,
                                                             result));
        return result;
    }
};

TEST(Version, LibraryAndHeadersAgree) {
    const versionInfo& v = version();
    EXPECT_EQ(v.majorVersion, ZTSCRIPT_VERSION_MAJOR);
    EXPECT_EQ(v.minorVersion, ZTSCRIPT_VERSION_MINOR);
    EXPECT_EQ(v.patchVersion, ZTSCRIPT_VERSION_PATCH);
    EXPECT_STREQ(v.text, ZTSCRIPT_VERSION);
    EXPECT_EQ(std::string(v.text), std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion) + "." +
                                       std::to_string(v.patchVersion));
}

TEST_F(Embedding, HostStatementsGetTheirKeywordLowerCasedAndTheirArguments) {
    dir.write("emb_lib.ztscr", "scrdef f(in<string> a)\n  return(EMB_Net( a , \"10\"))\n"
                               "scrdef g()\n  return(emb_net(\"50\"))\n");
    gKeywordsSeen.clear();
    double value = 0;
    ASSERT_TRUE(call("script$emb_lib$f", {genericValue::of(zt::string(u"200"))}).get(value));
    EXPECT_DOUBLE_EQ(value, 220.0);
    EXPECT_EQ(gKeywordsSeen, std::vector<std::string>{"emb_net"});
    ASSERT_TRUE(call("script$emb_lib$g").get(value));
    EXPECT_DOUBLE_EQ(value, 60.0);
}

TEST_F(Embedding, BuiltInKeywordsNeverReachTheHost) {
    dir.write("emb_builtin.ztscr", "scrdef f()\n  return(strlen(\"abc\"))\n");
    gKeywordsSeen.clear();
    zt::string text;
    ASSERT_TRUE(call("script$emb_builtin$f").get(text));
    EXPECT_EQ(text, u"3");
    EXPECT_TRUE(gKeywordsSeen.empty());
}

TEST_F(Embedding, ARefusedStatementThrowsFalseAfterItsReport) {
    dir.write("emb_refused.ztscr", "scrdef f()\n  emb_refused(\"why\")\n");
    testlib::assertCollector reports;
    scriptcontext context;
    std::vector<genericValue> args;
    genericValue result;
    EXPECT_THROW(codeManager::instance()->executeFunction(zt::string(dir.path), u"script$emb_refused$f", context, args,
                                                          result),
                 bool);
    EXPECT_EQ(reports.reports, std::vector<std::string>{"emb_refused: \"why\""});
}

TEST_F(Embedding, AStdExceptionOfTheHostKeepsItsText) {
    dir.write("emb_std.ztscr", "scrdef f()\n  createvar(x, \"1\");\n  emb_locked(\"7\")\n");
    try {
        call("script$emb_std$f");
        FAIL() << "no error";
    } catch (const scriptExecException& e) {
        EXPECT_EQ(testlib::chainText(e), "Error executing script \"f\"\n"
                                         "Error executing script \"createvar(x, \"1\");emb_locked(\"7\")\"\n"
                                         "Error executing script \"emb_locked(\"7\")\"\n"
                                         "invoice 7 is locked");
        const zt::exception* innermost = &e;
        while (innermost->inner()) innermost = innermost->inner();
        EXPECT_NE(dynamic_cast<const hostException*>(innermost), nullptr);
        const sourcePosition* where = innermostPosition(e);
        ASSERT_NE(where, nullptr);
        EXPECT_EQ(where->line, 3u);
        EXPECT_EQ(where->column, 3u);
    }
}

TEST_F(Embedding, AMessageForTheUserArrivesAsScriptMessageException) {
    dir.write("emb_msg.ztscr", "scrdef f()\n  throwmessage(\"Please save first\")\n");
    try {
        call("script$emb_msg$f");
        FAIL() << "no message";
    } catch (const scriptMessageException& m) {
        EXPECT_EQ(m.userMessage(), u"Please save first");
        EXPECT_EQ(m.function(), u"f");
        EXPECT_EQ(m.text(), u"Error executing script \"Please save first\n\nf\"");
    }
}

} // namespace
