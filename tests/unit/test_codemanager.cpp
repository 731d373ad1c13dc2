// The code manager: code calls, file resolution, caching and refresh, parameter binding,
// error wrapping, and concurrent calls.
#include "testlib.h"

#include <ztplatform.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <functional>
#include <thread>

using namespace zt::script;
namespace fs = std::filesystem;

namespace {

class CodeManager : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testlib::install(); }

    testlib::tempDir dir;
    codeManager* cm = codeManager::instance();

    zt::string call(const std::string& codeCall, std::vector<genericValue> args = {}, scriptcontext* ctx = nullptr) {
        scriptcontext own;
        genericValue result;
        cm->executeFunction(zt::string(dir.path), zt::string(codeCall), ctx ? *ctx : own, args, result);
        zt::string text;
        result.get(text);
        return text;
    }
    // The text that codeCall gives with the base path dir.path + folder.
    zt::string callIn(const std::string& folder, const std::string& codeCall) {
        scriptcontext ctx;
        std::vector<genericValue> args;
        genericValue result;
        cm->executeFunction(zt::string(dir.path + folder), zt::string(codeCall), ctx, args, result);
        zt::string text;
        result.get(text);
        return text;
    }
    // A test that sets a file check interval leaves the default behind.
    void TearDown() override { cm->setFileCheckInterval(std::chrono::milliseconds(0)); }

    // Runs check(arg) calls times on each of threads threads, every time with an arg of its own
    // (thread * 1000 + call). check gives what went wrong, empty when the call was right; a
    // thrown exception went wrong as well. Returns how many went wrong and reports the first.
    int fromThreads(int threads, int calls, const std::function<std::string(const std::string& arg)>& check) {
        std::atomic<int> wrong{0};
        std::vector<std::thread> running;
        for (int t = 0; t < threads; ++t) {
            running.emplace_back([&, t] {
                for (int i = 0; i < calls; ++i) {
                    std::string failure;
                    try {
                        failure = check(std::to_string(t * 1000 + i));
                    } catch (const zt::exception& e) {
                        failure = testlib::chainText(e);
                    } catch (...) {
                        failure = "an exception other than zt::exception";
                    }
                    if (!failure.empty() && wrong++ == 0) ADD_FAILURE() << failure;
                }
            });
        }
        for (auto& th : running) th.join();
        return wrong;
    }

    void setTime(const std::string& name, int secondsFromNow) {
        testlib::setModificationTime(dir.path + name,
                                     fs::file_time_type::clock::now() + std::chrono::seconds(secondsFromNow));
    }
};

TEST_F(CodeManager, ParseCodeCall) {
    codeManager::eCodeType type = codeManager::ctDll;
    zt::string file, function;
    EXPECT_TRUE(cm->parseCodeCall(u" script $ order $ on save ", type, file, function));
    EXPECT_EQ(type, codeManager::ctScript);
    EXPECT_EQ(file, u"order");
    EXPECT_EQ(function, u"onsave");
    EXPECT_TRUE(cm->parseCodeCall(u"$My Order$OnSave", type, file, function));
    EXPECT_EQ(file, u"my order");
    EXPECT_TRUE(cm->parseCodeCall(u"DLL$lib$entry", type, file, function));
    EXPECT_EQ(type, codeManager::ctDll);

    file = u"unchanged";
    EXPECT_FALSE(cm->parseCodeCall(u"a$b", type, file, function));
    EXPECT_EQ(file, u"unchanged");
    testlib::assertCollector asserts;
    EXPECT_FALSE(cm->parseCodeCall(u"exe$b$c", type, file, function));
    ASSERT_EQ(asserts.reports.size(), 1u);
    EXPECT_EQ(asserts.reports[0], "parseCodeCall: invalid codetype exe");
    EXPECT_EQ(file, u"unchanged");
    EXPECT_FALSE(cm->parseCodeCall(u"script$$f", type, file, function));
}

TEST_F(CodeManager, SpellingsShareOneEntryAndFilesAreFoundWithoutRegardToCase) {
    dir.write("cm_Order.ZTSCR", "scrdef OnSave()\ntret(\"saved\")\n");
    size_t loads = cm->loadCount();
    EXPECT_EQ(call("script$cm_order$onsave"), u"saved");
    EXPECT_EQ(call("$CM_ORDER$OnSave"), u"saved");
    EXPECT_EQ(call(" script $ cm_order $ on save "), u"saved");
    EXPECT_EQ(cm->loadCount(), loads + 1);
}

