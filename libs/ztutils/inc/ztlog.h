// The logger: named loggers over a shared sink. Off by default; the environment variable
// ZTSCRIPT_LOG (trace, debug, info, warn, error, off) sets the level at start-up.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <atomic>

namespace zt {

enum class logLevel : int { trace = 0, debug = 1, info = 2, warn = 3, error = 4, off = 5 };

// The process-wide level, read on every log call before any formatting happens.
extern ZTUTILS_API std::atomic<int> gLogLevel;

class ZTUTILS_API logger {
public:
    explicit logger(const string& name);
    const string& name() const { return mName; }

    bool isEnabled(logLevel level) const noexcept {
        return static_cast<int>(level) >= gLogLevel.load(std::memory_order_relaxed);
    }

    template <class... A>
    void log_trace(const char16_t* format, const char* file, int line, const char* function, const A&... args) {
        if (isEnabled(logLevel::trace)) write(logLevel::trace, string::format(format, args...), file, line, function);
    }
    template <class... A>
    void log_debug(const char16_t* format, const char* file, int line, const char* function, const A&... args) {
        if (isEnabled(logLevel::debug)) write(logLevel::debug, string::format(format, args...), file, line, function);
    }
    template <class... A>
    void log_info(const char16_t* format, const char* file, int line, const char* function, const A&... args) {
        if (isEnabled(logLevel::info)) write(logLevel::info, string::format(format, args...), file, line, function);
    }

    void write(logLevel level, const string& text, const char* file, int line, const char* function);

private:
    string mName;
};

class ZTUTILS_API logManager {
public:
    // The logger of that name; the reference stays valid for the life of the process.
    static logger& getLogger(const string& name);
    static void setLevel(logLevel level);
    static logLevel level() noexcept;
    // Parses "trace", "debug", ... ("off" for anything unknown).
    static logLevel parseLevel(const string& text);
};

} // namespace zt
