// Helpers shared by the engine core's files: the blanks the parser trims, localised messages
// with their parameters, and the guard of a thread's nesting counts.
#pragma once

#include "ztscript.h"

#include <initializer_list>
#include <string_view>
#include <utility>

namespace zt::script::core {

// The blanks trimmed around statement texts, arguments and definitions.
inline const zt::string kBlanks = u" \t";
// The line breaks a statement text loses before it is parsed.
inline const zt::string kLineBreaks = u"\r\n";

// text without the blanks around it (empty when it holds nothing else), viewed in place.
inline std::u16string_view withoutBlanksAround(std::u16string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::u16string_view::npos) return text.substr(text.size());
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A localised message with its parameters; a parameter without a value is set to null.
inline locString makeMessage(const char16_t* id, const char16_t* text,
                             std::initializer_list<std::pair<const char16_t*, const zt::string*>> params) {
    locString s(id, text);
    for (const auto& p : params) {
        if (p.second) s.params().set(p.first, *p.second);
        else s.params().setNull(p.first);
    }
    return s;
}

// Counts one level of a thread's nesting (of execution or of parsing) while it lives.
struct nestingGuard {
    int& mDepth;
    explicit nestingGuard(int& depth) : mDepth(depth) { ++mDepth; }
    ~nestingGuard() { --mDepth; }
    nestingGuard(const nestingGuard&) = delete;
    nestingGuard& operator=(const nestingGuard&) = delete;
};

} // namespace zt::script::core
