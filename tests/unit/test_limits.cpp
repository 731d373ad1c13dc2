// Execution limits a host puts on a call: statement count, deadline and cancel flag.
#include "testlib.h"

#include <ztstatements.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace zt::script;
using namespace std::chrono_literals;

namespace {

// What the host callbacks below work with: the folder of the script file, and the cancel flag
// of the running call (null when it has none).
struct limitsHostState {
    std::string base;
    std::atomic<bool>* cancel = nullptr;
    std::vector<std::string> swallowed; // innermost messages of the failures lim_swallow caught
} gHost;

// The innermost exception of a chain.
const zt::exception& innermostOf(const zt::exception& e) {
    const zt::exception* p = &e;
    while (p->inner()) p = p->inner();
    return *p;
}

// Host statements that run script functions of limits.ztscr from inside a running call, as a
// host callback does:
//   lim_call(function, steps [, arg])  calls function(arg) with a context of its own, limited
//                                      to steps statements, and yields its result
//   lim_swallow(function)              calls function without limits of its own and swallows
//                                      its failure; when the running call has a cancel flag,
//                                      sets it for the inner call and clears it afterwards
class lim_call : public namedParameterStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<lim_call>(u"test", __LINE__, u"lim_call", params, flags, u"function", true, u"steps", true,
                               u"arg", false, nullptr);
    }
    statement* clone() const override { return new lim_call(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        scriptcontext inner;
        executionLimits limits;
        limits.maxSteps = static_cast<std::uint64_t>(valueAs<int>(u"steps", context, u"no step count"));
        inner.setLimits(limits);
        std::vector<genericValue> args;
        if (hasParam(u"arg")) args.push_back(genericValue::of(text(u"arg", context, u"no argument")));
        codeManager::instance()->executeFunction(zt::string::fromUtf8(gHost.base),
                                                 u"script$limits$" + text(u"function", context, u"no function"), inner,
                                                 args, result);
    }
};

class lim_swallow : public namedParameterStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<lim_swallow>(u"test", __LINE__, u"lim_swallow", params, flags, u"function", true, nullptr);
    }
    statement* clone() const override { return new lim_swallow(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        scriptcontext inner;
        std::vector<genericValue> args;
        if (gHost.cancel) gHost.cancel->store(true);
        try {
            codeManager::instance()->executeFunction(zt::string::fromUtf8(gHost.base),
                                                     u"script$limits$" + text(u"function", context, u"no function"),
                                                     inner, args, result);
        } catch (const zt::exception& e) {
            gHost.swallowed.push_back(innermostOf(e).text().toUtf8());
        }
        if (gHost.cancel) gHost.cancel->store(false);
    }
};

statement* limitsHost(const zt::string& keyword, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                      int flags) {
    if (keyword == u"lim_call") return lim_call::createFrom(params, flags);
    if (keyword == u"lim_swallow") return lim_swallow::createFrom(params, flags);
    return nullptr;
}

scriptModule gLimitsHost(&limitsHost);