TEST_F(CodeManager, DllCallsAreDeclined) {
    scriptcontext ctx;
    std::vector<genericValue> args;
    genericValue result;
    EXPECT_FALSE(cm->executeFunction(u"", u"dll$lib$entry", ctx, args, result));
}

TEST_F(CodeManager, MalformedCodeCallsSaySo) {
    for (const char16_t* malformed : {u"script$p", u"script$$f", u"script$p$", u"p", u"", u"frob$a$b", u"a$b$c$d"}) {
        testlib::assertCollector reports; // the unknown kind is reported as well
        try {
            call(zt::string(malformed).toUtf8());
            ADD_FAILURE() << zt::string(malformed).toUtf8();
        } catch (const malformedCodeCallException& e) {
            EXPECT_EQ(e.text(), u"Malformed code call \"" + zt::string(malformed) + u"\": expected script$FILE$FUNCTION");
        }
    }
}

TEST_F(CodeManager, MissingFileAndFunction) {
    try {
        call("script$cm_nosuchfile$f");
        FAIL();
    } catch (const zt::fileNotFoundException& e) {
        // Every place that was looked at: as written, the base path, beside the program, ".".
        const std::string text = e.text().toUtf8();
        EXPECT_EQ(text.rfind("File cm_nosuchfile not found! Looked for: cm_nosuchfile, " + dir.path +
                                 "cm_nosuchfile.ztscr, " + dir.path + "cm_nosuchfile.ztsscr, ", 0),
                  0u) << text;
        EXPECT_NE(text.find("./cm_nosuchfile.ztsscr"), std::string::npos) << text;
    }
    dir.write("cm_known.ztscr", "scrdef f()\ntret(\"1\")\n");
    try {
        call("script$cm_known$other");
        FAIL();
    } catch (const scriptFunctionNotFoundException& e) {
        EXPECT_EQ(e.text().toUtf8(), "Function \"other\" not found in file \"" + dir.path + "cm_known.ztscr\"");
    }
}

// A file is parsed again whenever anything of its stamp (time, size, identity) differs from the
// one it was read under, newer or not; a stamp younger than the file system's clock tick proves
// nothing, so such a file is compared by content until its stamp has settled.
TEST_F(CodeManager, RefreshWhenTheStampDiffersOrCannotBeTrusted) {
    const std::string name = "cm_refresh.ztscr";
    dir.write(name, "scrdef f()\ntret(\"one\")\n");
    setTime(name, -100);
    EXPECT_EQ(call("$cm_refresh$f"), u"one");
    const size_t loads = cm->loadCount();
    EXPECT_EQ(call("$cm_refresh$f"), u"one");
    EXPECT_EQ(cm->loadCount(), loads) << "an unchanged, settled file is not parsed again";

    // An older copy put in its place (cp -p, a checkout of an older revision).
    dir.write(name, "scrdef f()\ntret(\"two\")\n");
    setTime(name, -200);
    EXPECT_EQ(call("$cm_refresh$f"), u"two");
    // The same time, another size.
    dir.write(name, "scrdef f()\ntret(\"three\")\n");
    setTime(name, -200);
    EXPECT_EQ(call("$cm_refresh$f"), u"three");
    // The same time and size, another file renamed over it.
    dir.write("cm_refresh.tmp", "scrdef f()\ntret(\"third\")\n");
    fs::rename(dir.path + "cm_refresh.tmp", dir.path + name);
    setTime(name, -200);
    if (zt::entryStamp::of(zt::string::fromUtf8(dir.path + name)).identity != 0) { // no identity on Windows
        EXPECT_EQ(call("$cm_refresh$f"), u"third");
    }

    // Two versions within one tick of the clock: same time, size and file.
    const auto tick = fs::file_time_type::clock::now();
    dir.write(name, "scrdef f()\ntret(\"four\")\n");
    testlib::setModificationTime(dir.path + name, tick);
    EXPECT_EQ(call("$cm_refresh$f"), u"four");
    dir.write(name, "scrdef f()\ntret(\"five\")\n");
    testlib::setModificationTime(dir.path + name, tick);
    EXPECT_EQ(call("$cm_refresh$f"), u"five");
}

