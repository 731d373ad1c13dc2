// Stack safety: deep recursion of scripts and deeply nested values end with the engine's errors
// on threads with small stacks (256 KB), and nothing changes on the default stack.
#include "testlib.h"

#include <ztcondition.h>
#include <ztscript.h>
#include <ztstack.h>

#include "../../tools/ztscript/demohost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <pthread.h>
#endif

using namespace zt::script;
using testlib::chainText;

namespace {

using arrayType = std::vector<zt::genericValue>;

constexpr std::size_t kSmallStack = 256u << 10;
constexpr std::size_t kLargeStack = 64u << 20;

// ---------------------------------------------------------------------------------------------
// Threads with a stack of a chosen size. On Linux the lowest address the thread's stack reached
// is recorded: the stack below the starting frame is filled with a pattern first and looked at
// when the work is done. (A Windows stack is committed page by page from the top down, so its
// lower part cannot be filled beforehand.)

#if !defined(_WIN32)
constexpr unsigned char kPattern = 0xA5;

#if defined(__GNUC__) || defined(__clang__)
#  define ZT_TEST_UNCHECKED __attribute__((noinline, no_sanitize_address))
#else
#  define ZT_TEST_UNCHECKED
#endif

ZT_TEST_UNCHECKED void paint(std::uintptr_t from, std::uintptr_t to) {
    for (auto* p = reinterpret_cast<volatile unsigned char*>(from); p < reinterpret_cast<volatile unsigned char*>(to); ++p)
        *p = kPattern;
}

ZT_TEST_UNCHECKED std::uintptr_t lowestTouched(std::uintptr_t from, std::uintptr_t to) {
    auto* p = reinterpret_cast<const volatile unsigned char*>(from);
    while (p < reinterpret_cast<const volatile unsigned char*>(to) && *p == kPattern) ++p;
    return reinterpret_cast<std::uintptr_t>(p);
}
#endif

struct stackRun {
    // What the work threw: the messages of the exception chain, "<false>" or "<other>"; empty
    // when it threw nothing. Kept as text: exceptions do not leave the thread.
    std::string failure;
    char kind = 0;              // 'p': an errParsingException, 'x': a scriptExecException
    std::uintptr_t low = 0;     // the low bound of the thread's stack
    std::uintptr_t lowest = 0;  // the lowest address the work wrote to; 0: not measured
    bool started = false;
    // How far below the margin's edge the stack was used (0 when it stayed above).
    std::size_t belowMargin() const {
        const std::uintptr_t edge = low + zt::stackMargin();
        return lowest < edge ? edge - lowest : 0;
    }
};

// Runs work on the calling thread and records what it threw.
void runCatching(const std::function<void()>& work, stackRun& run) {
    run.started = true;
    try {
        work();
    } catch (const zt::exception& e) {
        run.failure = chainText(e);
        if (dynamic_cast<const errParsingException*>(&e)) run.kind = 'p';
        if (dynamic_cast<const scriptExecException*>(&e)) run.kind = 'x';
    } catch (bool) {
        run.failure = "<false>";
    } catch (...) {
        run.failure = "<other>";
    }
}

struct stackJob {
    const std::function<void()>* work;
    stackRun* run;
    std::size_t size; // asked for
};

// Not inlined: the frame address it reads must be below the stack that startJob uses up.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((noinline))
#endif
void runJob(stackJob& job) {
    const zt::stackBounds& bounds = zt::currentStackBounds();
    job.run->low = bounds.low;
#if !defined(_WIN32)
    const std::uintptr_t paintTo = ZT_CURRENT_FRAME() - (16u << 10); // below this frame and paint's own
    const bool measured = bounds.known() && bounds.low < paintTo;
    if (measured) paint(bounds.low, paintTo);
#endif
    runCatching(*job.work, *job.run);
#if !defined(_WIN32)
    if (measured) job.run->lowest = lowestTouched(bounds.low, paintTo);
#endif
}

// Where the system gives more stack than asked for (Wine: at least 1 MB), the excess is used up
// first, so that the work has the size asked for left.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((noinline))
#endif
void startJob(stackJob& job) {
    const zt::stackBounds& bounds = zt::currentStackBounds();
    const std::size_t size = bounds.high - bounds.low;
    const std::size_t excess = bounds.known() && size > job.size + (64u << 10) ? size - job.size : 0;
    if (excess == 0) {
        runJob(job);
        return;
    }
    volatile char* used = static_cast<volatile char*>(__builtin_alloca(excess));
    used[0] = 0;
    runJob(job);
    used[1] = used[0];
}

#if defined(_WIN32)
DWORD WINAPI jobEntry(LPVOID p) {
    startJob(*static_cast<stackJob*>(p));
    return 0;
}
#else
void* jobEntry(void* p) {
    startJob(*static_cast<stackJob*>(p));
    return nullptr;
}
#endif

// Runs work on a new thread whose stack holds stackSize bytes and waits for it.
stackRun runWithStack(std::size_t stackSize, const std::function<void()>& work) {
    stackRun run;
    stackJob job{&work, &run, stackSize};
#if defined(_WIN32)
    // The size as reservation: otherwise it is only the part committed at first.
    HANDLE thread = ::CreateThread(nullptr, stackSize, &jobEntry, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackSize);
    pthread_t thread;
    if (pthread_create(&thread, &attr, &jobEntry, &job) == 0) pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#endif
    return run;
}

using testlib::contains;

void report(const char* what, const stackRun& run) {
    if (!run.lowest) return;
    std::cout << "[ stack    ] " << what << ": " << run.belowMargin() << " bytes used beyond the margin ("
              << zt::stackMargin() / 1024 << " KiB)\n";
}

// An array holding an array ... depth levels deep, built without copies.
zt::genericValue nestedArray(int depth) {
    zt::genericValue v;
    v.replace(arrayType{});
    for (int i = 1; i < depth; ++i) {
        arrayType outer;
        outer.push_back(std::move(v));
        v.replace(std::move(outer));
    }
    return v;
}

// The depth of an array built by nestedArray (or a copy of one).
int depthOf(const zt::genericValue& v) {
    int depth = 0;
    for (const zt::genericValue* p = &v; const arrayType* a = p->constPtrTo<arrayType>(); ++depth) {
        if (a->empty()) return depth + 1;
        p = &a->front();
    }
    return depth;
}

class StackSafety : public ::testing::Test {
protected:
    void SetUp() override { testlib::install(); }