class Limits : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testlib::install();
        gLimitsHost.registerModule();
    }

    void SetUp() override {
        gHost = limitsHostState{};
        gHost.base = dir.path;
        dir.write("limits.ztscr", "scrdef endless()\n"
                                  "{\n"
                                  "  createvar(n, add<int>(\"0\", \"0\"));\n"
                                  "  while(\"1\", { setvar(n, add<int>(n, \"1\")) })\n"
                                  "}\n"
                                  "scrdef count(in<int> upto)\n"
                                  "{\n"
                                  "  createvar(n, add<int>(\"0\", \"0\"));\n"
                                  "  while(issmaller<int>(n, upto), { setvar(n, add<int>(n, \"1\")) });\n"
                                  "  return(n)\n"
                                  "}\n"
                                  "scrdef outer()\n"
                                  "{\n"
                                  "  return(callfunction(script$limits$endless))\n"
                                  "}\n"
                                  "scrdef doubling()\n"
                                  "  createvar(s, \"x\");\n"
                                  "  while(\"1\", setvar(s, add<string>(s, s)))\n"
                                  "scrdef growing()\n"
                                  "  createvar(a, createarray());\n"
                                  "  addtoarray(a, \"x\");\n"
                                  "  while(\"1\", addtoarray(a, a))\n"
                                  "scrdef modest()\n"
                                  "  createvar(s, \"x\");\n"
                                  "  createvar(i, add<int>(\"0\", \"0\"));\n"
                                  "  while(issmaller<int>(i, \"10\"), { setvar(s, add<string>(s, s)); setvar(i, add<int>(i, \"1\")) });\n"
                                  "  return(strlen(s))\n"
                                  "scrdef hostnested(in steps)\n"
                                  "  return(lim_call(\"count\", steps, \"3000\"))\n"
                                  "scrdef reads()\n"
                                  "  createvar(a, add<int>(\"1\", \"0\"));\n"
                                  "  return(add<int>(a, a))\n"
                                  "scrdef counted()\n"
                                  "{ tcount(); tcount(); tcount(); tcount(); tcount(); tcount(); tcount(); tcount() }\n"
                                  "scrdef swallowing()\n"
                                  "  lim_swallow(\"endless\");\n"
                                  "  return(\"ran on\")\n");
    }
    void TearDown() override { gHost = limitsHostState{}; }

    // Runs the function; returns the innermost exception of the failure's chain (null when the
    // call succeeded) and keeps the whole chain for messages.
    const executionLimitException* call(scriptcontext& context, const char16_t* function,
                                        std::vector<zt::genericValue> args = {}) {
        failure.reset();
        result.clear();
        try {
            codeManager::instance()->executeFunction(zt::string::fromUtf8(dir.path), zt::string(u"script$limits$") + function,
                                                     context, args, result);
        } catch (const zt::exception& e) {
            failure.reset(e.clone());
        }
        const zt::exception* innermost = failure.get();
        while (innermost && innermost->inner()) innermost = innermost->inner();
        return dynamic_cast<const executionLimitException*>(innermost);
    }

    testlib::tempDir dir;
    std::unique_ptr<zt::exception> failure;
    zt::genericValue result;
};

// Values that double on every round (a text, an array added to itself) are stopped by the
// memory limit long before they exhaust the machine; a call that stays below it is not.
TEST_F(Limits, MemoryLimitStopsValuesThatGrowWithoutEnd) {
    if (zt::heapInUse() == 0) GTEST_SKIP() << "this system reports no heap size (Wine gives 0 private bytes)";
    executionLimits limits;
    limits.maxMemory = 20'000'000;
    for (const char16_t* function : {u"doubling", u"growing"}) {
        scriptcontext context;
        context.setLimits(limits);
        const executionLimitException* hit = call(context, function);
        ASSERT_NE(hit, nullptr) << (failure ? testlib::chainText(*failure) : std::string("no failure"));
        EXPECT_EQ(hit->which(), executionLimitException::limit::memory);
        EXPECT_NE(testlib::chainText(*failure).find("limit of 20000000 bytes of memory"), std::string::npos)
            << testlib::chainText(*failure);
    }
    scriptcontext context;
    context.setLimits(limits);
    EXPECT_EQ(call(context, u"modest"), nullptr) << (failure ? testlib::chainText(*failure) : std::string());
    EXPECT_FALSE(failure);
}

TEST_F(Limits, StepLimitEndsAnEndlessLoop) {
    scriptcontext context;
    executionLimits limits;
    limits.maxSteps = 1000;
    context.setLimits(limits);
    const executionLimitException* hit = call(context, u"endless");
    ASSERT_NE(hit, nullptr) << (failure ? testlib::chainText(*failure) : std::string("no failure"));
    EXPECT_EQ(hit->which(), executionLimitException::limit::steps);
    EXPECT_NE(testlib::chainText(*failure).find("limit of 1000 executed statements"), std::string::npos)
        << testlib::chainText(*failure);
    // The outermost exception is the engine's usual execution error.
    EXPECT_NE(dynamic_cast<const scriptExecException*>(failure.get()), nullptr);
}

// A limit of N lets exactly N statements run: the body's block is one, the statements in it the
// others, and the first statement beyond the limit does not run.
TEST_F(Limits, AStepLimitOfNRunsNStatements) {
    for (std::uint64_t steps : {1u, 2u, 5u, 8u}) {
        SCOPED_TRACE(steps);
        scriptcontext context;
        executionLimits limits;
        limits.maxSteps = steps;
        context.setLimits(limits);
        testlib::executions = 0;
        const executionLimitException* hit = call(context, u"counted");
        EXPECT_EQ(testlib::executions.load(), static_cast<int>(steps) - 1);
        ASSERT_NE(hit, nullptr) << (failure ? testlib::chainText(*failure) : std::string("no failure"));
        EXPECT_EQ(hit->which(), executionLimitException::limit::steps);
    }
    scriptcontext context;
    executionLimits limits;
    limits.maxSteps = 9; // the block and its eight statements
    context.setLimits(limits);
    testlib::executions = 0;
    EXPECT_EQ(call(context, u"counted"), nullptr) << (failure ? testlib::chainText(*failure) : std::string());
    EXPECT_EQ(testlib::executions.load(), 8);
}

