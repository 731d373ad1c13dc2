// zt::string: UTF-16 text. Lengths, indices and comparisons count 16-bit code units
// on every platform, so scripts behave the same on Windows and Linux.
#pragma once

#include "ztexport.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zt {

// Whether two texts are equal, compared by their bytes at once rather than code unit by code
// unit (as operator== of the standard library does for UTF-16): file names and keys of the
// engine's caches are compared on every call.
inline bool sameText(std::u16string_view a, std::u16string_view b) noexcept {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}
// The equality of unordered containers keyed by texts.
struct sameTextEqual {
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept { return sameText(a, b); }
};

class string;

// One argument of string::format: numbers are kept as numbers, texts as UTF-16.
class ZTUTILS_API formatArg {
public:
    enum class kind { sint, uint, dbl, text, ptr };

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    formatArg(T v) : mKind(kind::sint), mInt(static_cast<long long>(v)) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_signed_v<T>, int> = 0>
    formatArg(T v) : mKind(kind::uint), mUInt(static_cast<unsigned long long>(v)) {}
    template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
    formatArg(T v) : mKind(kind::dbl), mDbl(static_cast<double>(v)) {}
    template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
    formatArg(T v) : mKind(kind::sint), mInt(static_cast<long long>(v)) {}
    formatArg(const char16_t* s);
    formatArg(const wchar_t* s);
    formatArg(const char* s);
    formatArg(const std::u16string& s);
    formatArg(const void* p) : mKind(kind::ptr), mPtr(p) {}
    formatArg(std::nullptr_t) : mKind(kind::ptr), mPtr(nullptr) {}

    kind mKind;
    union {
        long long mInt;
        unsigned long long mUInt;
        double mDbl;
        const void* mPtr;
    };
    std::u16string mText;
};

class ZTUTILS_API string : public std::u16string {
public:
    using std::u16string::u16string;
    using std::u16string::replace;

    string() = default;
    string(const std::u16string& s) : std::u16string(s) {}
    string(std::u16string&& s) noexcept : std::u16string(std::move(s)) {}
    string(std::u16string_view s) : std::u16string(s) {}
    // UTF-8 input.
    string(const char* utf8);
    string(const std::string& utf8);
    // Wide input (UTF-16 or UTF-32 depending on the platform's wchar_t).
    string(const wchar_t* w);

    string substr(size_type pos = 0, size_type n = npos) const { return string(std::u16string::substr(pos, n)); }

    static string fromUtf8(std::string_view utf8);
    std::string toUtf8() const;

    // Lower-cased copy / in-place case mapping (Unicode simple case mapping, length kept).
    string lower() const;
    string& toLower();
    string& toUpper();

    // Replaces every occurrence of what by with; returns the number of replacements.
    size_t replace(const string& what, const string& with);

    // Splits at every occurrence of sep. With skipEmpty false empty parts are kept
    // ("a||b" at "|" gives a, "", b; an empty text gives one empty part).
    void splitAt(const string& sep, std::vector<string>& parts, bool skipEmpty) const;

    // Remove the characters of set everywhere / at the start / at the end.
    string& deleteAll(const string& set);
    string& deleteLeading(const string& set);
    string& deleteTrailing(const string& set);
    string& trim(const string& set = u" \t") { return deleteTrailing(set).deleteLeading(set); }

    bool startsWith(const string& prefix) const { return compare(0, prefix.size(), prefix) == 0; }
    bool endsWith(const string& suffix) const {
        return size() >= suffix.size() && compare(size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    // Case-insensitive equality (simple case folding).
    bool equalsNoCase(const string& other) const;

    // printf-style formatting: %d %i %u %x %X %o %c %s %ls %S %f %g %e %p %% with flags, width
    // and precision; length modifiers are accepted and ignored since arguments carry their types.
    template <class... A>
    static string format(const string& fmt, const A&... args) {
        const formatArg list[] = {formatArg(args)..., formatArg(nullptr)};
        return formatList(fmt, list, sizeof...(A));
    }
    template <class... A>
    static string sformat(const string& fmt, const A&... args) { return format(fmt, args...); }
    static string formatList(const string& fmt, const formatArg* args, size_t count);
};

// Code points in UTF-16 <-> UTF-8 helpers.
ZTUTILS_API std::string toUtf8(std::u16string_view s);
ZTUTILS_API string fromUtf8(std::string_view s);

} // namespace zt

template <>
struct std::hash<zt::string> {
    size_t operator()(const zt::string& s) const noexcept { return std::hash<std::u16string>()(s); }
};
