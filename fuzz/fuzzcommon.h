// Helpers shared by the fuzz targets.
#pragma once

#include <ztscript.h>
#include <ztutils.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace ztfuzz {

// Script files are read one byte per character (Windows-1252); the fuzz targets hand texts to
// the parser the same way, so that every byte value can reach it.
inline zt::string textOf(const std::uint8_t* data, std::size_t size) {
    zt::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) text.push_back(static_cast<char16_t>(data[i]));
    return text;
}

// Assertion reports (rejected statement arguments) are expected by the thousand: keep them quiet.
inline void silenceAssertions() {
    static const bool once = [] {
        zt::setAssertReporter([](const zt::string&) {});
        return true;
    }();
    (void)once;
}

// A host shows the failure it gets: build every message of the chain, as a host would.
inline void readChain(const zt::exception& e) {
    std::size_t total = 0;
    for (const zt::exception* p = &e; p; p = p->inner()) total += p->text().size();
    if (total == static_cast<std::size_t>(-1)) std::abort(); // keeps the work from being optimised away
}

// Anything but the engine's documented failures (zt::exception, bool, zt::string) is a finding.
[[noreturn]] inline void unexpected(const char* where, const char* what) {
    std::fprintf(stderr, "FINDING in %s: unexpected exception escaped: %s\n", where, what);
    std::abort();
}

} // namespace ztfuzz

// Runs a call and turns every undocumented failure into an abort that libFuzzer records.
#define ZTFUZZ_GUARDED(where, ...)                                                               \
    try {                                                                                        \
        __VA_ARGS__;                                                                             \
    } catch (const zt::exception& e) {                                                           \
        ztfuzz::readChain(e);                                                                    \
    } catch (bool) {                                                                             \
    } catch (const zt::string&) {                                                                \
    } catch (const std::exception& e) {                                                          \
        ztfuzz::unexpected(where, e.what());                                                     \
    } catch (...) {                                                                              \
        ztfuzz::unexpected(where, "(not a std::exception)");                                     \
    }
