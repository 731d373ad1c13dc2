// Platform services: sleeping, thread ids and the ANSI code page.
#include "ztsystem.h"

#include <array>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>
#include <unordered_map>

// Included after ztsystem.h: the system header defines CP_ACP as a macro.
#if defined(_WIN32)
#  include <windows.h>
#  include <shellapi.h>
#  include <fcntl.h>
#  include <io.h>
#  include <psapi.h>
#else
#  include <malloc.h>
#  include <sys/syscall.h>
#  include <time.h>
#  include <unistd.h>
#  include "icu.h"
#endif

namespace zt {

void sleep(unsigned milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

coarseClock::time_point coarseClock::now() noexcept {
#if defined(_WIN32)
    return time_point(std::chrono::milliseconds(::GetTickCount64()));
#elif defined(__linux__)
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
#else
    return time_point(std::chrono::steady_clock::now().time_since_epoch());
#endif
}

std::uint64_t getCurrentThreadId() {
#if defined(_WIN32)
    return static_cast<std::uint64_t>(::GetCurrentThreadId());
#elif defined(__linux__)
    thread_local const std::uint64_t id = static_cast<std::uint64_t>(::syscall(SYS_gettid));
    return id;
#else
    return static_cast<std::uint64_t>(std::hash<std::thread::id>()(std::this_thread::get_id()));
#endif
}

namespace {

constexpr unsigned kCodePageAnsi = 1252;
constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned long kErrorOnInvalidChars = 0x08; // MB_ERR_INVALID_CHARS

// Windows-1252 byte -> UTF-16 code unit. Every byte has a mapping: the five bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 control of the same
// value, and so does any byte the converter cannot handle.
#if defined(_WIN32)
const std::array<char16_t, 256>& ansiTable() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (unsigned b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            wchar_t out[2];
            const int n = ::MultiByteToWideChar(kCodePageAnsi, MB_ERR_INVALID_CHARS, &byte, 1, out, 2);
            t[b] = n == 1 ? static_cast<char16_t>(out[0]) : static_cast<char16_t>(b);
        }
        return t;
    }();
    return table;
}
#else
const std::array<char16_t, 256>& ansiTable() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (unsigned b = 0; b < 256; ++b) t[b] = static_cast<char16_t>(b);

        const icu::functions& uc = icu::get();
        UErrorCode status = U_ZERO_ERROR;
        UConverter* conv = uc.open("windows-1252", &status);
        if (U_FAILURE(status) || conv == nullptr) return t;
        // All 256 bytes in one call: a single-byte code page gives one character per byte,
        // the substitute (U+FFFD or SUB) for a byte it cannot map.
        char bytes[256];
        for (unsigned b = 0; b < 256; ++b) bytes[b] = static_cast<char>(b);
        UChar all[512];
        status = U_ZERO_ERROR;
        const int32_t count = uc.toUChars(conv, all, 512, bytes, 256, &status);
        if (U_SUCCESS(status) && count == 256) {
            for (unsigned b = 0; b < 256; ++b)
                if (all[b] != 0xFFFD && (all[b] != 0x1A || b == 0x1A)) t[b] = static_cast<char16_t>(all[b]);
            uc.close(conv);
            return t;
        }
        status = U_ZERO_ERROR;
        uc.setToUCallBack(conv, uc.callbackStop, nullptr, nullptr, nullptr, &status);
        if (U_SUCCESS(status)) {
            for (unsigned b = 0; b < 256; ++b) {
                const char byte = static_cast<char>(b);
                UChar out[4];
                UErrorCode err = U_ZERO_ERROR;
                uc.reset(conv);
                const int32_t n = uc.toUChars(conv, out, 4, &byte, 1, &err);
                // U+FFFD and SUB (U+001A) are what a converter produces for bytes it cannot map.
                const bool mapped = U_SUCCESS(err) && n == 1 && out[0] != 0xFFFD && (out[0] != 0x1A || b == 0x1A);
                if (mapped) t[b] = static_cast<char16_t>(out[0]);
            }
        }
        uc.close(conv);
        return t;
    }();
    return table;
}
#endif

// UTF-16 code unit -> Windows-1252 byte for every character the table produces.
const std::unordered_map<char16_t, char>& ansiReverse() {
    static const std::unordered_map<char16_t, char> reverse = [] {
        std::unordered_map<char16_t, char> r;
        const auto& t = ansiTable();
        for (unsigned b = 0; b < 256; ++b) r.emplace(t[b], static_cast<char>(b));
        return r;
    }();
    return reverse;
}

