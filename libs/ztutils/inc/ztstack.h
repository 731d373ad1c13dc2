// The stack of the current thread: its bounds, and whether a recursion still has room for one
// more level. Recursive code (statement execution and parsing, walks over nested values) asks
// before each level, so that a deep recursion ends with an error instead of overrunning the
// stack, whatever stack size the thread was given.
#pragma once

#include "ztexport.h"
#include "ztthread.h"

#include <cstddef>
#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#  include <intrin.h>
#endif

namespace zt {

// The current thread's stack, [low, high); both 0 when the system does not tell.
struct stackBounds {
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
    bool known() const noexcept { return low < high; }
};

// Asked from the system on a thread's first call, then kept for the thread's life.
ZTUTILS_API const stackBounds& currentStackBounds() noexcept;

// The room a recursion keeps free below the frame that checks (see ztstack.cpp for the number).
ZTUTILS_API std::size_t stackMargin() noexcept;

namespace detail {

// Where the current frame is: the frame address, not a local, which AddressSanitizer may move
// to a heap-allocated fake frame.
#if defined(__GNUC__) || defined(__clang__)
#  define ZT_CURRENT_FRAME() reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0))
#elif defined(_MSC_VER)
#  define ZT_CURRENT_FRAME() reinterpret_cast<std::uintptr_t>(_AddressOfReturnAddress())
#else
#  define ZT_CURRENT_FRAME() [] { volatile char probe = 0; return reinterpret_cast<std::uintptr_t>(&probe); }()
#endif

// The lowest frame address that still leaves the margin free on this thread: low bound plus
// margin, 0 when the bounds are unknown. It starts at the highest address, so that the first
// check of a thread takes the slow path, which asks for the bounds. A plain constant-initialised
// thread_local, so that the check stays one load and one compare (each module that checks may
// hold its own copy).
ZT_FAST_TLS inline thread_local std::uintptr_t tlStackFloor = UINTPTR_MAX;

// The slow path of stackIsShort: fills floor on a thread's first check and answers for frames
// below it.
ZTUTILS_API bool stackIsShortAt(std::uintptr_t frame, std::size_t reserve, std::uintptr_t& floor) noexcept;

} // namespace detail

// True when less than the margin, plus reserve, is left below the caller's frame: a recursion
// must stop and fail cleanly. A recursion whose steps pass several checks asks for a reserve at
// the outer one, so that the outer check fails first. Frames on a stack other than the thread's
// own (fibers) are never short.
inline bool stackIsShort(std::size_t reserve = 0) noexcept {
    const std::uintptr_t frame = ZT_CURRENT_FRAME();
    return frame - reserve < detail::tlStackFloor && detail::stackIsShortAt(frame, reserve, detail::tlStackFloor);
}

} // namespace zt