// A file is read and split once per version, whatever number of its functions are called; a
// new version is read once again.
TEST_F(CodeManager, AFileIsSplitOncePerVersion) {
    const std::string name = "cm_split.ztscr";
    dir.write(name, "scrdef f()\ntret(\"f\")\nscrdef g()\ntret(\"g\")\nscrdef G()\ntret(\"G\")\nscrdef h()\ntret(\"h\")\n");
    setTime(name, -100);
    const size_t reads = cm->fileReadCount(), loads = cm->loadCount();
    EXPECT_EQ(call("$cm_split$f"), u"f");
    EXPECT_EQ(call("$cm_split$h"), u"h");
    EXPECT_EQ(call("$cm_split$g"), u"G"); // a later definition of the same name wins
    EXPECT_EQ(cm->fileReadCount(), reads + 1);
    EXPECT_EQ(cm->loadCount(), loads + 3);
    dir.write(name, "scrdef f()\ntret(\"F\")\nscrdef h()\ntret(\"H\")\n");
    setTime(name, -50);
    EXPECT_EQ(call("$cm_split$h"), u"H");
    EXPECT_EQ(call("$cm_split$f"), u"F");
    EXPECT_EQ(cm->fileReadCount(), reads + 2);
    EXPECT_THROW(call("$cm_split$g"), scriptFunctionNotFoundException);
}

// What a call found on disk is remembered only as long as the folders that decided it stay
// unchanged: a file that appears in an earlier place, or a newer file, is seen by the next call.
TEST_F(CodeManager, EveryCallSeesFilesThatAppearInEarlierPlaces) {
    fs::create_directories(dir.path + "work");
    fs::create_directories(dir.path + "base");
    std::string text = "scrdef f()\ntret(\"scrambled\")\n";
    zt::binaryBuffer buffer;
    buffer.bytes().assign(text.begin(), text.end());
    buffer.xxor(scrambleKey());
    ASSERT_TRUE(buffer.writeToFile(zt::file(zt::string(dir.path + "base/cm_res.ztsscr"))));
    setTime("base/cm_res.ztsscr", -300);
    // Folders changed long ago, whose listings can be trusted.
    setTime("base", -100);
    setTime("work", -100);
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path + "work");
    struct restore {
        fs::path p;
        ~restore() { fs::current_path(p); }
    } restoreCurrent{previous};

    scriptcontext ctx;
    auto run = [&] {
        std::vector<genericValue> args;
        genericValue result;
        cm->executeFunction(zt::string(dir.path + "base/"), u"$cm_res$f", ctx, args, result);
        zt::string out;
        result.get(out);
        return out;
    };
    EXPECT_EQ(run(), u"scrambled");
    EXPECT_EQ(run(), u"scrambled");
    dir.write("base/cm_res.ztscr", "scrdef f()\ntret(\"plain\")\n");
    setTime("base/cm_res.ztscr", -200);
    EXPECT_EQ(run(), u"plain");
    EXPECT_EQ(run(), u"plain");
    EXPECT_EQ(ctx.globalContextVariable(scriptcontext::scriptbasepath()).constPtrTo<zt::string>()->toUtf8(),
              dir.path + testlib::native("base/"));
    dir.write("work/cm_res", "scrdef f()\ntret(\"current\")\n");
    setTime("work/cm_res", -100);
    EXPECT_EQ(run(), u"current");
    fs::remove(dir.path + "work/cm_res");
    fs::remove(dir.path + "base/cm_res.ztscr");
    fs::remove(dir.path + "base/cm_res.ztsscr");
    EXPECT_THROW(run(), zt::fileNotFoundException);
}

TEST_F(CodeManager, FileCheckInterval) {
    EXPECT_EQ(cm->fileCheckInterval().count(), 0);
    dir.write("cm_interval.ztscr", "scrdef f()\ntret(\"one\")\n");
    setTime("cm_interval.ztscr", -100);
    cm->setFileCheckInterval(std::chrono::hours(1));
    EXPECT_EQ(cm->fileCheckInterval(), std::chrono::milliseconds(3600000));
    EXPECT_EQ(call("$cm_interval$f"), u"one");
    // Within the interval a newer file goes unnoticed ...
    dir.write("cm_interval.ztscr", "scrdef f()\ntret(\"two\")\n");
    setTime("cm_interval.ztscr", 10);
    EXPECT_EQ(call("$cm_interval$f"), u"one");
    // ... and looking on every call again sees it at once.
    cm->setFileCheckInterval(std::chrono::milliseconds(0));
    EXPECT_EQ(call("$cm_interval$f"), u"two");
    cm->setFileCheckInterval(std::chrono::milliseconds(-5));
    EXPECT_EQ(cm->fileCheckInterval().count(), 0);
}

