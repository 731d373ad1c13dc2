// Keyword tables of the statement libraries: each library lists its keywords with what builds
// their statements, and its dispatcher finds the (lower-cased) keyword there.
#pragma once

#include "ztstatements.h"

#include <cstddef>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zt::script::modules {

using argumentTexts = std::vector<zt::string>;

// Builds the statement of one keyword from the type texts, the argument texts and the parser
// flags; null when the statement does not apply (the parser then asks the next library).
using statementFactory = statement* (*)(const argumentTexts& types, const argumentTexts& params, int flags);

template <class T>
struct keywordEntry {
    std::u16string_view keyword;
    T value;
};

// The value the table gives keyword, or notFound when it does not list it.
template <class T, std::size_t N>
constexpr T lookupKeyword(const keywordEntry<T> (&table)[N], std::u16string_view keyword, T notFound = T{}) {
    for (const keywordEntry<T>& entry : table)
        if (entry.keyword == keyword) return entry.value;
    return notFound;
}

// The statement of keyword built by its factory in table; null ("not mine") when the table does
// not list the keyword.
template <std::size_t N>
statement* buildFromTable(const keywordEntry<statementFactory> (&table)[N], std::u16string_view keyword,
                          const argumentTexts& types, const argumentTexts& params, int flags) {
    const statementFactory build = lookupKeyword(table, keyword);
    return build ? build(types, params, flags) : nullptr;
}

// A table factory from a library's own factory F, called with the fixed leading arguments
// Fixed... and then with (types, params, flags), (params, flags) or nothing, whichever F takes.
template <auto F, auto... Fixed>
statement* factory(const argumentTexts& types, const argumentTexts& params, int flags) {
    if constexpr (std::is_invocable_v<decltype(F), decltype(Fixed)..., const argumentTexts&, const argumentTexts&, int>)
        return F(Fixed..., types, params, flags);
    else if constexpr (std::is_invocable_v<decltype(F), decltype(Fixed)..., const argumentTexts&, int>)
        return F(Fixed..., params, flags);
    else
        return F(Fixed...);
}

} // namespace zt::script::modules
