// Control flow (if, while, for_each, break, continue, return, treatasfunction, callfunction,
// nullref) and the message statements (throwerror, throwmessage, assert, messagebox,
// executablepath).
//
// The scripts here use a small statement library of their own (keywords starting with "fl"), so
// that they depend on nothing but the control-flow library and the core.
#include "testhost.h"
#include "testlib.h"

#include <ztplatform.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

using namespace zt::script;
using testhost::unknownptr;

namespace {

// ---------------------------------------------------------------------------------------------
// Test statements
//   flset(name, value)   sets the variable name (as written), creating it in the current block
//   flget(name)          yields the variable name (as written)
//   flinc(name)          adds 1 to the int variable name
//   fllog(value)         appends the value's text to gLog ("empty", "nullref", "obj<tag>" ...)
//   flless(a, b)         a < b as int
//   flarray(v, ...)      an array of the values
//   flpush(name, value)  appends value to the array variable name
//   flempty()            an empty value
//   flglobal(name, v)    sets a global context variable
//   flhost(text)         calls gHostHook: the host acting while the script runs
//   flfail(text)         fails with an execution error
//   flmark()             records how deep the stack is here (gLowestFrame)

std::vector<std::string> gLog;
// The lowest stack address seen by flmark() and by the dispatcher (the stack grows downwards on
// the platforms tested here).
const char* gLowestFrame = nullptr;
void markFrame() {
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    if (!gLowestFrame || here < gLowestFrame) gLowestFrame = here;
}
std::function<void(codecontext&, const zt::string&)> gHostHook;

std::string logText(const zt::genericValue& v) {
    if (v.isEmpty()) return "empty";
    if (const unknownptr* p = v.constPtrTo<unknownptr>()) {
        if (!p->isValid()) return "nullref";
        zt::intrface::interfaceptr<testhost::marker> m(*p);
        return m.isValid() ? "obj" + std::to_string(m->tag()) : "obj";
    }
    if (auto* a = v.constPtrTo<std::vector<zt::genericValue>>()) {
        std::string s = "[";
        for (size_t i = 0; i < a->size(); ++i) s += (i ? "," : "") + logText((*a)[i]);
        return s + "]";
    }
    zt::string text;
    if (!v.get(text)) return "?";
    return text.toUtf8();
}

struct flStatement : scriptbasestatement {
    zt::string keyword;
    scString name;
    std::vector<clonePtr<valueProvider>> values;

    statement* clone() const override { return new flStatement(*this); }

    zt::genericValue value(codecontext& context, size_t i) const {
        zt::genericValue v;
        if (i < values.size() && !values[i]->getValue(context, v)) execError(this, u"error retrieving value");
        return v;
    }
    int number(codecontext& context, size_t i) const {
        int n = 0;
        if (!value(context, i).get(n)) execError(this, u"not a number");
        return n;
    }

    void execute(codecontext& context, zt::genericValue& result) const override {
        if (keyword == u"flset") {
            zt::genericValue v = value(context, 0);
            if (!context.setVariable(name, v)) context.createVariable(name, v);
        } else if (keyword == u"flget") {
            result = context.variable(name);
        } else if (keyword == u"flinc") {
            int n = 0;
            zt::genericValue& v = context.variable(name);
            if (!v.get(n)) execError(this, u"not a number");
            v.replace(n + 1);
        } else if (keyword == u"fllog") {
            gLog.push_back(logText(value(context, 0)));
        } else if (keyword == u"flless") {
            result.replace(number(context, 0) < number(context, 1));
        } else if (keyword == u"flarray") {
            std::vector<zt::genericValue> a;
            for (size_t i = 0; i < values.size(); ++i) a.push_back(value(context, i));
            result.replace(std::move(a));
        } else if (keyword == u"flpush") {
            zt::genericValue v = value(context, 0);
            auto* a = context.variable(name).ptrTo<std::vector<zt::genericValue>>();
            if (!a) execError(this, u"not an array");
            a->push_back(v);
        } else if (keyword == u"flempty") {
            result.clear();
        } else if (keyword == u"flglobal") {
            context.setGlobalContextVariable(name, value(context, 0));
        } else if (keyword == u"flhost") {
            zt::string text;
            value(context, 0).get(text);
            if (gHostHook) gHostHook(context, text);
        } else if (keyword == u"flmark") {
            markFrame();
        } else if (keyword == u"flfail") {
            zt::string text;
            value(context, 0).get(text);
            execError(this, u"failed %s", text);
        }
    }
};

statement* flDispatch(const zt::string& keyword, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                      int flags) {
    static const std::vector<zt::string> named{u"flset", u"flget", u"flinc", u"flpush", u"flglobal"};
    static const std::vector<zt::string> plain{u"fllog",  u"flless", u"flarray", u"flempty",
                                               u"flhost", u"flfail", u"flmark"};
    const bool isNamed = std::find(named.begin(), named.end(), keyword) != named.end();
    if (!isNamed && std::find(plain.begin(), plain.end(), keyword) == plain.end()) return nullptr;
    if (keyword == u"flmark") markFrame();
    clonePtr<flStatement> st(new flStatement);
    st->keyword = keyword;
    size_t first = 0;
    if (isNamed) {
        if (params.empty()) throw false;
        st->name = scString(params[0]);
        first = 1;
    }
    for (size_t i = first; i < params.size(); ++i) st->values.emplace_back(valueProvider::createFrom(params[i], flags));
    return st.release();
}

scriptModule gFlModule(&flDispatch);

// Collects assertion reports while alive.
struct assertCollector {
    assertCollector() {
        previous = zt::setAssertReporter([this](const zt::string& t) { reports.push_back(t.toUtf8()); });
    }
    ~assertCollector() { zt::setAssertReporter(previous); }
    std::vector<std::string> reports;
    zt::assertReporter previous;
};

std::string chainText(const zt::exception& e) {
    std::string out;
    for (const zt::exception* p = &e; p; p = p->inner()) out += p->text().toUtf8() + "\n";
    return out;
}

// A unique folder for script files, removed afterwards.
struct scriptFolder {
    scriptFolder() {
        std::random_device rd;
        path = std::filesystem::temp_directory_path() / ("zt_flow_" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path);
    }
    ~scriptFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    void write(const std::string& name, const std::string& content) const {
        std::filesystem::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << content;
    }
    zt::string base() const { return zt::string::fromUtf8(path.string() + "/"); }
    std::filesystem::path path;
};

// File names unique in this process: the code manager caches functions by file name.
std::string uniqueName(const std::string& stem) {
    static std::atomic<int> n{0};
    static const std::string run = std::to_string(std::random_device{}());
    return stem + "_" + run + "_" + std::to_string(++n);
}

class Flow : public ::testing::Test {
protected:
    void SetUp() override {
        gFlModule.registerModule();
        gLog.clear();
        gHostHook = nullptr;
    }
    void TearDown() override { gHostHook = nullptr; }

