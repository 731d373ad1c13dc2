// Starting programs and loading dynamic libraries.
//
// The parameter text is split the same way everywhere. The platform sections follow: Windows
// hands the calls to the system almost unchanged; Linux builds them on posix_spawn, waitpid and
// dlopen.
#include "ztprocess.h"
#include "ztfile.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <cerrno>
#  include <csignal>
#  include <mutex>
#  include <dlfcn.h>
#  include <fcntl.h>
#  include <spawn.h>
#  include <sys/wait.h>
#  include <unistd.h>
extern char** environ;
#endif

namespace zt {

std::vector<string> splitCommandLine(const string& params) {
    std::vector<string> args;
    string current;
    bool inArgument = false, inQuotes = false;
    for (size_t i = 0; i < params.size(); ++i) {
        const char16_t c = params[i];
        if (c == u'\\') {
            size_t n = 0;
            while (i < params.size() && params[i] == u'\\') {
                ++n;
                ++i;
            }
            if (i < params.size() && params[i] == u'"') {
                current.append(n / 2, u'\\');
                if (n % 2 == 1) current += u'"';
                else inQuotes = !inQuotes;
            } else {
                current.append(n, u'\\');
                --i; // the character after the backslashes is read by the loop
            }
            inArgument = true;
        } else if (c == u'"') {
            inQuotes = !inQuotes;
            inArgument = true;
        } else if ((c == u' ' || c == u'\t') && !inQuotes) {
            if (inArgument) args.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) args.push_back(current);
    return args;
}

namespace {

bool hasFolder(const string& name) {
    return name.find(u'/') != string::npos || name.find(u'\\') != string::npos;
}

// A name with a folder as it is on disk (found without regard to case), else as written.
string onDisk(const string& name) {
    string resolved;
    if (hasFolder(name) && fsEntryName::resolveNoCase(name, resolved)) return resolved;
    return fsEntryName(name).name();
}

} // namespace

#if defined(_WIN32)
// ---------------------------------------------------------------------------------------------
// Windows

bool startProcess(const string& exe, const string& params, unsigned flags, unsigned long* processId,
                  HANDLE* threadHandle, HANDLE* processHandle, const string& workingDirectory) {
    if (exe.empty()) return false;
    std::wstring commandLine = L"\"";
    for (char16_t c : onDisk(exe)) commandLine += static_cast<wchar_t>(c);
    commandLine += L"\"";
    if (!params.empty()) {
        commandLine += L" ";
        for (char16_t c : params) commandLine += static_cast<wchar_t>(c);
    }
    const std::wstring folder(workingDirectory.begin(), workingDirectory.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // Hidden: no window, and nothing to read from or write to (the null device), as on Linux.
    HANDLE nowhere = INVALID_HANDLE_VALUE;
    if (flags & SP_NOWINDOW) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        nowhere = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (nowhere == INVALID_HANDLE_VALUE) return false;
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.wShowWindow = SW_HIDE;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nowhere;
    }
    // Detached: away from the caller's console and its Ctrl+C.
    const DWORD creation = (flags & SP_DETACHED) ? DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP : 0;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, nowhere != INVALID_HANDLE_VALUE,
                                        creation, nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info);
    if (nowhere != INVALID_HANDLE_VALUE) CloseHandle(nowhere);
    if (!started) return false;
    if (flags & SP_WAIT) WaitForSingleObject(info.hProcess, INFINITE);
    if (processId) *processId = info.dwProcessId;
    if (threadHandle) *threadHandle = info.hThread;
    else CloseHandle(info.hThread);
    if (processHandle) *processHandle = info.hProcess;
    else CloseHandle(info.hProcess);
    return true;
}

bool getExitCodeProcess(HANDLE process, int& exitCode) {
    DWORD code = 0;
    if (process == nullptr || !::GetExitCodeProcess(process, &code)) return false;
    exitCode = static_cast<int>(code);
    return true;
}

bool closeHandle(HANDLE handle) { return handle != nullptr && ::CloseHandle(handle) != 0; }

HMODULE LoadLibraryW(const char16_t* fileName) {
    if (fileName == nullptr || *fileName == u'\0') return nullptr;
    return ::LoadLibraryW(reinterpret_cast<const wchar_t*>(fileName));
}

bool FreeLibrary(HMODULE module) { return module != nullptr && ::FreeLibrary(static_cast<::HMODULE>(module)) != 0; }

#else
// ---------------------------------------------------------------------------------------------
// Linux (and other POSIX systems)

namespace {

// What a process handle points to.
struct processRecord {
    pid_t pid = 0;
    bool ended = false;
    int code = STILL_ACTIVE;
};

// Children whose handle was closed while they still ran: collected once they have ended.
std::mutex gOrphanMutex;
std::vector<pid_t> gOrphans;

void collectOrphans() {
    std::lock_guard<std::mutex> guard(gOrphanMutex);
    for (size_t i = 0; i < gOrphans.size();) {
        // 0: still running; the pid or -1 (no such child any more): done with it.
        if (waitpid(gOrphans[i], nullptr, WNOHANG) != 0) {
            gOrphans[i] = gOrphans.back();
            gOrphans.pop_back();
        } else {
            ++i;
        }
    }
}

// Learns whether the process ended (waiting for it when block is true); false on an error.
bool update(processRecord& r, bool block) {
    if (r.ended) return true;
    int status = 0;
    pid_t got;
    do {
        got = waitpid(r.pid, &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return false;
    if (got == r.pid) {
        if (WIFEXITED(status)) {
            r.ended = true;
            r.code = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            r.ended = true;
            r.code = 128 + WTERMSIG(status);
        }
    }
    return true;
}

} // namespace

bool startProcess(const string& exe, const string& params, unsigned flags, unsigned long* processId,
                  HANDLE* threadHandle, HANDLE* processHandle, const string& workingDirectory) {
    collectOrphans();
    if (exe.empty()) return false;
    const std::string program = onDisk(exe).toUtf8();
    std::vector<std::string> storage{program};
    for (const string& a : splitCommandLine(params)) storage.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (std::string& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    bool ready = true;
    if (flags & SP_NOWINDOW) {
        ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
                posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;
    }
    std::string folder;
    if (ready && !workingDirectory.empty()) {
        folder = onDisk(workingDirectory).toUtf8();
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
        ready = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0;
#else
        ready = false; // no way to start in another folder
#endif
    }
    // An empty signal mask, and the usual signals back to their default action even where the
    // caller ignores them.
    short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t mask, defaults;
    sigemptyset(&mask);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    if (flags & SP_DETACHED) {
#if defined(POSIX_SPAWN_SETSID)
        spawnFlags |= POSIX_SPAWN_SETSID;
#else
        spawnFlags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
#endif
    }
    posix_spawnattr_setflags(&attributes, spawnFlags);

    pid_t pid = 0;
    int rc = -1;
    if (ready) {
        rc = hasFolder(exe) ? posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ)
                            : posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return false;

    auto* record = new processRecord;
    record->pid = pid;
    if (flags & SP_WAIT) update(*record, true);
    if (processId) *processId = static_cast<unsigned long>(pid);
    if (threadHandle) *threadHandle = nullptr;
    if (processHandle) *processHandle = record;
    else closeHandle(record);
    return true;
}

bool getExitCodeProcess(HANDLE process, int& exitCode) {
    if (process == nullptr) return false;
    auto* record = static_cast<processRecord*>(process);
    if (!update(*record, false)) return false;
    exitCode = record->code;
    return true;
}

bool closeHandle(HANDLE handle) {
    if (handle == nullptr) return false;
    auto* record = static_cast<processRecord*>(handle);
    if (!record->ended && update(*record, false) && !record->ended) {
        std::lock_guard<std::mutex> guard(gOrphanMutex);
        gOrphans.push_back(record->pid);
    }
    delete record;
    collectOrphans();
    return true;
}

HMODULE LoadLibraryW(const char16_t* fileName) {
    if (fileName == nullptr || *fileName == u'\0') return nullptr;
    const std::string name = onDisk(fileName).toUtf8();
    void* module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) dlerror(); // clears the error text
    return module;
}

bool FreeLibrary(HMODULE module) { return module != nullptr && dlclose(module) == 0; }

#endif

} // namespace zt