// Within the interval a thread takes the function of a repeated code call again without looking
// it up, but only for the same base path and while the manager's records and functions stay.
TEST_F(CodeManager, ARepeatedCallTakesItsFunctionAgainOnlyWhileNothingChanged) {
    fs::create_directories(dir.path + "a");
    fs::create_directories(dir.path + "b");
    const auto write = [&](const std::string& name, const std::string& text, int secondsFromNow) {
        dir.write(name, "scrdef f()\ntret(\"" + text + "\")\n");
        setTime(name, secondsFromNow);
    };
    write("a/cm_again.ztscr", "a", -100);
    write("b/cm_again.ztscr", "b", -100);
    const auto from = [&](const std::string& folder) { return callIn(folder, "script$cm_again$f"); };
    cm->setFileCheckInterval(std::chrono::hours(1));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(from("a/"), u"a");
        EXPECT_EQ(from("b/"), u"b");
    }
    // A newer file waits for the interval, or for the manager to drop what it knows. (The two
    // files share one entry: the last call puts a's function back in it.)
    EXPECT_EQ(from("a/"), u"a");
    write("a/cm_again.ztscr", "a2", -50);
    EXPECT_EQ(from("a/"), u"a");
    cm->releaseIdleFunctions();
    EXPECT_EQ(from("a/"), u"a2");
}

// A call that took its function again without a reference of its own keeps running it when a
// nested call puts another function into its entry and this thread's copies are dropped (the
// sanitizer stages see that nothing freed is run).
TEST_F(CodeManager, ACallTakenAgainKeepsItsBodyWhenItsEntryIsReplaced) {
    dir.write("a/cm_kept.ztscr", "scrdef f()\n"
                                 "  tset(x, \"o\");\n"
                                 "  messagebox(\"paused\");\n"
                                 "  tset(x, strcat(x, \"n\"));\n"
                                 "  tset(x, strcat(x, \"e\"));\n"
                                 "  tret(x)\n");
    dir.write("b/cm_kept.ztscr", "scrdef f()\n  tret(\"b\")\n");
    setTime("a/cm_kept.ztscr", -100);
    setTime("b/cm_kept.ztscr", -100);
    const auto from = [&](const std::string& folder) { return callIn(folder, "script$cm_kept$f"); };
    cm->setFileCheckInterval(std::chrono::hours(1));
    int boxes = 0;
    zt::string nested;
    const zt::messageBoxHandler previous =
        zt::setMessageBoxHandler([&](zt::HWND, const zt::string&, const zt::string&, unsigned) {
            if (++boxes == 2) nested = from("b/"); // the two files share the entry "cm_kept.f"
            return zt::IDOK;
        });
    EXPECT_EQ(from("a/"), u"one");
    EXPECT_EQ(from("a/"), u"one");
    zt::setMessageBoxHandler(previous);
    EXPECT_EQ(nested, u"b");
    EXPECT_EQ(boxes, 2);
}

TEST_F(CodeManager, ScrambledFiles) {
    std::string text = "scrdef f()\ntret(\"secret\")\n";
    zt::binaryBuffer buffer;
    buffer.bytes().assign(text.begin(), text.end());
    buffer.xxor(scrambleKey());
    ASSERT_TRUE(buffer.writeToFile(zt::file(zt::string(dir.path + "cm_scrambled.ztsscr"))));
    EXPECT_EQ(call("$cm_scrambled$f"), u"secret");
}

TEST_F(CodeManager, ParametersWithDefaults) {
    dir.write("cm_params.ztscr", "scrdef f(in<string> a, in<string> b = \"X\")\ntret(tcap(a))\n"
                                 "scrdef g(in<string> a, in<string> b = \"X\")\ntret(b)\n");
    EXPECT_EQ(call("$cm_params$g", {genericValue::of(zt::string(u"1"))}), u"x");

    std::vector<genericValue> args{genericValue::of(zt::string(u"1")), genericValue()};
    scriptcontext ctx;
    genericValue result;
    cm->executeFunction(zt::string(dir.path), u"$cm_params$g", ctx, args, result);
    zt::string second;
    args[1].get(second);
    EXPECT_EQ(second, u"x"); // the caller's empty element received the default

    try {
        call("$cm_params$g");
        FAIL();
    } catch (const scriptExecException& e) {
        auto* inner = dynamic_cast<const prepareParameterException*>(e.inner());
        ASSERT_NE(inner, nullptr);
        EXPECT_EQ(e.text().toUtf8(), "Error executing script \"g\"");
        EXPECT_EQ(inner->text().toUtf8(), "Error preparing parameter for function \"g\"");
    }
}