    static statement* parse(const zt::string& text, int flags = 0) {
        return statementParser::instance()->createStatementFrom(text, flags);
    }
    // Parses and runs text in the test's script context.
    zt::genericValue run(const zt::string& text, int flags = 0) {
        clonePtr<statement> st(parse(text, flags));
        if (!st) throw std::runtime_error("no statement: " + text.toUtf8());
        zt::genericValue result;
        st->exec(context, result);
        return result;
    }
    // The execution error's messages, or "" when the text runs through.
    std::string runError(const zt::string& text, int flags = 0) {
        try {
            run(text, flags);
        } catch (const zt::exception& e) {
            return chainText(e);
        }
        return "";
    }
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
// if

TEST_F(Flow, IfRunsOneBranch) {
    run(u"if(\"true\", fllog(\"then\"), fllog(\"else\"))");
    run(u"if(\"0\", fllog(\"then\"), fllog(\"else\"))");
    run(u"if(\"1\", fllog(\"then\"))");
    run(u"if(\"false\", fllog(\"then\"))");
    // An empty condition counts as false.
    run(u"if(flempty(), fllog(\"then\"), fllog(\"else2\"))");
    EXPECT_EQ(log(), "then else then else2");
}

TEST_F(Flow, IfConditionErrors) {
    EXPECT_NE(runError(u"if(\"abc\", fllog(\"x\"))").find("error converting \"abc\" to bool"), std::string::npos);
    EXPECT_NE(runError(u"if(flarray(), fllog(\"x\"))").find("error converting variable to bool"), std::string::npos);
    EXPECT_EQ(log(), "");
}

TEST_F(Flow, IfTakesObjectReferences) {
    auto* obj = host.create<testhost::plainObject>(1);
    context.createVariable(scString(u"o"), testhost::reference(obj));
    run(u"if(flget(o), fllog(\"object\"), fllog(\"none\"))");
    run(u"if(nullref(), fllog(\"object\"), fllog(\"none\"))");
    EXPECT_EQ(log(), "object none");
}

TEST_F(Flow, IfBranchHasItsOwnBlock) {
    // A variable set in the branch that exists outside keeps its value; one created there is gone.
    const std::string chain =
        runError(u"{flset(outer, \"1\"); if(\"1\", {flset(inner, \"2\"); flset(outer, \"3\")}); fllog(flget(outer));"
                 u" fllog(flget(inner))}");
    EXPECT_NE(chain.find("Variable \"inner\" not found"), std::string::npos) << chain;
    EXPECT_EQ(log(), "3");
}

TEST_F(Flow, IfConstruction) {
    assertCollector asserts;
    clonePtr<statement> ok(parse(u"if(\"1\", {})"));
    EXPECT_TRUE(ok);
    clonePtr<statement> withElse(parse(u"if(\"1\", {}, {})"));
    EXPECT_TRUE(withElse);
    EXPECT_THROW(parse(u"if(\"1\", x)"), bool);
    EXPECT_THROW(parse(u"if(\"1\")"), bool);
    EXPECT_THROW(parse(u"if(\"1\", fllog(\"a\"), y)"), bool);
    ASSERT_EQ(asserts.reports.size(), 3u);
    EXPECT_EQ(asserts.reports[0], "_if::createFrom: error parsing \"x\"");
    EXPECT_EQ(asserts.reports[1], "_if::createFrom: number of parameters < 2");
    EXPECT_EQ(asserts.reports[2], "_if::createFrom: error parsing \"y\"");
    // An empty branch runs nothing.
    run(u"if(\"1\", {}, fllog(\"else\"))");
    EXPECT_EQ(log(), "");
}

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
    clonePtr<statement> block(parse(u"{fllog(\"a\"); fllog(\"b\")}"));
    ASSERT_TRUE(block);
    zt::genericValue result;
    block->exec(own, result);
    EXPECT_EQ(log(), "a");
    gLog.clear();
    own.asked = 0;
    own.createVariable(scString(u"i"), zt::genericValue::of(0));
    clonePtr<statement> loop(parse(u"while(flless(flget(i), \"3\"), {fllog(flget(i)); flinc(i)})"));
    ASSERT_TRUE(loop);
    loop->exec(own, result);
    EXPECT_EQ(log(), "0");
}


TEST_F(Flow, WhileCountsAndKeepsResultUntouched) {
    zt::genericValue r = run(u"{flset(i, \"0\"); while(flless(flget(i), \"3\"), {fllog(flget(i)); flinc(i)})}");
    EXPECT_EQ(log(), "0 1 2");
    EXPECT_TRUE(r.isEmpty());
}

TEST_F(Flow, WhileConditionErrors) {
    EXPECT_NE(runError(u"while(flempty(), fllog(\"x\"))").find("error retrieving condition-result"), std::string::npos);
    EXPECT_NE(runError(u"while(\"abc\", fllog(\"x\"))").find("error retrieving condition-result"), std::string::npos);
    EXPECT_EQ(log(), "");
}

TEST_F(Flow, BreakAndContinueOnlyInsideLoops) {
    EXPECT_THROW(parse(u"break()"), errParsingException);
    EXPECT_THROW(parse(u"continue()"), errParsingException);
    EXPECT_THROW(parse(u"if(\"1\", break())"), errParsingException);
    clonePtr<statement> inLoop(parse(u"while(\"1\", if(\"1\", break()))"));
    EXPECT_TRUE(inLoop);
    // The flags of the caller decide.
    clonePtr<statement> allowed(parse(u"break()", sfAllowBreak));
    EXPECT_TRUE(allowed);
    EXPECT_THROW(parse(u"break()", sfAllowContinue), errParsingException);
}

TEST_F(Flow, BreakAndContinueAtSeveralDepths) {
    run(u"{flset(i, \"0\");"
        u" while(\"1\", {"
        u"   flinc(i);"
        u"   if(flless(\"4\", flget(i)), break());"
        u"   if(flless(flget(i), \"3\"), {if(\"1\", continue()); fllog(\"never\")});"
        u"   fllog(flget(i))"
        u" })}");
    EXPECT_EQ(log(), "3 4");
    EXPECT_EQ(context.scriptSignal(scriptcontext::breaksignal()), nullptr);
    EXPECT_EQ(context.scriptSignal(scriptcontext::continuesignal()), nullptr);
}

TEST_F(Flow, BreakEndsOnlyTheInnerLoop) {
    run(u"{flset(i, \"0\");"
        u" while(flless(flget(i), \"3\"), {"
        u"   flinc(i); flset(j, \"0\");"
        u"   while(\"1\", {flinc(j); if(flless(\"1\", flget(j)), break()); fllog(flget(j))});"
        u"   fllog(flget(i))"
        u" })}");
    EXPECT_EQ(log(), "1 1 1 2 1 3");
}

TEST_F(Flow, ReturnEndsNestedLoops) {
    zt::genericValue r = run(u"{flset(outer, \"0\");"
                             u" for_each(x, flarray(\"a\", \"b\"), {"
                             u"   while(\"1\", {fllog(flget(x)); return(\"done\"); fllog(\"never\")});"
                             u"   fllog(\"never\")"
                             u" });"
                             u" fllog(\"never\")}");
    EXPECT_EQ(log(), "a");
    EXPECT_EQ(text(r), "done");
    zt::genericValue* ret = context.parameterAddress(scriptcontext::returnparam());
    ASSERT_NE(ret, nullptr);
    EXPECT_EQ(text(*ret), "done");
}

TEST_F(Flow, LoopResultIsTheReturnedValue) {
    clonePtr<statement> loop(parse(u"while(\"1\", return(\"7\"))"));
    zt::genericValue r;
    loop->exec(context, r);
    EXPECT_EQ(text(r), "7");
    context.deleteParameter(scriptcontext::returnparam());
    // A return without value leaves an empty return value.
    clonePtr<statement> empty(parse(u"while(\"1\", return())"));
    zt::genericValue r2 = zt::genericValue::of(zt::string(u"old"));
    empty->exec(context, r2);
    EXPECT_TRUE(r2.isEmpty());
    ASSERT_NE(context.parameterAddress(scriptcontext::returnparam()), nullptr);
    EXPECT_TRUE(context.parameterAddress(scriptcontext::returnparam())->isEmpty());
}

TEST_F(Flow, BreakAllSignalSetByTheHost) {
    // The host sets "#breakallsignal#" during the second inner iteration.
    gHostHook = [](codecontext& c, const zt::string& what) {
        if (what == u"stop") c.setScriptSignal(scriptcontext::breakallsignal(), zt::genericValue());
    };
    run(u"{flset(i, \"0\");"
        u" while(\"1\", {"
        u"   flinc(i);"
        u"   for_each(x, flarray(\"a\", \"b\", \"c\"), {fllog(flget(x)); if(flless(\"1\", flget(i)), flhost(\"stop\"))});"
        u"   fllog(\"after inner\");"
        u"   if(flless(\"3\", flget(i)), break())"
        u" });"
        u" fllog(\"after outer\")}");
    // First outer pass: a b c; second: a, then the signal ends the inner loop, the rest of the
    // outer body and the outer loop, and the sequence around it.
    EXPECT_EQ(log(), "a b c after inner a");
    EXPECT_NE(context.scriptSignal(scriptcontext::breakallsignal()), nullptr);
    context.clearScriptSignal(scriptcontext::breakallsignal());
}

TEST_F(Flow, BreakAllClearsBreakAndContinue) {
    gHostHook = [](codecontext& c, const zt::string&) {
        c.setScriptSignal(scriptcontext::breakallsignal(), zt::genericValue());
    };
    run(u"while(\"1\", {flhost(\"x\"); fllog(\"body\")})");
    // The sequence stops at the signal, the loop ends after its first iteration.
    EXPECT_EQ(log(), "");
    EXPECT_NE(context.scriptSignal(scriptcontext::breakallsignal()), nullptr);
    context.clearScriptSignal(scriptcontext::breakallsignal());
    // With break set alongside, the loop clears break and keeps breakall.
    gHostHook = [](codecontext& c, const zt::string&) {
        c.setScriptSignal(scriptcontext::breakallsignal(), zt::genericValue());
        c.setScriptSignal(scriptcontext::continuesignal(), zt::genericValue());
    };
    run(u"while(\"1\", flhost(\"x\"))");
    EXPECT_EQ(context.scriptSignal(scriptcontext::continuesignal()), nullptr);
    EXPECT_NE(context.scriptSignal(scriptcontext::breakallsignal()), nullptr);
    context.clearScriptSignal(scriptcontext::breakallsignal());
}

TEST_F(Flow, LoopBodyErrorsBecomeLoopErrors) {
    try {
        run(u"while(\"1\", flfail(\"inside\"))");
        FAIL() << "no error";
    } catch (const scriptExecException& e) {
        const std::string chain = chainText(e);
        EXPECT_EQ(chain.find("Error executing script \"while("), 0u) << chain;
        EXPECT_NE(chain.find("failed inside"), std::string::npos) << chain;
    }
}

// ---------------------------------------------------------------------------------------------
// for_each

TEST_F(Flow, ForEachOverArrays) {
    run(u"for_each(x, flarray(\"a\", flempty(), \"c\"), fllog(flget(x)))");
    EXPECT_EQ(log(), "a empty c");
    gLog.clear();
    run(u"for_each(x, flarray(), fllog(\"never\"))");
    EXPECT_EQ(log(), "");
    // The variable is gone after the loop.
    EXPECT_EQ(context.variableAddress(scString(u"x")), nullptr);
}

TEST_F(Flow, ForEachWalksACopyOfTheArray) {
    run(u"{flset(arr, flarray(\"1\", \"2\")); for_each(x, flget(arr), {flpush(arr, \"n\"); fllog(flget(x))});"
        u" fllog(flget(arr))}");
    EXPECT_EQ(log(), "1 2 [1,2,n,n]");
}

TEST_F(Flow, ForEachLoopVariableNameAsWritten) {
    run(u"for_each(Item, flarray(\"a\"), fllog(flget(Item)))");
    EXPECT_EQ(log(), "a");
    EXPECT_NE(runError(u"for_each(Item, flarray(\"a\"), fllog(flget(item)))").find("Variable \"item\" not found"),
              std::string::npos);
}

TEST_F(Flow, ForEachKeepsAnExistingVariable) {
    run(u"{flset(x, \"outer\"); for_each(x, flarray(\"a\", \"b\"), fllog(flget(x)))}");
    EXPECT_EQ(log(), "outer outer");
}

TEST_F(Flow, ForEachConversionErrors) {
    EXPECT_NE(runError(u"for_each(x, \"5\", fllog(\"x\"))").find("error converting \"5\" to an iterator - object"),
              std::string::npos);
    EXPECT_NE(runError(u"for_each(x, flempty(), fllog(\"x\"))").find("error converting variable to an iterator - object"),
              std::string::npos);
    EXPECT_EQ(log(), "");
}

TEST_F(Flow, ForEachConstruction) {
    assertCollector asserts;
    EXPECT_THROW(parse(u"for_each(x, flarray())"), bool);
    ASSERT_EQ(asserts.reports.size(), 1u);
    EXPECT_EQ(asserts.reports[0], "for_each::createFrom: number of parameters < 3");
    // An empty body runs nothing and creates no variable.
    run(u"for_each(x, flarray(\"a\"), {})");
    EXPECT_EQ(context.variableAddress(scString(u"x")), nullptr);
}

TEST_F(Flow, ForEachOverHostCollection) {
    auto* list = host.create<testhost::collection>();
    auto* a = host.create<testhost::plainObject>(1);
    auto* b = host.create<testhost::plainObject>(2);
    list->add(a->identity());
    list->addNull();
    list->add(b->identity());
    context.createVariable(scString(u"list"), testhost::reference(list));
    const auto refsBefore = host.references();

    run(u"for_each(e, flget(list), {fllog(flget(e)); flset(keep, flget(e))})");
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

    run(u"for_each(e, flget(list), {fllog(flget(e)); break()})");
    EXPECT_EQ(host.references(), refsBefore);
    EXPECT_NE(runError(u"for_each(e, flget(list), flfail(\"stop\"))"), "");
    EXPECT_EQ(host.references(), refsBefore);
    run(u"for_each(e, flget(list), {fllog(flget(e)); continue(); fllog(\"never\")})");
    EXPECT_EQ(host.references(), refsBefore);
    // A returned element stays referenced by "#return#" until that is deleted.
    run(u"for_each(e, flget(list), if(\"1\", return(flget(e))))");
    EXPECT_EQ(host.references(), refsBefore + 1);
    context.deleteParameter(scriptcontext::returnparam());
    EXPECT_EQ(host.references(), refsBefore);
    EXPECT_EQ(log(), "obj1 obj1 obj2 obj3");
    EXPECT_EQ(host.overReleases(), 0u);

}

TEST_F(Flow, ForEachOverNullAndOverObjectsWithoutIterator) {
    auto* rec = host.create<testhost::record>();
    auto* list = host.create<testhost::collection>();
    list->add(rec->identity());
    context.createVariable(scString(u"rec"), testhost::reference(rec));
    context.createVariable(scString(u"list"), testhost::reference(list));
    EXPECT_EQ(runError(u"for_each(x, nullref(), fllog(\"never\"))"), "");
    EXPECT_EQ(runError(u"for_each(x, flget(rec), fllog(\"never\"))"), "");
    // Without a body the host is not asked for elements.
    run(u"for_each(x, flget(list), {})");
    EXPECT_EQ(list->firstCalls, 0u);
    EXPECT_EQ(log(), "");
}

TEST_F(Flow, ForEachOverEmptyHostCollection) {
    auto* list = host.create<testhost::collection>();
    context.createVariable(scString(u"list"), testhost::reference(list));
    run(u"for_each(x, flget(list), fllog(\"never\"))");
    EXPECT_EQ(list->firstCalls, 1u);
    EXPECT_EQ(list->nextCalls, 0u);
    EXPECT_EQ(log(), "");
}

// ---------------------------------------------------------------------------------------------
// return, treatasfunction, nullref

TEST_F(Flow, ReturnStopsTheSequence) {
    zt::genericValue r = run(u"{fllog(\"a\"); return(\"5\"); fllog(\"b\")}");
    EXPECT_EQ(text(r), "5");
    EXPECT_EQ(log(), "a");
}

TEST_F(Flow, TreatAsFunction) {
    zt::genericValue r =
        run(u"{flset(v, treatasfunction({return(\"5\"); flset(w, \"1\")})); fllog(flget(v)); fllog(\"goes on\")}");
    EXPECT_EQ(log(), "5 goes on");
    EXPECT_TRUE(r.isEmpty());
    EXPECT_EQ(context.parameterAddress(scriptcontext::returnparam()), nullptr);
    // Without a return the value is what the block yields.
    gLog.clear();
    run(u"fllog(treatasfunction(flarray(\"x\")))");
    run(u"fllog(treatasfunction())");
    EXPECT_EQ(log(), "[x] empty");
}

TEST_F(Flow, TreatAsFunctionStopsBreakAtItsBoundary) {
    run(u"{flset(i, \"0\"); while(flless(flget(i), \"3\"), {flinc(i); treatasfunction({break(); fllog(\"never\")});"
        u" fllog(flget(i))})}");
    EXPECT_EQ(log(), "1 2 3");
}

TEST_F(Flow, TreatAsFunctionWrapsErrors) {
    std::string chain = runError(u"treatasfunction(throwmessage(\"plain\"))");
    EXPECT_EQ(chain.find("Error executing script \"treatasfunction("), 0u) << chain;
    chain = runError(u"treatasfunction(flfail(\"deep\"))");
    EXPECT_NE(chain.find("failed deep"), std::string::npos) << chain;
}

TEST_F(Flow, NullRefIsANullReferenceNotAnEmptyValue) {
    zt::genericValue r = run(u"nullref(\"ignored\")");
    ASSERT_FALSE(r.isEmpty());
    const unknownptr* p = r.constPtrTo<unknownptr>();
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->isValid());
    EXPECT_EQ(scriptTypeNameOf(r), u"unknownptr");
}