// Reading a variable is a statement of its own, also as an operand: seven steps are the body,
// createvar, its add, return, its add and the two reads of a.
TEST_F(Limits, VariableReadsAreSteps) {
    for (std::uint64_t steps : {6u, 7u}) {
        SCOPED_TRACE(steps);
        scriptcontext context;
        executionLimits limits;
        limits.maxSteps = steps;
        context.setLimits(limits);
        const executionLimitException* hit = call(context, u"reads");
        EXPECT_EQ(hit != nullptr, steps < 7) << (failure ? testlib::chainText(*failure) : std::string("no failure"));
    }
}

TEST_F(Limits, StepLimitLeavesCallsWithinItAlone) {
    scriptcontext context;
    executionLimits limits;
    limits.maxSteps = 10000;
    context.setLimits(limits);
    EXPECT_EQ(call(context, u"count", {zt::genericValue::of(zt::string(u"100"))}), nullptr);
    ASSERT_FALSE(failure) << testlib::chainText(*failure);
    { int n = 0; ASSERT_TRUE(result.get(n)); EXPECT_EQ(n, 100); }

    // The same loop, longer, runs into it: the limit counts nested statements too.
    scriptcontext again;
    again.setLimits(limits);
    EXPECT_NE(call(again, u"count", {zt::genericValue::of(zt::string(u"10000"))}), nullptr);
}

TEST_F(Limits, DeadlineEndsAnEndlessLoop) {
    scriptcontext context;
    executionLimits limits;
    const auto start = std::chrono::steady_clock::now();
    limits.deadline = start + 100ms;
    context.setLimits(limits);
    const executionLimitException* hit = call(context, u"endless");
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->which(), executionLimitException::limit::time);
    EXPECT_GE(took, 100ms);
    EXPECT_LT(took, 10s);
    EXPECT_NE(testlib::chainText(*failure).find("time limit ran out"), std::string::npos);
}

TEST_F(Limits, CancelFlagSetFromAnotherThread) {
    scriptcontext context;
    std::atomic<bool> cancel{false};
    executionLimits limits;
    limits.cancel = &cancel;
    context.setLimits(limits);
    std::thread canceller([&] {
        std::this_thread::sleep_for(50ms);
        cancel.store(true);
    });
    const executionLimitException* hit = call(context, u"endless");
    canceller.join();
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->which(), executionLimitException::limit::cancelled);
    EXPECT_NE(testlib::chainText(*failure).find("The call was cancelled"), std::string::npos);
}

TEST_F(Limits, LimitsHoldInCalledFunctions) {
    scriptcontext context;
    executionLimits limits;
    limits.maxSteps = 500;
    context.setLimits(limits);
    const executionLimitException* hit = call(context, u"outer");
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->which(), executionLimitException::limit::steps);
}

TEST_F(Limits, EndWithTheirCall) {
    {
        scriptcontext limited;
        executionLimits limits;
        limits.maxSteps = 50;
        limited.setLimits(limits);
        ASSERT_NE(call(limited, u"endless"), nullptr);
    }
    // A later call without limits on this thread runs to its end.
    scriptcontext free;
    EXPECT_EQ(call(free, u"count", {zt::genericValue::of(zt::string(u"5000"))}), nullptr);
    ASSERT_FALSE(failure) << testlib::chainText(*failure);
    { int n = 0; ASSERT_TRUE(result.get(n)); EXPECT_EQ(n, 5000); }
}