#if defined(_WIN32)
bool utf8ToUtf16(const char* src, size_t length, bool strict, std::u16string& out) {
    out.clear();
    if (length == 0) return true;
    if (length > static_cast<size_t>(INT_MAX)) return false;
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int srcLength = static_cast<int>(length);
    const int needed = ::MultiByteToWideChar(CP_UTF8, flags, src, srcLength, nullptr, 0);
    if (needed <= 0) return false;
    out.assign(static_cast<size_t>(needed), u'\0');
    return ::MultiByteToWideChar(CP_UTF8, flags, src, srcLength, reinterpret_cast<wchar_t*>(out.data()), needed) ==
           needed;
}
#else
bool utf8ToUtf16(const char* src, size_t length, bool strict, std::u16string& out) {
    if (length > static_cast<size_t>(INT32_MAX)) return false;
    const icu::functions& uc = icu::get();
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    const int32_t srcLength = static_cast<int32_t>(length);
    if (strict)
        uc.fromUtf8(nullptr, 0, &needed, src, srcLength, &status);
    else
        uc.fromUtf8WithSub(nullptr, 0, &needed, src, srcLength, 0xFFFD, nullptr, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
    out.assign(static_cast<size_t>(needed), u'\0');
    if (needed == 0) return true;
    status = U_ZERO_ERROR;
    auto* dst = reinterpret_cast<UChar*>(out.data());
    if (strict)
        uc.fromUtf8(dst, needed, &needed, src, srcLength, &status);
    else
        uc.fromUtf8WithSub(dst, needed, &needed, src, srcLength, 0xFFFD, nullptr, &status);
    // A full destination without room for a terminator only raises a warning.
    return U_SUCCESS(status);
}
#endif

} // namespace

string ansiToString(const char* bytes, size_t length) {
    string out;
    if (bytes == nullptr || length == 0) return out;
    out.resize(length);
    // The lower half of the code page is ASCII: the table is built when a byte of the upper
    // half first turns up.
    const std::array<char16_t, 256>* table = nullptr;
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            out[i] = byte;
        } else {
            if (!table) table = &ansiTable();
            out[i] = (*table)[byte];
        }
    }
    return out;
}

std::string stringToAnsi(const string& text, char substitute) {
    std::string out;
    out.reserve(text.size());
    const auto& reverse = ansiReverse();
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        // A surrogate pair is one character and gets one substitute.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += substitute;
            ++i;
            continue;
        }
        const auto it = reverse.find(c);
        out += it != reverse.end() ? it->second : substitute;
    }
    return out;
}

int MultiByteToWideChar(unsigned codePage, unsigned long flags, const char* src, int srcLength, char16_t* dst,
                        int dstLength) {
    if (src == nullptr || srcLength == 0 || srcLength < -1 || dstLength < 0 || (dstLength > 0 && dst == nullptr))
        return 0;
    // With -1 the terminating NUL is converted as well and counted, as the platform call does.
    const size_t length = srcLength == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLength);

    std::u16string out;
    if (codePage == CP_ACP || codePage == kCodePageAnsi) {
        out = ansiToString(src, length);
    } else if (codePage == kCodePageUtf8) {
        if (!utf8ToUtf16(src, length, (flags & kErrorOnInvalidChars) != 0, out)) return 0;
    } else {
        return 0;
    }
    if (out.size() > static_cast<size_t>(INT_MAX)) return 0;
    const int count = static_cast<int>(out.size());
    if (dstLength == 0) return count;
    if (count > dstLength) return 0;
    std::memcpy(dst, out.data(), out.size() * sizeof(char16_t));
    return count;
}

#if defined(__has_feature)
#  if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#    define ZT_ASAN 1
#  endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(ZT_ASAN)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

std::uint64_t heapInUse() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters))
        return 0;
    return counters.PrivateUsage;
#elif defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(ZT_ASAN)
    return __sanitizer_get_current_allocated_bytes(); // the sanitizer's allocator stands in for malloc
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    std::vector<std::string> args;
#if defined(_WIN32)
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) args.push_back(toUtf8(reinterpret_cast<const char16_t*>(wide[i])));
        ::LocalFree(wide);
        return args;
    }
#endif
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

void useUtf8Output() {
#if defined(_WIN32)
    ::SetConsoleOutputCP(CP_UTF8);
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

bool isTerminal(std::FILE* stream) {
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

} // namespace zt