// ---------------------------------------------------------------------------------------------
// Messages and assertions

TEST_F(Flow, ThrowError) {
    std::string chain = runError(u"throwerror(\"Disk full\")");
    EXPECT_EQ(chain.find("Error executing script \"throwerror(\"Disk full\")\""), 0u) << chain;
    EXPECT_NE(chain.find("\nDisk full\n"), std::string::npos) << chain;
    chain = runError(u"throwerror(\"\")");
    EXPECT_NE(chain.find("(Error retrieving throwerror-Message)"), std::string::npos) << chain;
    chain = runError(u"throwerror(flempty())");
    EXPECT_NE(chain.find("(Error retrieving throwerror-Message)"), std::string::npos) << chain;
    // The text is not a format.
    chain = runError(u"throwerror(\"100%s [x]\")");
    EXPECT_NE(chain.find("\n100%s [x]\n"), std::string::npos) << chain;
    EXPECT_THROW(parse(u"throwerror()"), errParsingException);
}

TEST_F(Flow, ThrowMessagePassesStatementsUnchanged) {
    clonePtr<statement> st(parse(u"{fllog(\"a\"); if(\"1\", throwmessage(\"Done\")); fllog(\"b\")}"));
    zt::genericValue r;
    try {
        st->exec(context, r);
        FAIL() << "no message";
    } catch (const zt::string& s) {
        EXPECT_EQ(s, u"Done");
    }
    EXPECT_EQ(log(), "a");
    std::string chain = runError(u"throwmessage(\"\")");
    EXPECT_NE(chain.find("(Error retrieving throwmessage-Message)"), std::string::npos) << chain;
    chain = runError(u"throwmessage(flarray())");
    EXPECT_NE(chain.find("(Error retrieving throwmessage-Message)"), std::string::npos) << chain;
}

