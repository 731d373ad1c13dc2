// Starting programs (exit codes, waiting, parameters, working folder, hidden and detached
// starts, collecting ended programs) and loading libraries.
#include "ztfile.h"
#include "ztprocess.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <chrono>
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

TEST(ProcessStart, ExitCodesOfWaitedPrograms) {
    EXPECT_EQ(run(u"/bin/true", u""), 0);
    EXPECT_EQ(run(u"/bin/false", u""), 1);
    EXPECT_EQ(run(u"/bin/sh", u"-c \"exit 7\""), 7);
    // Found through PATH; arguments with blanks arrive as one.
    EXPECT_EQ(run(u"sh", u"-c \"exit $#\" zero \"one two\" three"), 2);
    // A signal that ended the program.
    EXPECT_EQ(run(u"/bin/sh", u"-c \"kill -TERM $$\""), 128 + 15);
    // The folder of the program is found without regard to case.
    EXPECT_EQ(run(u"/BIN/False", u""), 1);
}

TEST(ProcessStart, FailedStarts) {
    testlib::tempDir dir;
    dir.write("script.sh", "#!/bin/sh\nexit 0\n"); // not executable
    zt::HANDLE process = reinterpret_cast<zt::HANDLE>(1);
    EXPECT_FALSE(zt::startProcess(u"/no/such/program", u"", zt::SP_WAIT, nullptr, nullptr, &process, u""));
    EXPECT_FALSE(zt::startProcess(u"no-such-program-for-tests", u"", 0, nullptr, nullptr, &process, u""));
    EXPECT_FALSE(zt::startProcess(zt::string::fromUtf8(dir.path + "/script.sh"), u"", 0, nullptr, nullptr, &process,
                                  u""));
    EXPECT_FALSE(zt::startProcess(u"", u"", 0, nullptr, nullptr, &process, u""));
    EXPECT_FALSE(zt::startProcess(u"/bin/true", u"", 0, nullptr, nullptr, &process, u"/no/such/folder"));
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
    ASSERT_TRUE(zt::startProcess(u"/bin/sh", u"-c \"sleep 0.3; exit 3\"", 0, &pid, &thread, &process, u""));
    EXPECT_NE(pid, 0u);
    EXPECT_EQ(thread, nullptr);
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
    zt::HANDLE process = nullptr;
    unsigned long pid = 0;
    ASSERT_TRUE(zt::startProcess(u"/bin/sh", u"-c \"sleep 0.2\"", 0, &pid, nullptr, &process, u""));
    EXPECT_TRUE(zt::closeHandle(process));
    // Without a handle asked for, the start is fire and forget.
    unsigned long pid2 = 0;
    ASSERT_TRUE(zt::startProcess(u"/bin/true", u"", 0, &pid2, nullptr, nullptr, u""));

    // Once ended, the next start collects them: no zombie stays behind.
    const fs::path proc = fs::path("/proc") / std::to_string(pid);
    const fs::path proc2 = fs::path("/proc") / std::to_string(pid2);
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while ((fs::exists(proc) || fs::exists(proc2)) && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(run(u"/bin/true", u""), 0);
    }
    EXPECT_FALSE(fs::exists(proc));
    EXPECT_FALSE(fs::exists(proc2));
}

TEST(ProcessStart, WorkingFolder) {
    testlib::tempDir dir;
    fs::create_directories(fs::path(dir.path) / "Work");
    const zt::string folder = zt::string::fromUtf8(dir.path) + u"/work"; // found without regard to case
    ASSERT_EQ(run(u"/bin/sh", u"-c \"pwd > out.txt\"", 0, folder), 0);
    std::ifstream in(fs::path(dir.path) / "Work" / "out.txt");
    std::string line;
    std::getline(in, line);
    EXPECT_TRUE(fs::equivalent(line, fs::path(dir.path) / "Work")) << line;
}

TEST(ProcessStart, HiddenAndDetachedStarts) {
    const zt::string noOutput = u"-c \"[ \\\"$(readlink /proc/$$/fd/1)\\\" = /dev/null ] && "
                                u"[ \\\"$(readlink /proc/$$/fd/2)\\\" = /dev/null ] && "
                                u"[ \\\"$(readlink /proc/$$/fd/0)\\\" = /dev/null ]\"";
    EXPECT_EQ(run(u"/bin/sh", noOutput, zt::SP_NOWINDOW), 0);

    // A session of its own: the session id is the program's own id.
    const zt::string ownSession = u"-c \"[ \\\"$(cut -d' ' -f6 /proc/$$/stat)\\\" = \\\"$$\\\" ]\"";
    EXPECT_EQ(run(u"/bin/sh", ownSession, zt::SP_DETACHED), 0);
    EXPECT_EQ(run(u"/bin/sh", ownSession, 0), 1);
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
