// Control flow and message statements where the host takes part: signals set by the host or kept
// by its own context, host collections in for_each, and the message box handler.
// What scripts see of if, while, for_each, return, callfunction and the messages is stated by
// tests/scripts/flow, a message for the user by test_embedding.cpp.
#include "testhost.h"
#include "testlib.h"

#include <ztplatform.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace zt::script;
using testhost::unknownptr;

namespace {

// The scripts report to the host through testlib's thost(value): the value's text goes to gLog
// ("empty", "nullref", "obj<tag>", "[a,b]" ...), and gHostHook, when set, acts on it.
std::vector<std::string> gLog;
std::function<void(codecontext&, const std::string&)> gHostHook;

std::string logText(const zt::genericValue& v) {
    if (v.isEmpty()) return "empty";
    if (const unknownptr* p = v.constPtrTo<unknownptr>()) {
        if (!p->isValid()) return "nullref";
        zt::intrface::interfaceptr<testhost::marker> m(*p);
        return m.isValid() ? "obj" + std::to_string(m->tag()) : "obj";
    }
    zt::string text;
    if (!v.get(text)) return "?";
    return text.toUtf8();
}

class Flow : public ::testing::Test {
protected:
    void SetUp() override {
        testlib::install();
        gLog.clear();
        gHostHook = nullptr;
        testlib::hostHook = [](codecontext& c, const zt::genericValue& v) {
            gLog.push_back(logText(v));
            if (gHostHook) gHostHook(c, gLog.back());
        };
    }
    void TearDown() override { testlib::hostHook = nullptr; }

    static statement* parse(const zt::string& text, int flags = 0) {
        return statementParser::instance()->createStatementFrom(text, flags);
    }
    zt::genericValue run(const zt::string& text) { return testlib::run(text, context); }
    std::string runError(const zt::string& text) { return testlib::runError(text, context); }
    std::string log() const {
        std::string s;
        for (const auto& l : gLog) s += (s.empty() ? "" : " ") + l;
        return s;
    }
    static std::string text(const zt::genericValue& v) { return logText(v); }