TEST_F(Flow, ThrowMessageInsideALoopBecomesALoopError) {
    for (const char16_t* text : {u"while(\"1\", throwmessage(\"Done\"))",
                                 u"for_each(x, flarray(\"1\"), throwmessage(\"Done\"))"}) {
        try {
            run(text);
            FAIL() << "no error";
        } catch (const scriptExecException& e) {
            EXPECT_EQ(chainText(e).find("Error executing script \""), 0u);
        } catch (const zt::string&) {
            FAIL() << "the message passed the loop";
        }
    }
}

TEST_F(Flow, AssertReportsAndGoesOn) {
    assertCollector asserts;
    run(u"{assert(\"x %d [y]\"); assert(\"\"); fllog(\"after\")}");
    ASSERT_EQ(asserts.reports.size(), 2u);
    EXPECT_EQ(asserts.reports[0], "x %d [y]");
    EXPECT_EQ(asserts.reports[1], "");
    EXPECT_EQ(log(), "after");
    EXPECT_NE(runError(u"assert(flempty())").find("(Error retrieving assert-Message)"), std::string::npos);
}

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

    answer = zt::IDYES;
    EXPECT_EQ(text(run(u"messagebox(\"Proceed?\", \"YesNo\", \"Question\")")), "yes");
    EXPECT_EQ(calls.back().flags, zt::MB_YESNO | zt::MB_ICONQUESTION);
    answer = zt::IDNO;
    EXPECT_EQ(text(run(u"messagebox(\"Proceed?\", \"yesnocancel\", \"warning\", \"My Title\")")), "no");
    EXPECT_EQ(calls.back().flags, zt::MB_YESNOCANCEL | zt::MB_ICONEXCLAMATION);
    EXPECT_EQ(calls.back().caption, u"My Title");
    answer = zt::IDCANCEL;
    EXPECT_EQ(text(run(u"messagebox(\"t\", \"okcancel\", \"hand\")")), "cancel");
    EXPECT_EQ(calls.back().flags, zt::MB_OKCANCEL | zt::MB_ICONSTOP);
    answer = zt::IDRETRY;
    EXPECT_EQ(text(run(u"messagebox(\"t\", \"RETRYCANCEL\", \"Asterisk\")")), "retry");
    EXPECT_EQ(calls.back().flags, zt::MB_RETRYCANCEL | zt::MB_ICONINFORMATION);
    // Unknown words select nothing; a title that is not text keeps the default.
    answer = zt::IDABORT;
    EXPECT_EQ(text(run(u"messagebox(\"t\", \"abort\", \"smile\", flarray())")), "");
    EXPECT_EQ(calls.back().flags, 0u);
    EXPECT_EQ(calls.back().caption, u"Vantrel");

    // The result replaces whatever the result held.
    clonePtr<statement> st(parse(u"messagebox(\"t\")"));
    zt::genericValue typed = zt::genericValue::of(5);
    answer = zt::IDOK;
    st->exec(context, typed);
    EXPECT_EQ(text(typed), "ok");
    EXPECT_TRUE(typed.is<zt::string>());

    EXPECT_NE(runError(u"messagebox(flempty())").find("(Error retrieving messagebox-Message)"), std::string::npos);

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
    zt::setMessageBoxHandler(previous);
}