    void write(const std::string& name, const std::string& text) { folder.write(name + ".ztscr", text); }

    // Calls script$file$function with no arguments on the calling thread.
    zt::genericValue call(const std::string& file, const std::string& function) {
        scriptcontext context;
        return testlib::callFunction(folder.path, file, function, context);
    }

    testlib::tempDir folder;
};

// ---------------------------------------------------------------------------------------------
// The stack facility

TEST(StackBounds, EveryThreadKnowsItsOwnStack) {
    const zt::stackBounds& b = zt::currentStackBounds();
    ASSERT_TRUE(b.known());
    const std::uintptr_t here = ZT_CURRENT_FRAME();
    EXPECT_LE(b.low, here);
    EXPECT_LT(here, b.high);
    EXPECT_EQ(&zt::currentStackBounds(), &b); // asked once, then kept
    EXPECT_FALSE(zt::stackIsShort());

    // Another thread knows its own.
    std::uintptr_t low = 0, high = 0;
    bool shortAtStart = true;
    const stackRun run = runWithStack(kSmallStack, [&] {
        low = zt::currentStackBounds().low;
        high = zt::currentStackBounds().high;
        shortAtStart = zt::stackIsShort();
    });
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(shortAtStart);
    EXPECT_GE(high - low, kSmallStack - (16u << 10));
#if !defined(_WIN32) // Wine gives at least 1 MB
    EXPECT_LE(high - low, kSmallStack + (64u << 10));
#endif
    EXPECT_LT(zt::stackMargin(), kSmallStack / 2);
}

#if defined(__linux__)
// The main thread's bounds are reckoned without asking pthread_getattr_np (which reads
// /proc/self/maps for it): they must be the ones it gives.
TEST(StackBounds, TheMainThreadsStackIsTheOneTheSystemReports) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_getattr_np(pthread_self(), &attr), 0);
    void* addr = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(pthread_attr_getstack(&attr, &addr, &size), 0);
    pthread_attr_destroy(&attr);
    const zt::stackBounds& b = zt::currentStackBounds();
    EXPECT_EQ(b.low, reinterpret_cast<std::uintptr_t>(addr));
    EXPECT_EQ(b.high, reinterpret_cast<std::uintptr_t>(addr) + size);
}
#endif

