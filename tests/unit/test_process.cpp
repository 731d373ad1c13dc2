// Starting programs (exit codes, waiting, parameters, working folder, hidden and detached
// starts, collecting ended programs) and loading libraries.
#include "ztfile.h"
#include "ztprocess.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Runs exe with params and the flags plus SP_WAIT; the exit code, or -1000 when the start fails.
int run(const zt::string& exe, const zt::string& params, unsigned flags = 0, const zt::string& folder = u"") {
    zt::HANDLE process = nullptr;
    if (!zt::startProcess(exe, params, flags | zt::SP_WAIT, nullptr, nullptr, &process, folder)) return -1000;
    int code = -1;
    EXPECT_TRUE(zt::getExitCodeProcess(process, code));
    EXPECT_TRUE(zt::closeHandle(process));
    return code;
}

std::vector<std::string> utf8(const std::vector<zt::string>& v) {
    std::vector<std::string> out;
    for (const zt::string& s : v) out.push_back(s.toUtf8());
    return out;
}

// The test library beside the test program (built by tests/CMakeLists.txt).
zt::string pluginPath() { return zt::getModulePath(u"") + u"ztplugin-d.so"; }

} // namespace

TEST(ProcessCommandLine, SplitsLikeTheReferencePlatform) {
    using v = std::vector<std::string>;
    EXPECT_EQ(utf8(zt::splitCommandLine(u"")), v{});
    EXPECT_EQ(utf8(zt::splitCommandLine(u"  \t ")), v{});
    EXPECT_EQ(utf8(zt::splitCommandLine(u" a  b\tc ")), (v{"a", "b", "c"}));
    EXPECT_EQ(utf8(zt::splitCommandLine(u"\"a b\" c\"d e\"f")), (v{"a b", "cd ef"}));
    // An empty quoted argument is an argument.
    EXPECT_EQ(utf8(zt::splitCommandLine(u"\"\" x")), (v{"", "x"}));
    // Backslashes count only before a quote.
    EXPECT_EQ(utf8(zt::splitCommandLine(u"C:\\dir\\ a\\\\b")), (v{"C:\\dir\\", "a\\\\b"}));
    EXPECT_EQ(utf8(zt::splitCommandLine(u"a\\\"b")), (v{"a\"b"}));
    EXPECT_EQ(utf8(zt::splitCommandLine(u"\"a\\\\\" b")), (v{"a\\", "b"}));
    EXPECT_EQ(utf8(zt::splitCommandLine(u"\"a\\\\\\\" b\"")), (v{"a\\\" b"}));
    // An open quote runs to the end.
    EXPECT_EQ(utf8(zt::splitCommandLine(u"\"open end")), (v{"open end"}));
}

// The helper program built beside the tests (tests/helper/zthelper.cpp).
zt::string helper() { return zt::string::fromUtf8(testlib::builtProgram("zthelper")); }

TEST(ProcessStart, ExitCodesOfWaitedPrograms) {
    ASSERT_FALSE(helper().empty());
    EXPECT_EQ(run(helper(), u""), 0);
    EXPECT_EQ(run(helper(), u"exit 1"), 1);
    EXPECT_EQ(run(helper(), u"exit 7"), 7);
    // Arguments with blanks arrive as one.
    EXPECT_EQ(run(helper(), u"count \"one two\" three"), 2);
    // The folder of the program is found without regard to case.
    zt::string otherCase = helper();
    otherCase.toUpper();
    EXPECT_EQ(run(otherCase, u"exit 1"), 1);
#if !defined(_WIN32) // Windows ends no program by a signal of its own
    EXPECT_EQ(run(helper(), u"kill"), 128 + 15);
#endif
}

TEST(ProcessStart, ProgramsAreFoundThroughThePath) {
    const char* saved = std::getenv("PATH");
    const std::string before = saved ? saved : "";
#if defined(_WIN32)
    const char separator = ';';
#else
    const char separator = ':';
#endif
    testlib::setEnv("PATH", (zt::getModulePath(u"").toUtf8() + separator + before).c_str());
    EXPECT_EQ(run(u"zthelper", u"exit 4"), 4);
    testlib::setEnv("PATH", saved ? before.c_str() : nullptr);
}

TEST(ProcessStart, FailedStarts) {
    testlib::tempDir dir;
    dir.write("script.sh", "#!/bin/sh\nexit 0\n"); // no program: not executable, no Windows image
    zt::HANDLE process = reinterpret_cast<zt::HANDLE>(1);
    EXPECT_FALSE(zt::startProcess(u"/no/such/program", u"", zt::SP_WAIT, nullptr, nullptr, &process, u""));
    EXPECT_FALSE(zt::startProcess(u"no-such-program-for-tests", u"", 0, nullptr, nullptr, &process, u""));
    EXPECT_FALSE(zt::startProcess(zt::string::fromUtf8(dir.path + "script.sh"), u"", 0, nullptr, nullptr, &process,
                                  u""));
    EXPECT_FALSE(zt::startProcess(u"", u"", 0, nullptr, nullptr, &process, u""));
    EXPECT_FALSE(zt::startProcess(helper(), u"", 0, nullptr, nullptr, &process, u"/no/such/folder"));
    EXPECT_EQ(process, reinterpret_cast<zt::HANDLE>(1));

    int code = 5;
    EXPECT_FALSE(zt::getExitCodeProcess(nullptr, code));
    EXPECT_EQ(code, 5);
    EXPECT_FALSE(zt::closeHandle(nullptr));
}

