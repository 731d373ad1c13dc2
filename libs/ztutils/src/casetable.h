// The table of simple case mappings generated from ICU (casetable.inc), used where ICU is not
// available (Windows), so that case mapping gives the same results on every platform.
#pragma once

#include <algorithm>
#include <iterator>

namespace zt::casetable {

// `count` code points from `first`, every `stride`-th one, map to themselves plus `delta`.
struct caseRun {
    char32_t first;
    int count;
    int stride;
    int delta;
};

#include "casetable.inc"

template <size_t N>
char32_t map(const caseRun (&runs)[N], char32_t c) {
    const caseRun* after = std::upper_bound(std::begin(runs), std::end(runs), c,
                                            [](char32_t v, const caseRun& r) { return v < r.first; });
    if (after == std::begin(runs)) return c;
    const caseRun& r = *(after - 1);
    const char32_t offset = c - r.first;
    if (offset % r.stride != 0 || offset / r.stride >= static_cast<char32_t>(r.count)) return c;
    return static_cast<char32_t>(static_cast<int>(c) + r.delta);
}

inline char32_t lower(char32_t c) { return map(kLowerRuns, c); }
inline char32_t upper(char32_t c) { return map(kUpperRuns, c); }

} // namespace zt::casetable