// A host callback that makes a limited call of its own while a limited call runs on the thread
// gets both limits: the smaller one stops the inner call, whichever call set it.
TEST_F(Limits, ALimitedCallFromAHostCallbackIsBoundByTheOuterLimitToo) {
    const struct {
        std::uint64_t outer, inner, stoppedAt; // 0: not stopped
    } cases[] = {{100, 1'000'000, 100}, {1'000'000, 100, 100}, {1'000'000, 1'000'000, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE("outer " + std::to_string(c.outer) + ", inner " + std::to_string(c.inner));
        scriptcontext context;
        executionLimits limits;
        limits.maxSteps = c.outer;
        context.setLimits(limits);
        const executionLimitException* hit =
            call(context, u"hostnested", {zt::genericValue::of(zt::string::fromUtf8(std::to_string(c.inner)))});
        if (c.stoppedAt == 0) {
            ASSERT_FALSE(failure) << testlib::chainText(*failure);
            int n = 0;
            ASSERT_TRUE(result.get(n));
            EXPECT_EQ(n, 3000);
            continue;
        }
        ASSERT_NE(hit, nullptr) << (failure ? testlib::chainText(*failure) : std::string("not stopped"));
        EXPECT_EQ(hit->which(), executionLimitException::limit::steps);
        EXPECT_NE(testlib::chainText(*failure).find("limit of " + std::to_string(c.stoppedAt) + " executed statements"),
                  std::string::npos)
            << testlib::chainText(*failure);
    }
}

// Once a call has hit a limit, every further statement of it fails, also when a host callback
// swallowed the failure and its cause is gone: the cancel flag cleared again, or the clock not
// looked at for the next 63 statements.
TEST_F(Limits, AHitLimitStaysHitAfterAHostCallbackSwallowedIt) {
    for (const bool byCancel : {true, false}) {
        SCOPED_TRACE(byCancel ? "cancel flag" : "deadline");
        std::atomic<bool> cancel{false};
        executionLimits limits;
        if (byCancel) limits.cancel = &cancel;
        else limits.deadline = std::chrono::steady_clock::now() + 20ms;
        gHost.cancel = byCancel ? &cancel : nullptr;
        gHost.swallowed.clear();
        scriptcontext context;
        context.setLimits(limits);
        const executionLimitException* hit = call(context, u"swallowing");
        ASSERT_EQ(gHost.swallowed.size(), 1u);
        EXPECT_EQ(gHost.swallowed[0], byCancel ? "The call was cancelled" : "The call was stopped: its time limit ran out");
        zt::string ranOn;
        result.get(ranOn);
        ASSERT_NE(hit, nullptr) << "the call went on and returned \"" << ranOn.toUtf8() << "\"";
        EXPECT_EQ(hit->which(), byCancel ? executionLimitException::limit::cancelled : executionLimitException::limit::time);
    }
}

} // namespace

namespace {

// Texts a host may be handed that are far larger or deeper than anyone writes: each ends with a
// clear result or error, never with a stack overflow.
class HugeScripts : public ::testing::Test {
protected:
    std::string run(const std::string& file, const char16_t* function, zt::genericValue& result) {
        scriptcontext context;
        std::vector<zt::genericValue> args;
        try {
            codeManager::instance()->executeFunction(zt::string::fromUtf8(dir.path),
                                                     u"script$" + zt::string::fromUtf8(file) + u"$" + function, context,
                                                     args, result);
        } catch (const zt::exception& e) {
            return testlib::chainText(e);
        }
        return "";
    }
    testlib::tempDir dir;
};

TEST_F(HugeScripts, TenThousandNestedCallsAreRefused) {
    std::string body;
    for (int i = 0; i < 10000; ++i) body += "add<int>(\"1\", ";
    body += "\"1\"";
    body += std::string(10000, ')');
    dir.write("deep.ztscr", "scrdef f()\n  return(" + body + ")\n");
    zt::genericValue result;
    EXPECT_NE(run("deep", u"f", result).find("statements nested deeper than 500 levels"), std::string::npos);
}

TEST_F(HugeScripts, AHundredThousandCharacterLineRuns) {
    dir.write("long.ztscr", "scrdef f()\n  return(strlen(\"" + std::string(100000, 'x') + "\"))\n");
    zt::genericValue result;
    ASSERT_EQ(run("long", u"f", result), "");
    zt::string text;
    ASSERT_TRUE(result.get(text));
    EXPECT_EQ(text, u"100000");
}

TEST_F(HugeScripts, AFileOfManyFunctionsLoads) {
    // About 5 MB: the first call reads and indexes every definition of the file.
    std::string content;
    content.reserve(5'500'000);
    for (int i = 0; i < 90000; ++i)
        content += "scrdef f" + std::to_string(i) + "()\n{\n  return(add<int>(\"1\", \"" + std::to_string(i) +
                   "\"))\n}\n";
    dir.write("many.ztscr", content);
    zt::genericValue result;
    ASSERT_EQ(run("many", u"f89999", result), "");
    int n = 0;
    ASSERT_TRUE(result.get(n));
    EXPECT_EQ(n, 90000);
}

} // namespace
