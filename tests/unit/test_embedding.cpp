// What a host sees of the engine: the version, its own statement library built with the helpers
// of ztstatements.h, and the exceptions that reach it.
#include "testlib.h"

#include <zthostobject.h>
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

// emb_counted()   counts its copies and the instances alive
class emb_counted : public namedParameterStatement {
public:
    static inline int clones = 0;
    static inline int alive = 0;
    emb_counted() { ++alive; }
    emb_counted(const emb_counted& other) : namedParameterStatement(other) { ++alive; }
    ~emb_counted() override { --alive; }
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<emb_counted>(u"test", __LINE__, u"emb_counted", params, flags, nullptr);
    }
    statement* clone() const override {
        ++clones;
        return new emb_counted(*this);
    }
    void execute(codecontext&, genericValue& result) const override { result.replace(1); }
};

std::vector<std::string> gKeywordsSeen;

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                    int flags) {
    if (keyword.startsWith(u"emb_")) gKeywordsSeen.push_back(keyword.toUtf8());
    if (keyword == u"emb_net") return emb_net::createFrom(params, flags);
    if (keyword == u"emb_locked") return emb_locked::createFrom(params, flags);
    if (keyword == u"emb_counted") return emb_counted::createFrom(params, flags);
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

// A sequence keeps a copy of each host statement and releases the one it was handed, also where
// the host statement sits inside built-in ones.
TEST_F(Embedding, SequencesCopyHostStatementsAndReleaseTheHandedOnes) {
    emb_counted::clones = 0;
    {
        clonePtr<statement> st(statement::createFrom(u"emb_counted(); if(\"true\", emb_counted())", 0));
        ASSERT_TRUE(st);
        EXPECT_EQ(emb_counted::clones, 2);
        EXPECT_EQ(emb_counted::alive, 2);
    }
    EXPECT_EQ(emb_counted::alive, 0);
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

// A host object of the kit: bound fields and nothing else.
class invoice : public hostObject {
public:
    double amount = 0;
    zt::string customer;
    int items = 0;
    invoice() {
        bindField(u"amount", amount);
        bindField(u"customer", customer);
        bindField(u"items", items);
    }
};

TEST_F(Embedding, KitObjectsOfferEveryInterfaceWithDefaults) {
    dir.write("emb_kit.ztscr",
              "scrdef check(in<unknownptr> inv)\n"
              "  obj_set<double>(inv, \"amount\", add<double>(obj_get<double>(inv, \"amount\"), \"0.5\"));\n"
              "  obj_set(inv, \"items\", \"3\");\n"
              "  obj_set(inv, \"note\", \"new field\", \"true\");\n"
              "  obj_setlabel(inv, \"amount\", \"Total\");\n"
              "  obj_setdisabled(inv, \"customer\");\n"
              "  objmsg_add(inv, \"BIG\", \"warning\", strcat(\"Large order of \", obj_get(inv, \"customer\")));\n"
              "  obj_settransientdata(inv, \"seen\", \"1\");\n"
              "  obj_setrestriction(inv, \"items\", \"> 5\");\n"
              "  return(strcat(obj_label(inv, \"customer\"), \" \", obj_isdisabled(inv, \"customer\"), \" \",\n"
              "    obj_gettransientdata(inv, \"seen\"), \" \", obj_isfieldvalid(inv, \"items\"), \" \", obj_has(inv, \"nosuch\")))\n"
              "scrdef wrongtype(in<unknownptr> inv)\n"
              "  obj_set(inv, \"items\", \"many\")\n");
    auto inv = makeHostObject<invoice>();
    inv->amount = 99.5;
    inv->customer = u"ACME";
    {
        zt::string text;
        ASSERT_TRUE(call("script$emb_kit$check", {inv.value()}).get(text));
        EXPECT_EQ(text, u"customer true 1 false false");
    }
    EXPECT_EQ(inv->references(), 1u) << "only the host's reference is left";
    EXPECT_DOUBLE_EQ(inv->amount, 100.0);
    EXPECT_EQ(inv->items, 3);
    EXPECT_EQ(inv->value(u"note").constPtrTo<zt::string>() ? *inv->value(u"note").constPtrTo<zt::string>() : u"",
              u"new field");
    EXPECT_EQ(inv->label(u"amount"), u"Total");
    EXPECT_EQ(inv->label(u"items"), u"items");
    EXPECT_TRUE(inv->isDisabled(u"customer"));
    ASSERT_EQ(inv->messages().size(), 1u);
    EXPECT_EQ(inv->messages()[0].id, u"BIG");
    EXPECT_EQ(inv->messages()[0].severity, 1);
    EXPECT_EQ(inv->messages()[0].text.text(), u"Large order of ACME");

    try {
        call("script$emb_kit$wrongtype", {inv.value()});
        FAIL() << "a text that is no number was stored into an int";
    } catch (const scriptExecException& e) {
        EXPECT_NE(testlib::chainText(e).find("error calling the objects set-method"), std::string::npos)
            << testlib::chainText(e);
    }
    EXPECT_EQ(inv->items, 3);
    EXPECT_EQ(inv->references(), 1u);
}

TEST_F(Embedding, KitObjectsAreFoundAgainFromScriptValues) {
    auto inv = makeHostObject<invoice>();
    const genericValue v = inv.value();
    EXPECT_EQ(inv->references(), 2u);
    EXPECT_EQ(hostObjectOf<invoice>(v), inv.get());
    EXPECT_EQ(hostObjectOf<invoice>(genericValue::of(zt::string(u"x"))), nullptr);

    // Relations point at other objects, which stay alive while related.
    auto customer = makeHostObject<invoice>();
    inv->setRelationObject(u"customer", customer->identity());
    EXPECT_EQ(customer->references(), 2u);
    dir.write("emb_rel.ztscr", "scrdef f(in<unknownptr> inv)\n  return(obj_get(obj_getrelation(inv, \"customer\"), \"customer\"))\n");
    customer->customer = u"Mr Smith";
    zt::string text;
    ASSERT_TRUE(call("script$emb_rel$f", {v}).get(text));
    EXPECT_EQ(text, u"Mr Smith");
    EXPECT_EQ(customer->references(), 2u);
}

} // namespace