TEST(StackBounds, ADeepRecursionFindsTheStackShortBeforeItEnds) {
    // Recurses until the check answers; without it the thread would overrun its stack.
    struct recursion {
        static int down(int level) {
            volatile char frame[512];
            frame[0] = static_cast<char>(level);
            if (zt::stackIsShort()) return level;
            const int deepest = down(level + 1);
            frame[1] = frame[0]; // no tail call
            return deepest;
        }
    };
    int levels = 0;
    const stackRun run = runWithStack(kSmallStack, [&] { levels = recursion::down(0); });
    ASSERT_TRUE(run.started);
    EXPECT_GT(levels, 10);
    if (run.lowest) {
        EXPECT_GT(run.lowest, run.low);
    }
    report("plain recursion", run);
}

// Recurses until the stack is short, then runs work there.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((noinline))
#endif
void atTheFloor(const std::function<void()>& work) {
    volatile char frame[256];
    frame[0] = 0;
    if (zt::stackIsShort()) {
        work();
        return;
    }
    atTheFloor(work);
    frame[1] = frame[0]; // no tail call
}

TEST(StackBounds, AConditionIsRefusedWhereTheStackIsShort) {
    const zt::string text = std::u16string(99, u'(') + u"> 1" + std::u16string(99, u')');
    auto parses = [&] { return std::unique_ptr<zt::conditions::condition>(zt::conditions::condition::parse(text)) != nullptr; };
    bool normally = false, atFloor = true;
    const stackRun run = runWithStack(kSmallStack, [&] {
        normally = parses();
        atTheFloor([&] { atFloor = parses(); });
    });
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(normally);
    EXPECT_FALSE(atFloor);
    report("condition at the floor", run);
}

// ---------------------------------------------------------------------------------------------
// Scripts on a 256 KB stack and on the default one

// depth - 2 treatasfunction around a block of two statements: depth levels of statements.
std::string nestedStatements(int depth) {
    std::string text;
    for (int i = 0; i < depth - 2; ++i) text += "treatasfunction(";
    text += "{tcount(); tcount()}";
    return text + std::string(depth - 2, ')');
}

// Each call nests 60 statements: the statement limit comes before the call limit.
std::string deepBodies() {
    std::string body = "{tcount(); callfunction(script$stack_bodies$f)}";
    for (int i = 0; i < 58; ++i) body = "treatasfunction(" + body + ")";
    return "scrdef f()\n{" + body + "}\n";
}

struct scriptCase {
    const char* what;
    std::size_t stack; // 0: the calling thread's own
    const char* file;  // its function f runs
    std::string text;
    const char* error;   // a part of the failure's messages
    char kind;           // the failure's type ('p', 'x'), 0 when not checked
    int minCount, maxCount; // executions of tcount()
};