TEST_F(Flow, MessageBoxWithoutHandlerAnswersNothing) {
    auto previous = zt::setMessageBoxHandler(nullptr);
    zt::genericValue r = run(u"messagebox(\"Text\")");
    EXPECT_TRUE(r.is<zt::string>());
    EXPECT_EQ(text(r), "");
    zt::setMessageBoxHandler(previous);
}

TEST_F(Flow, ExecutablePath) {
    zt::genericValue r = run(u"executablepath(\"ignored\", \"too\")");
    ASSERT_TRUE(r.is<zt::string>());
    EXPECT_EQ(*r.constPtrTo<zt::string>(), zt::getModulePath(u""));
    EXPECT_FALSE(r.constPtrTo<zt::string>()->empty());
}

// ---------------------------------------------------------------------------------------------
// callfunction

class FlowCalls : public Flow {
protected:
    zt::genericValue call(const std::string& file, const std::string& function, std::vector<zt::genericValue> args = {}) {
        zt::genericValue result;
        codeManager::instance()->executeFunction(folder.base(), zt::string::fromUtf8("script$" + file + "$" + function),
                                                 context, args, result);
        return result;
    }
    scriptFolder folder;
};

TEST_F(FlowCalls, CallsAcrossFilesShareGlobals) {
    const std::string a = uniqueName("flow_a"), b = uniqueName("flow_b");
    folder.write(a + ".ztscr", "scrdef main()\n"
                               "{\n"
                               "  flglobal(fromcaller, \"c\");\n"
                               "  flset(r, callfunction(script$" + b + "$twice, \"x\", flarray(\"y\")));\n"
                               "  fllog(flget(r));\n"
                               "  fllog(flget(fromcallee));\n"
                               "  return(flget(r))\n"
                               "}\n");
    folder.write(b + ".ztscr", "scrdef twice(in<string> first, in<array> second, in<string> third = \"d\")\n"
                               "{\n"
                               "  fllog(flget(first)); fllog(flget(second)); fllog(flget(third));\n"
                               "  fllog(flget(fromcaller));\n"
                               "  flglobal(fromcallee, \"e\");\n"
                               "  return(\"r\")\n"
                               "}\n");
    zt::genericValue r = call(a, "main");
    EXPECT_EQ(text(r), "r");
    EXPECT_EQ(log(), "x [y] d c r e");
}