TEST_F(CodeManager, ContextAfterTheCall) {
    dir.write("cm_ctx.ztscr", "scrdef f()\ntsig(#breaksignal#);tret(\"r\")\nscrdef g()\ntsig(#continuesignal#)\n");
    scriptcontext ctx;
    EXPECT_EQ(call("$cm_ctx$g", {}, &ctx), u"");
    EXPECT_EQ(ctx.scriptSignal(scriptcontext::continuesignal()), nullptr);
    EXPECT_FALSE(ctx.hasParameter(scriptcontext::returnparam()));
    zt::string base;
    ctx.globalContextVariable(scriptcontext::scriptbasepath()).get(base);
    EXPECT_EQ(base, zt::string(dir.path));

    scriptcontext caller;
    scriptcontext callee;
    caller.setGlobalContextVariable(scString(zt::string(u"shared")), genericValue::of(1));
    caller.initScriptContext(callee);
    call("$cm_ctx$g", {}, &callee);
    EXPECT_TRUE(caller.hasGlobalContextVariable(scriptcontext::scriptbasepath()));
}

TEST_F(CodeManager, AReusedContextStartsWithoutTheEarlierReturnValue) {
    dir.write("cm_reuse.ztscr", "scrdef seq(in<string> n)\ntcount(); tret(n)\nscrdef none()\ntcount()\n");
    scriptcontext ctx;
    for (const char* n : {"1", "2", "3", "4"}) {
        const int before = testlib::executions;
        EXPECT_EQ(call("$cm_reuse$seq", {genericValue::of(zt::string(n))}, &ctx), zt::string(n));
        EXPECT_EQ(testlib::executions, before + 1) << "the body ran to its end";
    }
    EXPECT_EQ(call("$cm_reuse$none", {}, &ctx), u"");
    EXPECT_FALSE(ctx.hasParameter(scriptcontext::returnparam()));
}

// A host may drop the functions that no call runs; they are parsed again when next called. A
// function that is running (here: the one whose message box asks the host) stays.
TEST_F(CodeManager, IdleFunctionsCanBeReleased) {
    dir.write("cm_idle.ztscr", "scrdef f()\ntret(\"f\")\nscrdef asks()\nmessagebox(\"x\"); tret(\"asked\")\n");
    EXPECT_EQ(call("$cm_idle$f"), u"f");
    size_t loads = cm->loadCount();
    EXPECT_GE(cm->releaseIdleFunctions(), 1u);
    EXPECT_EQ(cm->cachedFunctionCount(), 0u);
    EXPECT_EQ(call("$cm_idle$f"), u"f");
    EXPECT_EQ(cm->loadCount(), loads + 1);

    size_t droppedWhileRunning = 0, cachedWhileRunning = 0;
    const zt::messageBoxHandler previous = zt::setMessageBoxHandler([&](zt::HWND, const zt::string&, const zt::string&, unsigned) {
        droppedWhileRunning = cm->releaseIdleFunctions();
        cachedWhileRunning = cm->cachedFunctionCount();
        return zt::IDOK;
    });
    EXPECT_EQ(call("$cm_idle$asks"), u"asked");
    zt::setMessageBoxHandler(previous);
    EXPECT_EQ(droppedWhileRunning, 1u); // f
    EXPECT_EQ(cachedWhileRunning, 1u);  // asks, still running
    loads = cm->loadCount();
    EXPECT_EQ(call("$cm_idle$asks"), u"asked");
    EXPECT_EQ(cm->loadCount(), loads) << "the running function was kept";
}

