#include "ztstack.h"

#if defined(_WIN32)
#  include <windows.h>
#elif defined(__linux__)
#  include <pthread.h>
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

stackBounds askSystem() noexcept {
    stackBounds b;
#if defined(_WIN32)
    ULONG_PTR low = 0, high = 0;
    ::GetCurrentThreadStackLimits(&low, &high);
    b.low = static_cast<std::uintptr_t>(low);
    b.high = static_cast<std::uintptr_t>(high);
#elif defined(__linux__)
    // Works for the main thread as well: there the low bound follows from the stack's size limit.
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
