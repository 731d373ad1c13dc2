// A small program that the process tests start in place of a shell, so that they run alike on
// every platform. It carries out its arguments as actions, left to right:
//   exit N            ends with exit code N
//   sleep MS          waits MS milliseconds
//   count ARG...      ends with the number of the arguments that follow as its exit code
//   write TEXT FILE   writes the line TEXT to FILE
//   cwd FILE          writes the current folder to FILE
//   stdio FILE        writes "k=null" when standard input, output and error all lead nowhere (the
//                     null device), else "k=open"
//   session FILE      writes "k=own" when the program is away from its starter's terminal or
//                     console (a session of its own, or no console), else "k=shared"
//   kill              ends by the signal SIGTERM (where there are signals)
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void writeLine(const char* file, const std::string& text) { std::ofstream(file) << text << "\n"; }

#if defined(_WIN32)
bool leadsNowhere(DWORD which) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return true;
    DWORD mode = 0;
    // The null device is a character device that is not a console.
    return GetFileType(h) == FILE_TYPE_CHAR && !GetConsoleMode(h, &mode);
}
bool allNowhere() {
    return leadsNowhere(STD_INPUT_HANDLE) && leadsNowhere(STD_OUTPUT_HANDLE) && leadsNowhere(STD_ERROR_HANDLE);
}
bool ownSession() { return GetConsoleWindow() == nullptr && GetConsoleCP() == 0; }
#else
bool leadsNowhere(int fd) {
    struct stat s {}, null {};
    return fstat(fd, &s) == 0 && stat("/dev/null", &null) == 0 && S_ISCHR(s.st_mode) && s.st_rdev == null.st_rdev;
}
bool allNowhere() { return leadsNowhere(0) && leadsNowhere(1) && leadsNowhere(2); }
bool ownSession() { return getsid(0) == getpid(); }
#endif

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string action = argv[i];
        const bool hasArg = i + 1 < argc;
        if (action == "exit" && hasArg) return std::atoi(argv[++i]);
        if (action == "sleep" && hasArg) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[++i])));
        } else if (action == "count") {
            return argc - i - 1;
        } else if (action == "write" && i + 2 < argc) {
            writeLine(argv[i + 2], argv[i + 1]);
            i += 2;
        } else if (action == "cwd" && hasArg) {
            writeLine(argv[++i], std::filesystem::current_path().string());
        } else if (action == "stdio" && hasArg) {
            writeLine(argv[++i], allNowhere() ? "k=null" : "k=open");
        } else if (action == "session" && hasArg) {
            writeLine(argv[++i], ownSession() ? "k=own" : "k=shared");
        } else if (action == "kill") {
            std::raise(SIGTERM);
        } else {
            return 100; // unknown action
        }
    }
    return 0;
}