TEST_F(FlowCalls, ScriptBasePathFollowsTheCalledFile) {
    const std::string a = uniqueName("flow_a"), c = uniqueName("flow_c"), d = uniqueName("flow_d");
    folder.write(a + ".ztscr", "scrdef main()\n"
                               "{ callfunction(script$sub/" + c + "$f); callfunction(script$" + d + "$g) }\n");
    folder.write("sub/" + c + ".ztscr", "scrdef f()\nfllog(\"in c\")\n");
    // d exists only in the subfolder: the second call finds it through the callee's folder.
    folder.write("sub/" + d + ".ztscr", "scrdef g()\nfllog(\"in d\")\n");
    call(a, "main");
    EXPECT_EQ(log(), "in c in d");
    zt::string base;
    ASSERT_TRUE(context.globalContextVariable(scriptcontext::scriptbasepath()).get(base));
    EXPECT_TRUE(base.endsWith(zt::string::fromUtf8(testlib::native("sub/")))) << base.toUtf8();
}

TEST_F(FlowCalls, MissingScriptBasePathFailsAfterTheArguments) {
    clonePtr<statement> st(parse(u"callfunction(script$nowhere$f, fllog(\"arg\"))"));
    zt::genericValue r;
    EXPECT_THROW(st->exec(context, r), scriptExecException);
    EXPECT_EQ(log(), "arg");
    try {
        st->exec(context, r);
    } catch (const zt::exception& e) {
        EXPECT_NE(chainText(e).find("Global variable \"scriptbasepath\" not found"), std::string::npos);
    }
}