TEST_F(StackSafety, ScriptsEndWithTheEnginesErrorsOnEveryStack) {
    const char* recursion = "scrdef f()\n{ tcount(); callfunction(script$%s$f) }\n";
    auto recursing = [&](const char* file) { return zt::string::format(zt::string::fromUtf8(recursion), file).toUtf8(); };
    const scriptCase cases[] = {
        // On a small stack, the stack runs short long before the count.
        {"endless callfunction recursion", kSmallStack, "stack_rec", recursing("stack_rec"),
         "function calls nested deeper than 200 levels (endless recursion?)", 0, 6, 199},
        // The host's call and 200 nested ones.
        {nullptr, 0, "stack_rec8", recursing("stack_rec8"),
         "function calls nested deeper than 200 levels (endless recursion?)", 'x', 201, 201},
        {nullptr, 0, "stack_bodies", deepBodies(), "statements nested deeper than 2000 levels", 'x', 21, 199},
        {nullptr, kSmallStack, "stack_deep", "scrdef f()\n" + nestedStatements(500) + "\n",
         "statements nested deeper than 500 levels", 0, 0, 0},
        {"script nesting arrays", kSmallStack, "stack_nest",
         "scrdef f()\n{ createvar(a, createarray());\n"
         "  while(\"1\", { tcount(); createvar(b, createarray()); addtoarray(b, a); setvar(a, b) }) }\n",
         "Values nested too deeply to copy", 0, 21, INT_MAX},
    };
    for (const scriptCase& c : cases) {
        SCOPED_TRACE(c.file);
        write(c.file, c.text);
        testlib::executions = 0;
        const auto work = [&] { call(c.file, "f"); };
        stackRun run;
        if (c.stack) run = runWithStack(c.stack, work);
        else runCatching(work, run);
        ASSERT_TRUE(run.started);
        EXPECT_TRUE(contains(run.failure, c.error)) << run.failure;
        if (c.kind) {
            EXPECT_EQ(run.kind, c.kind);
        }
        EXPECT_GE(testlib::executions.load(), c.minCount);
        EXPECT_LE(testlib::executions.load(), c.maxCount);
        if (c.what) report(c.what, run);
    }
    // The depth is given back: calls work afterwards.
    write("stack_ok", "scrdef f()\ntcount()\n");
    testlib::executions = 0;
    call("stack_ok", "f");
    EXPECT_EQ(testlib::executions.load(), 1);
}

TEST_F(StackSafety, FiveHundredNestedStatementsFailToParseAndRunOnASmallStack) {
    const zt::string text = zt::string::fromUtf8(nestedStatements(500));
    stackRun run = runWithStack(kSmallStack, [&] { clonePtr<statement> st(statement::createFrom(text, 0)); });
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(contains(run.failure, "statements nested deeper than 500 levels")) << run.failure;
    EXPECT_EQ(run.kind, 'p');
    report("parsing 500 nested statements", run);

    clonePtr<statement> st(statement::createFrom(text, 0)); // on the default stack
    ASSERT_TRUE(st);
    testlib::executions = 0;
    // A lean optimised build runs 500 levels in 256 KB, so the stack here leaves only 48 KB
    // above the margin: less than 100 bytes a level, which no build can do.
    run = runWithStack(zt::stackMargin() + (48u << 10), [&] {
        scriptcontext context;
        st->exec(context);
    });
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(contains(run.failure, "statements nested deeper than 2000 levels")) << run.failure;
    EXPECT_EQ(testlib::executions.load(), 0);
    report("running 500 nested statements", run);
}

TEST_F(StackSafety, FiveHundredNestedStatementsParseAndRunOnTheDefaultStack) {
    testlib::executions = 0;
    clonePtr<statement> st(statement::createFrom(zt::string::fromUtf8(nestedStatements(500)), 0));
    ASSERT_TRUE(st);
    scriptcontext context;
    st->exec(context);
    EXPECT_EQ(testlib::executions.load(), 2);
    stackRun deeper;
    runCatching([] { clonePtr<statement> st(statement::createFrom(zt::string::fromUtf8(nestedStatements(501)), 0)); },
                deeper);
    EXPECT_EQ(deeper.kind, 'p');
    EXPECT_TRUE(contains(deeper.failure, "statements nested deeper than 500 levels")) << deeper.failure;
}