// Threads that take a function without the manager's lock, while another thread releases the
// idle ones again and again: every call runs a whole function (the sanitizer stages see that no
// released function is touched), and a function still runs while its entry is released.
TEST_F(CodeManager, ReleasesWhileOtherThreadsCall) {
    dir.write("cm_rel.ztscr", "scrdef f(in a)\ntset(x, a); tret(x)\n");
    for (const auto interval : {std::chrono::milliseconds(0), std::chrono::milliseconds(60000)}) {
        cm->setFileCheckInterval(interval);
        std::atomic<bool> stop{false};
        size_t releases = 0;
        std::thread releaser([&] {
            while (!stop) {
                cm->releaseIdleFunctions();
                ++releases;
            }
        });
        const int wrong = fromThreads(3, 400, [&](const std::string& arg) -> std::string {
            const zt::string got = call("$cm_rel$f", {genericValue::of(zt::string(arg))});
            return got == zt::string(arg) ? "" : arg + " gave " + got.toUtf8();
        });
        stop = true;
        releaser.join();
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(releases, 0u);
    }
}

TEST_F(CodeManager, FailuresAreWrappedWithTheFunctionName) {
    dir.write("cm_fail.ztscr", "scrdef f()\ntecho(tfail(\"deep\"))\nscrdef s()\ntthrow(\"note\")\n");
    try {
        call("$cm_fail$f");
        FAIL();
    } catch (const scriptExecException& e) {
        EXPECT_EQ(testlib::chainText(e), "Error executing script \"f\"\n"
                                         "Error executing script \"techo(tfail(\"deep\"))\"\n"
                                         "Error executing script \"tfail(\"deep\")\" (failed deep)");
    }
    try {
        call("$cm_fail$s");
        FAIL();
    } catch (const scriptExecException& e) {
        EXPECT_EQ(e.text().toUtf8(), "Error executing script \"note\n\ns\"");
    }
}

TEST_F(CodeManager, LoadErrorsReachTheHostUnwrapped) {
    dir.write("cm_bad.ztscr", "scrdef f()\nnosuchkeyword(1)\nscrdef g(out x)\ntret(\"1\")\n");
    EXPECT_THROW(call("$cm_bad$f"), errParsingException);
    EXPECT_THROW(call("$cm_bad$g"), errParsingParamTypeException);
}