TEST(ProcessStart, WithoutWaitingTheCodeArrivesLater) {
    zt::HANDLE process = nullptr;
    unsigned long pid = 0;
    zt::HANDLE thread = reinterpret_cast<zt::HANDLE>(1);
    ASSERT_TRUE(zt::startProcess(helper(), u"sleep 300 exit 3", 0, &pid, &thread, &process, u""));
    EXPECT_NE(pid, 0u);
#if !defined(_WIN32)
    EXPECT_EQ(thread, nullptr); // no thread handle to give
#else
    EXPECT_TRUE(zt::closeHandle(thread));
#endif
    int code = -1;
    ASSERT_TRUE(zt::getExitCodeProcess(process, code));
    EXPECT_EQ(code, zt::STILL_ACTIVE);
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (code == zt::STILL_ACTIVE && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(zt::getExitCodeProcess(process, code));
    }
    EXPECT_EQ(code, 3);
    // The code stays readable.
    ASSERT_TRUE(zt::getExitCodeProcess(process, code));
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(zt::closeHandle(process));
}

TEST(ProcessStart, ClosedRunningProgramsAreCollected) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows keeps no ended child processes to collect";
#else
    zt::HANDLE process = nullptr;
    unsigned long pid = 0;
    ASSERT_TRUE(zt::startProcess(helper(), u"sleep 200", 0, &pid, nullptr, &process, u""));
    EXPECT_TRUE(zt::closeHandle(process));
    // Without a handle asked for, the start is fire and forget.
    unsigned long pid2 = 0;
    ASSERT_TRUE(zt::startProcess(helper(), u"", 0, &pid2, nullptr, nullptr, u""));

    // Once ended, the next start collects them: no zombie stays behind.
    const fs::path proc = fs::path("/proc") / std::to_string(pid);
    const fs::path proc2 = fs::path("/proc") / std::to_string(pid2);
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while ((fs::exists(proc) || fs::exists(proc2)) && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(run(helper(), u""), 0);
    }
    EXPECT_FALSE(fs::exists(proc));
    EXPECT_FALSE(fs::exists(proc2));
#endif
}

// What the helper wrote into the file name of the folder, first line.
std::string firstLine(const std::string& folder, const char* name) {
    std::ifstream in(testlib::pathOf(folder) / name);
    std::string line;
    std::getline(in, line);
    return line;
}

TEST(ProcessStart, WorkingFolderHiddenAndDetachedStarts) {
    testlib::tempDir dir;
    fs::create_directories(testlib::pathOf(dir.path) / "Work");
    const zt::string folder = zt::string::fromUtf8(dir.path) + u"work"; // found without regard to case
    ASSERT_EQ(run(helper(), u"cwd out.txt", 0, folder), 0);
    const std::string line = firstLine(dir.path + "Work", "out.txt");
    EXPECT_TRUE(fs::equivalent(line, testlib::pathOf(dir.path) / "Work")) << line;

    const zt::string out = u"\"" + zt::string::fromUtf8(dir.path) + u"out.txt\"";
    // Hidden: nothing to read from or write to.
    EXPECT_EQ(run(helper(), u"stdio " + out, zt::SP_NOWINDOW), 0);
    EXPECT_EQ(firstLine(dir.path, "out.txt"), "k=null");
    EXPECT_EQ(run(helper(), u"stdio " + out, 0), 0);
    EXPECT_EQ(firstLine(dir.path, "out.txt"), "k=open");
    // Detached: away from the starter's terminal or console; otherwise it is shared.
    EXPECT_EQ(run(helper(), u"session " + out, zt::SP_DETACHED), 0);
    EXPECT_EQ(firstLine(dir.path, "out.txt"), "k=own");
    if (!testlib::hasConsole()) GTEST_SKIP() << "this process has no console to share";
    EXPECT_EQ(run(helper(), u"session " + out, 0), 0);
    EXPECT_EQ(firstLine(dir.path, "out.txt"), "k=shared");
}

TEST(Library, LoadsLibrariesAndRefusesOtherFiles) {
    testlib::tempDir dir;
    ASSERT_TRUE(fs::exists(fs::path(pluginPath().toUtf8()))) << pluginPath().toUtf8();

    zt::HMODULE module = zt::LoadLibraryW(pluginPath().c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(zt::FreeLibrary(module));

    // Found without regard to case.
    fs::copy_file(fs::path(pluginPath().toUtf8()), fs::path(dir.path) / "Plugin.SO");
    const zt::string otherCase = zt::string::fromUtf8(dir.path) + u"/PLUGIN.so";
    module = zt::LoadLibraryW(otherCase.c_str());
    EXPECT_NE(module, nullptr);
    if (module) zt::FreeLibrary(module);

    // A text file, a folder, a missing file: no handle, no crash.
    dir.write("text.so", "this is no library\n");
    EXPECT_EQ(zt::LoadLibraryW((zt::string::fromUtf8(dir.path) + u"/text.so").c_str()), nullptr);
    EXPECT_EQ(zt::LoadLibraryW(zt::string::fromUtf8(dir.path).c_str()), nullptr);
    EXPECT_EQ(zt::LoadLibraryW((zt::string::fromUtf8(dir.path) + u"/missing.so").c_str()), nullptr);
    EXPECT_EQ(zt::LoadLibraryW(u""), nullptr);
    EXPECT_EQ(zt::LoadLibraryW(nullptr), nullptr);
    EXPECT_FALSE(zt::FreeLibrary(nullptr));
}