// ---------------------------------------------------------------------------------------------
// Nested values

constexpr int kDeep = 5000;

std::string nestingError(const std::function<void()>& walk) {
    try {
        walk();
    } catch (const zt::valueNestingException& e) {
        return e.text().toUtf8();
    }
    return "";
}

TEST_F(StackSafety, DeeplyNestedArraysAndMapsFailToCopyOrShowOnASmallStack) {
    using mapType = std::map<int, zt::genericValue>;
    int depth = 0;
    std::string copied[2], shown[2], assigned, read;
    const stackRun run = runWithStack(kSmallStack, [&] {
        zt::genericValue deep[2] = {nestedArray(kDeep), {}};
        deep[1].replace(mapType{});
        for (int i = 1; i < kDeep; ++i) {
            mapType outer;
            outer.emplace(i, std::move(deep[1]));
            deep[1].replace(std::move(outer));
        }
        depth = depthOf(deep[0]);
        for (int i = 0; i < 2; ++i) {
            copied[i] = nestingError([&] { zt::genericValue copy(deep[i]); });
            shown[i] = nestingError([&] {
                zt::string text;
                valueToDisplayText(deep[i], text);
            });
        }
        assigned = nestingError([&] {
            zt::genericValue target = zt::genericValue::of(zt::string(u"before"));
            target = deep[0];
        });
        read = nestingError([&] {
            arrayType out;
            deep[0].get(out);
        });
        // and the deep values go here, without recursing
    });
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(depth, kDeep);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(copied[i], "Values nested too deeply to copy") << i;
        EXPECT_EQ(shown[i], "Values nested too deeply to show as text") << i;
    }
    EXPECT_EQ(assigned, "Values nested too deeply to copy");
    EXPECT_EQ(read, "Values nested too deeply to copy");
    report("nested array and map", run);
}

TEST_F(StackSafety, NestedArraysCopyAndShowOnTheDefaultStack) {
    constexpr int kDepth = 1000;
    const zt::genericValue deep = nestedArray(kDepth);
    const zt::genericValue copy(deep);
    EXPECT_EQ(depthOf(copy), kDepth);
    zt::string text;
    ASSERT_TRUE(valueToDisplayText(copy, text));
    EXPECT_EQ(text.toUtf8(), std::string(kDepth, '[') + std::string(kDepth, ']'));

    // The same nesting made by a script.
    write("stack_nest8", "scrdef nest(in<int> n)\n"
                         "{ createvar(a, createarray()); createvar(i, add<int>(\"1\", \"0\"));\n"
                         "  while(issmaller<int>(i, n), { createvar(b, createarray()); addtoarray(b, a); setvar(a, b);\n"
                         "                               setvar(i, add<int>(i, \"1\")) });\n"
                         "  return(a) }\n");
    scriptcontext context;
    const zt::genericValue result =
        testlib::callFunction(folder.path, "stack_nest8", "nest", context, {zt::genericValue::of(zt::string(u"300"))});
    EXPECT_EQ(depthOf(result), 300);
    ASSERT_TRUE(valueToDisplayText(result, text));
    EXPECT_EQ(text.toUtf8(), std::string(300, '[') + std::string(300, ']'));
}

// ---------------------------------------------------------------------------------------------
// The demo host's dump

using ztscript_tool::demoHost;
using ztscript_tool::json;

// How deeply the JSON arrays nest, following the first element.
int jsonDepth(const json* j) {
    int depth = 0;
    for (; j->is_array(); ++depth) {
        if (j->empty()) return depth + 1;
        j = &j->front();
    }
    return depth;
}

