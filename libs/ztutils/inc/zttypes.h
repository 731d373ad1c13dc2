// Fixed-size integer types of the script language.
//
// Scripts know "long" and "ulong" as 32-bit integers. Where the platform's long is 32 bits
// wide the native types serve; elsewhere distinct 32-bit types stand in, so that "long" and
// "int" keep separate type identities (type_info) just as on the reference platform.
#pragma once

#include <climits>
#include <cstdint>
#include <limits>

namespace zt {

template <class Rep, int Tag>
class distinctInt {
public:
    using rep = Rep;
    constexpr distinctInt() noexcept : mValue(0) {}
    constexpr distinctInt(Rep v) noexcept : mValue(v) {}
    constexpr operator Rep() const noexcept { return mValue; }
    constexpr Rep value() const noexcept { return mValue; }

private:
    Rep mValue;
};

#if ULONG_MAX == 0xFFFFFFFFUL
using slong = long;
using ulong = unsigned long;
#else
using slong = distinctInt<std::int32_t, 1>;
using ulong = distinctInt<std::uint32_t, 2>;
#endif

using uint64 = std::uint64_t;

// The arithmetic type a script integer type computes with.
template <class T>
struct repOf {
    using type = T;
};
template <class Rep, int Tag>
struct repOf<distinctInt<Rep, Tag>> {
    using type = Rep;
};
template <class T>
using rep_t = typename repOf<T>::type;

} // namespace zt

template <class Rep, int Tag>
class std::numeric_limits<zt::distinctInt<Rep, Tag>> : public std::numeric_limits<Rep> {};