TEST_F(FlowCalls, ArgumentErrors) {
    context.setGlobalContextVariable(scriptcontext::scriptbasepath(), zt::genericValue::of(folder.base()));
    const std::string chain = runError(u"callfunction(script$nowhere$f, flfail(\"arg\"))");
    EXPECT_NE(chain.find("(Error retrieving script-parameter)"), std::string::npos) << chain;
    EXPECT_NE(chain.find("failed arg"), std::string::npos) << chain;
}

TEST_F(FlowCalls, Construction) {
    assertCollector asserts;
    EXPECT_THROW(parse(u"callfunction()"), bool);
    EXPECT_THROW(parse(u"callfunction(no dollar)"), bool);
    EXPECT_THROW(parse(u"callfunction(script$$f)"), bool);
    ASSERT_EQ(asserts.reports.size(), 3u);
    EXPECT_EQ(asserts.reports[0], "callFunction::createFrom: number of parameters < 1");
    EXPECT_EQ(asserts.reports[1], "callFunction::createFrom: error parsing \"no dollar\"");
    EXPECT_EQ(asserts.reports[2], "callFunction::createFrom: error parsing \"script$$f\"");
    // The code id is a plain text: written in quotation marks it is no code call.
    EXPECT_THROW(parse(u"callfunction(\"script$a$f\")"), bool);
    // A library call parses, and running it leaves the result alone.
    context.setGlobalContextVariable(scriptcontext::scriptbasepath(), zt::genericValue::of(folder.base()));
    clonePtr<statement> dll(parse(u"callfunction(dll$lib$entry)"));
    ASSERT_TRUE(dll);
    zt::genericValue r = zt::genericValue::of(zt::string(u"kept"));
    dll->exec(context, r);
    EXPECT_EQ(text(r), "kept");
}