// An object with a deeply nested array as transient data (the field setters take no arrays).
zt::genericValue objectWithDeepValue(demoHost& host, int depth) {
    zt::genericValue reference;
    const stackRun made = runWithStack(kLargeStack, [&] {
        reference = host.fromJson(json{{"name", "deep"}});
        const auto* object = reference.constPtrTo<zt::intrface::interfaceptr<zt::intrface::unknown>>();
        zt::intrface::interfaceptr<zt::intrface::transientdataaccess> transient(*object);
        zt::intrface::unknown* wrapped = zt::ifimpl::wrapValue(nestedArray(depth));
        transient->setTransientData(u"deep", wrapped);
        wrapped->release();
    });
    if (!made.failure.empty()) throw std::runtime_error(made.failure);
    return reference;
}

TEST_F(StackSafety, TheDumpShowsValuesAndRelationsTooDeepForASmallStackAsSuch) {
    constexpr int kChain = 2000;
    json document = {{"level", 0}};
    for (int i = 1; i < kChain; ++i) document = json{{"level", i}, {"next", std::move(document)}};
    demoHost host;
    const zt::genericValue object = objectWithDeepValue(host, kDeep);
    zt::genericValue chain;
    const stackRun made = runWithStack(kLargeStack, [&] { chain = host.fromJson(document); });
    ASSERT_EQ(made.failure, "");
    json dumped, chainDumped;
    std::string text;
    const stackRun run = runWithStack(kSmallStack, [&] {
        dumped = demoHost::dumpObject(object);
        text = demoHost::format(dumped);
        chainDumped = demoHost::dumpObject(chain);
        demoHost::format(chainDumped);
    });
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(dumped["fields"]["name"], "deep");
    EXPECT_EQ(dumped["transient"]["deep"], "<nested too deeply>");
    EXPECT_TRUE(contains(text, "\"deep\": \"<nested too deeply>\"")) << text;
    int shownLevels = 0;
    bool endsTooDeep = false;
    for (const json* o = &chainDumped; o->is_object(); o = &(*o)["relations"]["next"]) {
        ++shownLevels;
        if (!o->contains("relations") || !(*o)["relations"].contains("next")) break;
        endsTooDeep = (*o)["relations"]["next"] == "<nested too deeply>";
    }
    EXPECT_TRUE(endsTooDeep);
    EXPECT_GT(shownLevels, 5);
    EXPECT_LT(shownLevels, kChain);
    report("dump of a nested value and related objects", run);

    // With room enough, the whole value is shown.
    const stackRun large = runWithStack(kLargeStack, [&] {
        dumped = demoHost::dumpObject(object);
        EXPECT_EQ(jsonDepth(&dumped["transient"]["deep"]), kDeep);
        const zt::genericValue smaller = objectWithDeepValue(host, 1000);
        dumped = demoHost::dumpObject(smaller);
        EXPECT_EQ(json::parse(demoHost::format(dumped)), dumped);
        EXPECT_EQ(jsonDepth(&dumped["transient"]["deep"]), 1000);
    });
    EXPECT_EQ(large.failure, "");
}

TEST(DemoHostFormat, DeeplyNestedJsonIsWrittenOnASmallStack) {
    constexpr int kDepth = 2000;
    json deep = json::array();
    for (int i = 1; i < kDepth; ++i) {
        json outer = json::array();
        outer.push_back(std::move(deep));
        deep = std::move(outer);
    }
    std::string text;
    const stackRun run = runWithStack(kSmallStack, [&] { text = demoHost::format(deep); });
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.failure, "");
    // One line per level opened and closed, the innermost "[]" on its own.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * kDepth - 1);
    EXPECT_EQ(text.substr(0, 11), "[\n  [\n    [");
    EXPECT_EQ(text.substr(text.size() - 6), "  ]\n]\n");
    EXPECT_NE(text.find(std::string(2 * (kDepth - 1), ' ') + "[]\n"), std::string::npos);
}

} // namespace