    // Declared first: the host's objects outlive the references that the context holds.
    testhost::tracker host;
    scriptcontext context;
};

// ---------------------------------------------------------------------------------------------
// while, break, continue

// A host's own script context may keep signals elsewhere: blocks and loops still ask it.
TEST_F(Flow, SignalsOfADerivedContextEndBlocksAndLoops) {
    struct stoppingContext : scriptcontext {
        int stopAfter = 0; // the break signal shows once this many signals were asked for
        int asked = 0;
        zt::genericValue signal = zt::genericValue::of(true);
        zt::genericValue* scriptSignal(const scString& name) override {
            if (name == breaksignal() && ++asked > stopAfter) return &signal;
            return scriptcontext::scriptSignal(name);
        }
    } own;
    own.stopAfter = 0;
    testlib::run(u"{thost(\"a\"); thost(\"b\")}", own);
    EXPECT_EQ(log(), "a");
    gLog.clear();
    own.asked = 0;
    own.createVariable(scString(u"i"), zt::genericValue::of(0));
    testlib::run(u"while(issmaller<int>(i, \"3\"), {thost(i); setvar(i, add<int>(i, \"1\"))})", own);
    EXPECT_EQ(log(), "0");
}


// Whether break parses depends on the flags the caller passes (scripts get them from the loops).
TEST_F(Flow, BreakParsesWhereTheCallersFlagsAllowIt) {
    EXPECT_THROW(parse(u"break()"), errParsingException);
    clonePtr<statement> allowed(parse(u"break()", sfAllowBreak));
    EXPECT_TRUE(allowed);
    EXPECT_THROW(parse(u"break()", sfAllowContinue), errParsingException);
}

TEST_F(Flow, LoopResultIsTheReturnedValue) {
    EXPECT_EQ(text(run(u"while(\"1\", return(\"7\"))")), "7");
    context.deleteParameter(scriptcontext::returnparam());
    // A return without value leaves an empty return value.
    zt::genericValue r = zt::genericValue::of(zt::string(u"old"));
    testlib::runInto(u"while(\"1\", return())", context, r);
    EXPECT_TRUE(r.isEmpty());
    ASSERT_NE(context.parameterAddress(scriptcontext::returnparam()), nullptr);
    EXPECT_TRUE(context.parameterAddress(scriptcontext::returnparam())->isEmpty());
}

TEST_F(Flow, BreakAllSignalSetByTheHost) {
    // The host sets "#breakallsignal#" during the second inner iteration.
    gHostHook = [](codecontext& c, const std::string& what) {
        if (what == "stop") c.setScriptSignal(scriptcontext::breakallsignal(), zt::genericValue());
    };
    context.createVariable(scString(u"abc"), zt::genericValue::of(std::vector<zt::genericValue>{
        zt::genericValue::of(zt::string(u"a")), zt::genericValue::of(zt::string(u"b")), zt::genericValue::of(zt::string(u"c"))}));
    run(u"{createvar(i, add<int>(\"0\", \"0\"));"
        u" while(\"1\", {"
        u"   setvar(i, add<int>(i, \"1\"));"
        u"   for_each(x, abc, {thost(x); if(issmaller<int>(\"1\", i), thost(\"stop\"))});"
        u"   thost(\"after inner\");"
        u"   if(issmaller<int>(\"3\", i), break())"
        u" });"
        u" thost(\"after outer\")}");
    // First outer pass: a b c; second: a, then the signal ends the inner loop, the rest of the
    // outer body and the outer loop, and the sequence around it.
    EXPECT_EQ(log(), "a b c after inner a stop");
    EXPECT_NE(context.scriptSignal(scriptcontext::breakallsignal()), nullptr);
    context.clearScriptSignal(scriptcontext::breakallsignal());
}

TEST_F(Flow, BreakAllClearsBreakAndContinue) {
    gHostHook = [](codecontext& c, const std::string&) {
        c.setScriptSignal(scriptcontext::breakallsignal(), zt::genericValue());
    };
    run(u"while(\"1\", {thost(\"x\"); thost(\"body\")})");
    // The sequence stops at the signal, the loop ends after its first iteration.
    EXPECT_EQ(log(), "x");
    EXPECT_NE(context.scriptSignal(scriptcontext::breakallsignal()), nullptr);
    context.clearScriptSignal(scriptcontext::breakallsignal());
    // With break set alongside, the loop clears break and keeps breakall.
    gHostHook = [](codecontext& c, const std::string&) {
        c.setScriptSignal(scriptcontext::breakallsignal(), zt::genericValue());
        c.setScriptSignal(scriptcontext::continuesignal(), zt::genericValue());
    };
    run(u"while(\"1\", thost(\"x\"))");
    EXPECT_EQ(context.scriptSignal(scriptcontext::continuesignal()), nullptr);
    EXPECT_NE(context.scriptSignal(scriptcontext::breakallsignal()), nullptr);
    context.clearScriptSignal(scriptcontext::breakallsignal());
}

// ---------------------------------------------------------------------------------------------
// for_each

TEST_F(Flow, ForEachOverHostCollection) {
    auto* list = host.create<testhost::collection>();
    auto* a = host.create<testhost::plainObject>(1);
    auto* b = host.create<testhost::plainObject>(2);
    list->add(a->identity());
    list->addNull();
    list->add(b->identity());
    context.createVariable(scString(u"list"), testhost::reference(list));
    const auto refsBefore = host.references();

    run(u"for_each(e, list, {thost(e); tset(keep, e)})");
    EXPECT_EQ(log(), "obj1 nullref obj2");
    EXPECT_EQ(list->firstCalls, 1u);
    EXPECT_EQ(list->nextCalls, 3u);
    EXPECT_EQ(list->isEndCalls, 4u);
    EXPECT_EQ(host.references(), refsBefore);
    EXPECT_EQ(host.overReleases(), 0u);
}

TEST_F(Flow, ForEachOverHostCollectionReleasesOnEveryExit) {
    auto* list = host.create<testhost::collection>();
    for (int i = 1; i <= 3; ++i) list->add(host.create<testhost::plainObject>(i)->identity());
    context.createVariable(scString(u"list"), testhost::reference(list));
    const auto refsBefore = host.references();

    run(u"for_each(e, list, {thost(e); break()})");
    EXPECT_EQ(host.references(), refsBefore);
    EXPECT_NE(runError(u"for_each(e, list, tfail(\"stop\"))"), "");
    EXPECT_EQ(host.references(), refsBefore);
    run(u"for_each(e, list, {thost(e); continue(); thost(\"never\")})");
    EXPECT_EQ(host.references(), refsBefore);
    // A returned element stays referenced by "#return#" until that is deleted.
    run(u"for_each(e, list, if(\"1\", return(e)))");
    EXPECT_EQ(host.references(), refsBefore + 1);
    context.deleteParameter(scriptcontext::returnparam());
    EXPECT_EQ(host.references(), refsBefore);
    EXPECT_EQ(log(), "obj1 obj1 obj2 obj3");
    EXPECT_EQ(host.overReleases(), 0u);

}

// Without a body the host is not asked for elements. (A null reference and an object without
// iterator run nothing: tests/scripts/flow/loops.ztscr and object/fields.ztscr.)
TEST_F(Flow, ForEachWithoutBodyOrElements) {
    auto* list = host.create<testhost::collection>();
    context.createVariable(scString(u"list"), testhost::reference(list));
    run(u"for_each(x, list, thost(\"never\"))");
    EXPECT_EQ(list->firstCalls, 1u);
    EXPECT_EQ(list->nextCalls, 0u);
    EXPECT_EQ(log(), "");
    list->add(host.create<testhost::record>()->identity());
    run(u"for_each(x, list, {})");
    EXPECT_EQ(list->firstCalls, 1u);
}

// ---------------------------------------------------------------------------------------------
// Messages and assertions

struct boxCall {
    zt::string text, caption;
    unsigned flags;
};

TEST_F(Flow, MessageBox) {
    std::vector<boxCall> calls;
    int answer = zt::IDOK;
    auto previous = zt::setMessageBoxHandler([&](zt::HWND owner, const zt::string& t, const zt::string& c, unsigned f) {
        EXPECT_EQ(owner, nullptr);
        calls.push_back({t, c, f});
        return answer;
    });

    EXPECT_EQ(text(run(u"messagebox(\"Text\")")), "ok");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, u"Text");
    EXPECT_EQ(calls[0].caption, u"Vantrel");
    EXPECT_EQ(calls[0].flags, 0u);