TEST_F(CodeManager, ConcurrentCallsWhileTheFileIsTouched) {
    dir.write("cm_conc.ztscr", "scrdef f(in a)\ntset(x, a); tret(x)\nscrdef g()\ntret(\"g\")\n");
    std::atomic<bool> stop{false};
    std::thread toucher([&] {
        int n = 0;
        while (!stop) {
            // replaced the way editors save: a new file renamed over the old one
            dir.write("cm_conc.tmp", "scrdef f(in a)\ntset(x, a); tret(x)\nscrdef g()\ntret(\"g\")\n");
            // (Windows refuses the rename for a moment while the old file is being opened: the
            // editor tries again.)
            std::error_code ec;
            fs::rename(dir.path + "cm_conc.tmp", dir.path + "cm_conc.ztscr", ec);
            if (!ec) setTime("cm_conc.ztscr", ++n);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const int wrong = fromThreads(8, 300, [&](const std::string& arg) -> std::string {
        const zt::string got = call("$cm_conc$f", {genericValue::of(zt::string(arg))});
        if (got != zt::string(arg)) return arg + " gave " + got.toUtf8();
        return call("$cm_conc$g") == u"g" ? "" : "g gave another text";
    });
    stop = true;
    toucher.join();
    EXPECT_EQ(wrong, 0);
}

// One script file reached through two spellings of its folder is one cache entry: parsed once,
// counted once.
TEST_F(CodeManager, OneFileThroughTwoBasePathsSharesOneEntry) {
    dir.write("cm_shared.ztscr", "scrdef f()\ntret(\"shared\")\n");
    setTime("cm_shared.ztscr", -100);
    std::string withoutSeparator = dir.path;
    withoutSeparator.pop_back();
    const size_t loads = cm->loadCount(), cached = cm->cachedFunctionCount();
    for (const std::string& base : {dir.path, withoutSeparator, dir.path, withoutSeparator}) {
        SCOPED_TRACE(base);
        scriptcontext ctx;
        std::vector<genericValue> args;
        genericValue result;
        ASSERT_TRUE(cm->executeFunction(zt::string(base), u"script$cm_shared$f", ctx, args, result));
        zt::string text;
        result.get(text);
        EXPECT_EQ(text, u"shared");
    }
    EXPECT_EQ(cm->loadCount(), loads + 1);
    EXPECT_EQ(cm->cachedFunctionCount(), cached + 1);
}

// A call keeps running the body it started with while the file is rewritten and another call
// parses the new version in its place; the memory the old body would have left behind is used
// for other things meanwhile, so that a call still running on it could not pass unnoticed.
TEST_F(CodeManager, ARunningCallKeepsItsBodyWhileARefreshReplacesIt) {
    const std::string name = "cm_alive.ztscr";
    dir.write(name, "scrdef f()\n"
                    "  tset(x, \"o\");\n"
                    "  messagebox(\"paused\");\n"
                    "  tset(x, strcat(x, \"n\"));\n"
                    "  tset(x, strcat(x, \"e\"));\n"
                    "  tret(x)\n");
    setTime(name, -100);

    std::mutex m;
    std::condition_variable cv;
    bool arrived = false, released = false;
    const zt::messageBoxHandler previous =
        zt::setMessageBoxHandler([&](zt::HWND, const zt::string&, const zt::string&, unsigned) {
            std::unique_lock lock(m);
            arrived = true;
            cv.notify_all();
            cv.wait(lock, [&] { return released; });
            return zt::IDOK;
        });
    zt::string first;
    std::string firstError;
    std::thread running([&] {
        try {
            first = call("$cm_alive$f");
        } catch (const zt::exception& e) {
            firstError = testlib::chainText(e);
        }
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return arrived; });
    }
    dir.write(name, "scrdef f()\n  tret(\"two\")\n");
    setTime(name, -50);
    const size_t loads = cm->loadCount();
    EXPECT_EQ(call("$cm_alive$f"), u"two");
    EXPECT_EQ(cm->loadCount(), loads + 1);
    std::vector<std::string> reuse;
    for (int i = 0; i < 4000; ++i) reuse.emplace_back(static_cast<size_t>(8 + i % 200), '\xff');
    {
        std::lock_guard lock(m);
        released = true;
    }
    cv.notify_all();
    running.join();
    zt::setMessageBoxHandler(previous);
    EXPECT_EQ(firstError, "");
    EXPECT_EQ(first, u"one");
    EXPECT_EQ(call("$cm_alive$f"), u"two");
}

// Threads call a function while its file is replaced by new versions again and again: every
// call gives the result of one version, its parameters and both ends of its body from the same
// one, and once the writing stops, the result of the last version. (Each version names its
// parameter differently and runs a short loop, so that refreshes happen while calls run.)
TEST_F(CodeManager, ConcurrentCallsWhileTheContentChanges) {
    auto version = [](int n) {
        const std::string v = std::to_string(n);
        return "scrdef f(in a" + v + ")\n"
               "  tset(x, strcat(a" + v + ", \"-v" + v + "\"));\n"
               "  createvar(i, add<int>(\"0\", \"0\"));\n"
               "  while(issmaller<int>(i, \"20\"), setvar(i, add<int>(i, \"1\")));\n"
               "  tret(strcat(x, \"/v" + v + "\"))\n";
    };
    dir.write("cm_versions.ztscr", version(0));
    std::atomic<int> written{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        int n = 0;
        while (!stop) {
            dir.write("cm_versions.tmp", version(n + 1));
            std::error_code ec;
            fs::rename(dir.path + "cm_versions.tmp", dir.path + "cm_versions.ztscr", ec);
            if (ec) continue; // the file is open for reading (Windows): the same version again
            written = ++n;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const int wrong = fromThreads(4, 250, [&](const std::string& arg) -> std::string {
        const std::string got = call("$cm_versions$f", {genericValue::of(zt::string(arg))}).toUtf8();
        // "ARG-vN/vN" with N a version written so far (or the one being put in place)
        const std::string prefix = arg + "-v";
        const int n = got.rfind(prefix, 0) == 0 ? std::atoi(got.c_str() + prefix.size()) : -1;
        const std::string v = std::to_string(n);
        if (n < 0 || n > written.load() + 1 || got != prefix + v + "/v" + v) return "got " + got;
        return "";
    });
    stop = true;
    writer.join();
    EXPECT_EQ(wrong, 0);
    const std::string last = std::to_string(written.load());
    EXPECT_EQ(call("$cm_versions$f", {genericValue::of(zt::string("end"))}).toUtf8(), "end-v" + last + "/v" + last);
}

} // namespace
