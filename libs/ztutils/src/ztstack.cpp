#include "ztstack.h"

#if defined(_WIN32)
#  include <windows.h>
#elif defined(__linux__)
#  include <pthread.h>
#  include <sys/auxv.h>
#  include <sys/resource.h>
#  include <unistd.h>

#  include <cstring>
#endif

namespace zt {

namespace {

// What one step of a recursion may use below the frame that checked until the next check,
// building and throwing the error included. Measured on 256 KB threads, over 64 frame
// alignments each: endless statement, call and value recursion, parsing, the demo host's dump,
// with trace logging on and off, went at most 4.3 KB past a check in a Release build, 5.4 KB in
// Debug and 12 KB with AddressSanitizer; no script test of tests/scripts needed more than 13,
// 25 and 50 KB of stack in all. 64 KB covers all of it with room to spare and leaves a 256 KB
// thread about 170 KB to recurse in. (Loading a script file takes more: the reserve of
// callfunction covers it.)
constexpr std::size_t kMargin = 64u << 10;

#if defined(_WIN32)
// The lowest pages of a Windows stack reservation never serve as stack: the guard page and the
// pages the system keeps for handling the overflow sit there.
constexpr std::size_t kSystemReserve = 16u << 10;
#else
constexpr std::size_t kSystemReserve = 0;
#endif

#if defined(__linux__)
} // namespace
} // namespace zt
extern "C" void* __libc_stack_end; // the C library's: where the main thread's stack began
namespace zt {
namespace {

// The main thread's stack as pthread_getattr_np reckons it, without the read of /proc/self/maps
// it makes for that thread, which took about 3 % of a short script's run. Its stack begins
// above the page where the C library's start found it, and may grow down to the size limit
// counted from the top of the stack's mapping. The kernel puts the program's file name at that
// top, only a null pointer above it. A limit too large for the kernel to keep free below the
// stack is left to pthread_getattr_np.
bool mainThreadBounds(stackBounds& b) noexcept {
    if (::getpid() != ::gettid()) return false;
    const auto name = static_cast<std::uintptr_t>(::getauxval(AT_EXECFN));
    rlimit limit{};
    if (name == 0 || ::getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > (256u << 20))
        return false;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t nameEnd = name + std::strlen(reinterpret_cast<const char*>(name)) + 1 + sizeof(void*);
    const std::uintptr_t top = (nameEnd + page - 1) & ~(page - 1);
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(__libc_stack_end) & ~(page - 1)) + page;
    const std::uintptr_t frame = ZT_CURRENT_FRAME();
    if (begin > top || top - begin >= limit.rlim_cur) return false;
    const std::uintptr_t size = (limit.rlim_cur - (top - begin)) & ~(page - 1);
    if (frame >= begin || frame < begin - size) return false;
    b.low = begin - size;
    b.high = begin;
    return true;
}
#endif

stackBounds askSystem() noexcept {
    stackBounds b;
#if defined(_WIN32)
    ULONG_PTR low = 0, high = 0;
    ::GetCurrentThreadStackLimits(&low, &high);
    b.low = static_cast<std::uintptr_t>(low);
    b.high = static_cast<std::uintptr_t>(high);
#elif defined(__linux__)
    if (mainThreadBounds(b)) return b;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return b;
    void* addr = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr && size != 0) {
        b.low = reinterpret_cast<std::uintptr_t>(addr);
        b.high = b.low + size;
    }
    pthread_attr_destroy(&attr);
#endif
    return b;
}

struct threadStack {
    stackBounds bounds;
    bool asked = false;
};

ZT_FAST_TLS thread_local threadStack tlStack;

} // namespace

const stackBounds& currentStackBounds() noexcept {
    if (!tlStack.asked) {
        tlStack.bounds = askSystem();
        tlStack.asked = true;
    }
    return tlStack.bounds;
}

std::size_t stackMargin() noexcept { return kMargin; }

namespace detail {

bool stackIsShortAt(std::uintptr_t frame, std::size_t reserve, std::uintptr_t& floor) noexcept {
    const stackBounds& b = currentStackBounds();
    if (!b.known()) {
        floor = 0; // nothing to go by: never short
        return false;
    }
    floor = b.low + kSystemReserve + kMargin;
    // A frame outside the thread's stack runs on a stack of its own, whose end is unknown.
    if (frame < b.low || frame >= b.high) return false;
    return frame - b.low < kSystemReserve + kMargin + reserve;
}

} // namespace detail

} // namespace zt