    const struct {
        const char16_t* text;
        int answer;
        const char* result;
        unsigned flags;
        const char16_t* caption;
    } cases[] = {
        {u"messagebox(\"Proceed?\", \"YesNo\", \"Question\")", zt::IDYES, "yes", zt::MB_YESNO | zt::MB_ICONQUESTION, u"Vantrel"},
        {u"messagebox(\"Proceed?\", \"yesnocancel\", \"warning\", \"My Title\")", zt::IDNO, "no",
         zt::MB_YESNOCANCEL | zt::MB_ICONEXCLAMATION, u"My Title"},
        {u"messagebox(\"t\", \"okcancel\", \"hand\")", zt::IDCANCEL, "cancel", zt::MB_OKCANCEL | zt::MB_ICONSTOP, u"Vantrel"},
        {u"messagebox(\"t\", \"RETRYCANCEL\", \"Asterisk\")", zt::IDRETRY, "retry",
         zt::MB_RETRYCANCEL | zt::MB_ICONINFORMATION, u"Vantrel"},
        // Unknown words select nothing; a title that is not text keeps the default.
        {u"messagebox(\"t\", \"abort\", \"smile\", createarray())", zt::IDABORT, "", 0u, u"Vantrel"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zt::string(c.text).toUtf8());
        answer = c.answer;
        EXPECT_EQ(text(run(c.text)), c.result);
        EXPECT_EQ(calls.back().flags, c.flags);
        EXPECT_EQ(calls.back().caption, zt::string(c.caption));
    }

    // The result replaces whatever the result held.
    zt::genericValue typed = zt::genericValue::of(5);
    answer = zt::IDOK;
    testlib::runInto(u"messagebox(\"t\")", context, typed);
    EXPECT_EQ(testlib::shown(typed), "string: ok");

    EXPECT_NE(runError(u"messagebox(treatasfunction())").find("(Error retrieving messagebox-Message)"), std::string::npos);

    // Text and title are looked up as localisation identifiers; unknown ones show as written.
    zt::locString::setCatalogue([](const zt::string& id, zt::string& out) {
        if (id != u"greeting") return false;
        out = u"Hello";
        return true;
    });
    run(u"messagebox(\"greeting\", \"ok\", \"\", \"greeting\")");
    EXPECT_EQ(calls.back().text, u"Hello");
    EXPECT_EQ(calls.back().caption, u"Hello");
    run(u"messagebox(\"Value [x] 100%\")");
    EXPECT_EQ(calls.back().text, u"Value [x] 100%");
    zt::locString::setCatalogue(nullptr);

    // Without a handler nothing is answered.
    zt::setMessageBoxHandler(nullptr);
    EXPECT_EQ(testlib::shown(run(u"messagebox(\"Text\")")), "string: ");
    zt::setMessageBoxHandler(previous);
}

TEST_F(Flow, ExecutablePath) {
    EXPECT_FALSE(zt::getModulePath(u"").empty());
    EXPECT_EQ(testlib::shown(run(u"executablepath(\"ignored\", \"too\")")), "string: " + zt::getModulePath(u"").toUtf8());
}

// ---------------------------------------------------------------------------------------------
// callfunction

class FlowCalls : public Flow {
protected:
    zt::genericValue call(const std::string& file, const std::string& function) {
        return testlib::callFunction(folder.path, file, function, context);
    }
    testlib::tempDir folder;
};

TEST_F(FlowCalls, MissingScriptBasePathFailsAfterTheArguments) {
    const std::string chain = runError(u"callfunction(script$nowhere$f, thost(\"arg\"))");
    EXPECT_TRUE(testlib::contains(chain, "Global variable \"scriptbasepath\" not found")) << chain;
    EXPECT_EQ(log(), "arg");
}

// A library call parses, and running it leaves the result alone.
TEST_F(FlowCalls, LibraryCallLeavesTheResultAlone) {
    context.setGlobalContextVariable(scriptcontext::scriptbasepath(), zt::genericValue::of(zt::string::fromUtf8(folder.path)));
    zt::genericValue r = zt::genericValue::of(zt::string(u"kept"));
    testlib::runInto(u"callfunction(dll$lib$entry)", context, r);
    EXPECT_EQ(text(r), "kept");
}

} // namespace
