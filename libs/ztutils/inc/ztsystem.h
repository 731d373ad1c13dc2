// Platform services: locks, atomic counters, sleeping, threads and code pages.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace zt {

class ZTUTILS_API mutex {
public:
    void lock() { mMutex.lock(); }
    void unlock() { mMutex.unlock(); }
    bool try_lock() { return mMutex.try_lock(); }

private:
    std::recursive_mutex mMutex;
};

using lockGuard = std::lock_guard<mutex>;

inline std::uint32_t interlockedIncrement(std::atomic<std::uint32_t>& v) { return ++v; }
inline std::uint32_t interlockedDecrement(std::atomic<std::uint32_t>& v) { return --v; }

ZTUTILS_API void sleep(unsigned milliseconds);
ZTUTILS_API std::uint64_t getCurrentThreadId();

// A monotonic clock that is cheap to read and exact to a few milliseconds (the system tick: 4 ms
// on Linux, about 16 ms on Windows), for intervals of that order and longer that are looked at
// very often.
struct ZTUTILS_API coarseClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<coarseClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept;
};

// The ANSI code page of the reference platform (Windows-1252).
constexpr unsigned CP_ACP = 0;
// Converts bytes of the ANSI code page to UTF-16; every byte maps to one code unit.
ZTUTILS_API string ansiToString(const char* bytes, size_t length);
ZTUTILS_API std::string stringToAnsi(const string& text, char substitute = '?');

// Stand-in for the platform call: converts srcLength bytes (or up to the NUL when -1) of the
// code page to UTF-16. Returns the number of code units written (or needed when dstLength is 0),
// 0 on failure.
ZTUTILS_API int MultiByteToWideChar(unsigned codePage, unsigned long flags, const char* src, int srcLength,
                                    char16_t* dst, int dstLength);

// Bytes the process's heap holds at the moment (allocated and not freed), as cheaply as the
// platform tells it: the allocator's count on Linux, the private bytes committed on Windows; 0
// where the system does not tell (Wine).
ZTUTILS_API std::uint64_t heapInUse();

// The program's arguments as UTF-8 texts, the program's name first. Windows hands argv over in
// the ANSI code page, so there they are read from the UTF-16 command line instead.
ZTUTILS_API std::vector<std::string> commandLineArguments(int argc, char** argv);

// Makes standard output and error take UTF-8 and write line ends as they are (Windows: the
// console's output code page becomes UTF-8 and the streams binary); nothing to do elsewhere.
ZTUTILS_API void useUtf8Output();

// Whether the stream is a terminal, where a user may be asked.
ZTUTILS_API bool isTerminal(std::FILE* stream);

} // namespace zt
