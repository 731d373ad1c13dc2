// Where the tests meet the platform directly: running programs (the tool, the helper program)
// with their output captured, the environment, and modification times of folders.
#include "testlib.h"

#include <gtest/gtest.h>

#include <ztfile.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace testlib {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

#if defined(_WIN32)
// One argument as the C runtime's command-line splitting reads it back.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, L'\\');
    return q + L"\"";
}

std::wstring wide(const std::string& utf8) {
    const zt::string s = zt::string::fromUtf8(utf8);
    return std::wstring(s.begin(), s.end());
}

HANDLE inheritable(const fs::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int spawnAndWait(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                 const fs::path& out, const fs::path& err) {
    std::wstring commandLine = quoted(wide(program));
    for (const std::string& a : args) commandLine += L" " + quoted(wide(a));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(L"NUL", false);
    startup.hStdOutput = inheritable(out, true);
    startup.hStdError = inheritable(err, true);
    PROCESS_INFORMATION info{};
    const std::wstring directory = wide(folder);
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        directory.empty() ? nullptr : directory.c_str(), &startup, &info);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!started) return -1;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}
#else
int spawnAndWait(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                 const fs::path& out, const fs::path& err) {
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

} // namespace

fs::path pathOf(const std::string& utf8) { return fs::path(static_cast<std::u16string>(zt::string::fromUtf8(utf8))); }

programRun runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder) {
    const tempDir capture;
    const fs::path out = pathOf(capture.path + "out"), err = pathOf(capture.path + "err");
    programRun r;
    r.exitCode = spawnAndWait(program, args, folder, out, err);
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

std::string builtProgram(const std::string& name) {
#if defined(_WIN32)
    const std::string file = name + ".exe";
#else
    const std::string& file = name;
#endif
    const std::string path = zt::getModulePath(u"").toUtf8() + file;
    std::error_code ec;
    return fs::exists(pathOf(path), ec) ? path : std::string();
}

void setModificationTime(const std::string& path, std::filesystem::file_time_type time) {
#if defined(_WIN32)
    // The C runtime sets no times on folders; the system call does, given a handle to one.
    HANDLE h = CreateFileW(pathOf(path).wstring().c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    // FILETIME counts 100 ns units since 1601.
    using hundredNs = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    const auto sinceUnixEpoch = std::chrono::duration_cast<hundredNs>(
        std::chrono::file_clock::to_sys(time).time_since_epoch());
    const auto ticks = static_cast<std::uint64_t>(sinceUnixEpoch.count() + 11'644'473'600LL * 10'000'000LL);
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft)) << path;
    CloseHandle(h);
#else
    fs::last_write_time(pathOf(path), time);
#endif
}

bool hasConsole() {
#if defined(_WIN32)
    return GetConsoleWindow() != nullptr || GetConsoleCP() != 0;
#else
    return true;
#endif
}

std::string native(std::string name) {
#if defined(_WIN32)
    for (char& c : name)
        if (c == '/') c = '\\';
#endif
    return name;
}

void setEnv(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
#else
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
#endif
}

} // namespace testlib
