// Source positions: the file, line and column of a statement, and the source map that finds
// them for an offset in a function body (with its text form, kept in the code manager's index).
#include "ztscript.h"

#include <algorithm>
#include <tuple>

namespace zt::script {

zt::string sourcePosition::text() const {
    if (!known()) return {};
    return zt::string::format(u"%s:%u:%u", file, static_cast<unsigned>(line), static_cast<unsigned>(column));
}

const sourcePosition* innermostPosition(const zt::exception& e) {
    const sourcePosition* found = nullptr;
    for (const zt::exception* p = &e; p; p = p->inner())
        if (auto* se = dynamic_cast<const scriptException*>(p); se && se->position().known()) found = &se->position();
    return found;
}

void sourceMap::add(size_t offset, std::uint32_t line, std::uint32_t column) {
    mPieces.push_back({offset, line, column});
}

std::pair<std::uint32_t, std::uint32_t> sourceMap::lineAndColumnOf(size_t offset) const {
    auto it = std::upper_bound(mPieces.begin(), mPieces.end(), offset,
                               [](size_t o, const piece& pc) { return o < pc.offset; });
    if (it == mPieces.begin()) return {0, 0};
    --it;
    return {it->line, it->column + static_cast<std::uint32_t>(offset - it->offset)};
}

sourcePosition sourceMap::positionOf(size_t offset) const {
    sourcePosition p;
    std::tie(p.line, p.column) = lineAndColumnOf(offset);
    if (p.known() && !mFile.empty()) p.file = mFile.string();
    return p;
}

sourceMap sourceMap::shiftedBy(size_t start) const {
    sourceMap shifted(mFile.empty() ? zt::string() : mFile.string());
    const sourcePosition first = positionOf(start);
    if (first.known()) shifted.add(0, first.line, first.column);
    for (const piece& pc : mPieces)
        if (pc.offset > start) shifted.add(pc.offset - start, pc.line, pc.column);
    return shifted;
}

zt::string sourceMap::encode() const {
    // Every line of every loaded file passes here: plain digits, no formatting machinery.
    zt::string out;
    out.reserve(mPieces.size() * 12);
    auto number = [&out](std::uint64_t n) {
        char16_t digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char16_t>(u'0' + n % 10);
            n /= 10;
        } while (n != 0);
        while (count > 0) out += digits[--count];
    };
    for (const piece& pc : mPieces) {
        number(pc.offset);
        out += u':';
        number(pc.line);
        out += u':';
        number(pc.column);
        out += u';';
    }
    return out;
}

// map text := {offset ':' line ':' column ';'}     (decimal numbers, as encode writes them)
sourceMap sourceMap::decode(const zt::string& file, const zt::string& text) {
    sourceMap map(file);
    std::uint64_t numbers[3] = {0, 0, 0};
    int field = 0;
    for (char16_t c : text) {
        if (c >= u'0' && c <= u'9') {
            numbers[field] = numbers[field] * 10 + static_cast<unsigned>(c - u'0');
        } else if (c == u':' && field < 2) {
            ++field;
        } else if (c == u';' && field == 2) {
            map.add(static_cast<size_t>(numbers[0]), static_cast<std::uint32_t>(numbers[1]),
                    static_cast<std::uint32_t>(numbers[2]));
            numbers[0] = numbers[1] = numbers[2] = 0;
            field = 0;
        } else {
            return sourceMap(file); // not ours: no positions rather than wrong ones
        }
    }
    return map;
}

} // namespace zt::script
