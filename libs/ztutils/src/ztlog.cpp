// The logger: named loggers writing through one stderr sink.
#include "ztlog.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <spdlog/logger.h>
#include <spdlog/sinks/stdout_color_sinks.h>

namespace zt {

// Constant-initialised to "off" so that nothing is logged by code that runs before the
// environment has been read; the initialiser below then applies ZTSCRIPT_LOG.
std::atomic<int> gLogLevel{static_cast<int>(logLevel::off)};

namespace {

// Level names are ASCII; anything else is unknown. Kept free of zt::string so that it can run
// while the library is being loaded.
logLevel parseAscii(const std::string& text) {
    std::string t;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        t += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (t == "trace") return logLevel::trace;
    if (t == "debug") return logLevel::debug;
    if (t == "info") return logLevel::info;
    if (t == "warn" || t == "warning") return logLevel::warn;
    if (t == "error" || t == "err") return logLevel::error;
    return logLevel::off;
}

const bool gLevelFromEnvironment = [] {
    const char* value = std::getenv("ZTSCRIPT_LOG");
    gLogLevel.store(static_cast<int>(value ? parseAscii(value) : logLevel::off), std::memory_order_relaxed);
    return true;
}();

// The shared sink. Never destroyed, so that loggers stay usable while static objects of other
// modules are torn down.
spdlog::logger& sinkLogger() {
    static spdlog::logger* instance = [] {
        auto sink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
        auto* l = new spdlog::logger("ztscript", std::move(sink));
        l->set_level(spdlog::level::trace);
        l->set_pattern("%Y-%m-%d %H:%M:%S.%e [%^%l%$] [%t] %v");
        l->flush_on(spdlog::level::trace);
        return l;
    }();
    return *instance;
}

spdlog::level::level_enum toSpdlog(logLevel level) {
    switch (level) {
    case logLevel::trace: return spdlog::level::trace;
    case logLevel::debug: return spdlog::level::debug;
    case logLevel::info: return spdlog::level::info;
    case logLevel::warn: return spdlog::level::warn;
    case logLevel::error: return spdlog::level::err;
    case logLevel::off: break;
    }
    return spdlog::level::off;
}

} // namespace

logger::logger(const string& name) : mName(name) {}

void logger::write(logLevel level, const string& text, const char* file, int line, const char* function) {
    if (level == logLevel::off || !isEnabled(level)) return;
    std::string message;
    message.reserve(mName.size() + text.size() + 64);
    message += '[';
    message += mName.toUtf8();
    message += "] ";
    message += text.toUtf8();
    if (file != nullptr && *file != '\0') {
        message += " (";
        message += file;
        message += ':';
        message += std::to_string(line);
        if (function != nullptr && *function != '\0') {
            message += ' ';
            message += function;
        }
        message += ')';
    }
    sinkLogger().log(toSpdlog(level), spdlog::string_view_t(message.data(), message.size()));
}

logger& logManager::getLogger(const string& name) {
    // Deliberately never freed: references handed out must outlive every caller.
    static std::mutex* lock = new std::mutex;
    static auto* loggers = new std::map<string, std::unique_ptr<logger>>;
    std::lock_guard<std::mutex> guard(*lock);
    auto& slot = (*loggers)[name];
    if (!slot) slot = std::make_unique<logger>(name);
    return *slot;
}

void logManager::setLevel(logLevel level) { gLogLevel.store(static_cast<int>(level), std::memory_order_relaxed); }

logLevel logManager::level() noexcept {
    const int v = gLogLevel.load(std::memory_order_relaxed);
    if (v < static_cast<int>(logLevel::trace) || v > static_cast<int>(logLevel::off)) return logLevel::off;
    return static_cast<logLevel>(v);
}

logLevel logManager::parseLevel(const string& text) {
    for (char16_t c : text) {
        if (c >= 0x80) return logLevel::off;
    }
    return parseAscii(std::string(text.begin(), text.end()));
}

} // namespace zt