TEST_F(FlowCalls, ThrowMessageReachesTheHost) {
    const std::string a = uniqueName("flow_msg");
    folder.write(a + ".ztscr", "scrdef top()\n{ fllog(\"before\"); throwmessage(\"Done\"); fllog(\"after\") }\n"
                               "scrdef inloop()\nwhile(\"1\", throwmessage(\"Done\"))\n");
    try {
        call(a, "top");
        FAIL() << "no message";
    } catch (const scriptExecException& e) {
        EXPECT_EQ(e.text().toUtf8().find("Error executing script \"Done\n\ntop\""), 0u) << e.text().toUtf8();
        EXPECT_EQ(e.inner(), nullptr);
    }
    EXPECT_EQ(log(), "before");
    try {
        call(a, "inloop");
        FAIL() << "no error";
    } catch (const scriptExecException& e) {
        const std::string chain = chainText(e);
        EXPECT_EQ(chain.find("Error executing script \"inloop\""), 0u) << chain;
        EXPECT_NE(chain.find("Error executing script \"while("), std::string::npos) << chain;
    }
}

// Endless recursion and very deep statement trees end with an error, not with a crash. The
// limits: 500 nested statements in one text, 2000 nested statement executions, 200 nested
// callfunction calls (per thread).
constexpr size_t kStackBudget = 6u << 20; // of the default 8 MB

size_t stackUsedSince(const char* top) { return gLowestFrame ? static_cast<size_t>(top - gLowestFrame) : 0; }

TEST_F(FlowCalls, EndlessRecursionFailsCleanly) {
    const std::string r = uniqueName("flow_rec");
    folder.write(r + ".ztscr", "scrdef down()\n{ fllog(\"x\"); flmark(); callfunction(script$" + r + "$down) }\n");
    gLowestFrame = nullptr;
    const char* top = static_cast<const char*>(__builtin_frame_address(0));
    try {
        call(r, "down");
        FAIL() << "no error";
    } catch (const scriptExecException& e) {
        EXPECT_NE(chainText(e).find("function calls nested deeper than 200 levels"), std::string::npos);
    }
    EXPECT_EQ(gLog.size(), 201u); // the host's call and 200 nested ones
    EXPECT_LT(stackUsedSince(top), kStackBudget);
    std::cout << "[ stack    ] 200 nested calls: " << stackUsedSince(top) / 1024 << " KiB\n";

    // The depth is given back: calls work afterwards.
    gLog.clear();
    const std::string ok = uniqueName("flow_ok");
    folder.write(ok + ".ztscr", "scrdef f()\nfllog(\"fine\")\n");
    call(ok, "f");
    EXPECT_EQ(log(), "fine");
}

TEST_F(FlowCalls, RecursionThroughDeepBodiesHitsTheStatementLimit) {
    // Each call nests 60 statements: the statement limit comes before the call limit.
    std::string body = "{fllog(\"x\"); flmark(); callfunction(script$@$deep)}";
    for (int i = 0; i < 58; ++i) body = "treatasfunction(" + body + ")";
    const std::string r = uniqueName("flow_deep");
    std::string text = "scrdef deep()\n{" + body + "}\n";
    text.replace(text.find('@'), 1, r);
    folder.write(r + ".ztscr", text);
    gLowestFrame = nullptr;
    const char* top = static_cast<const char*>(__builtin_frame_address(0));
    try {
        call(r, "deep");
        FAIL() << "no error";
    } catch (const scriptExecException& e) {
        EXPECT_NE(chainText(e).find("statements nested deeper than 2000 levels"), std::string::npos);
    }
    EXPECT_GT(gLog.size(), 20u);
    EXPECT_LT(gLog.size(), 200u);
    EXPECT_LT(stackUsedSince(top), kStackBudget);
    std::cout << "[ stack    ] 2000 nested statements: " << stackUsedSince(top) / 1024 << " KiB\n";
}

TEST_F(Flow, DeeplyNestedTextFailsToParse) {
    for (int depth : {501, 3000}) {
        zt::string text;
        for (int i = 0; i < depth; ++i) text += u"treatasfunction(";
        text += u"fllog(\"deep\")";
        for (int i = 0; i < depth; ++i) text += u")";
        try {
            clonePtr<statement> st(parse(text));
            FAIL() << "no error at depth " << depth;
        } catch (const errParsingException& e) {
            EXPECT_NE(chainText(e).find("statements nested deeper than 500 levels"), std::string::npos);
        }
    }
    // 500 levels parse and run (the sequence and its statements are one level each).
    zt::string text;
    for (int i = 0; i < 498; ++i) text += u"treatasfunction(";
    text += u"{flmark(); fllog(\"fine\")}";
    for (int i = 0; i < 498; ++i) text += u")";
    gLowestFrame = nullptr;
    const char* top = static_cast<const char*>(__builtin_frame_address(0));
    run(text);
    EXPECT_EQ(log(), "fine");
    EXPECT_LT(stackUsedSince(top), kStackBudget);
    std::cout << "[ stack    ] 500 nested statements parsed and run: " << stackUsedSince(top) / 1024 << " KiB\n";
}

} // namespace
