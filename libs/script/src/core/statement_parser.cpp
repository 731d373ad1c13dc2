// The statement parser: splits a statement text into keyword, types and arguments, asks the
// statement libraries (built-in first, then the host's) to build it, and gives each statement
// its source position while a sourceScope is active.
#include "core/internal.h"
#include "libraries/builtin_libraries.h"

#include "ztscript.h"

#include <ztthread.h>

#include <algorithm>
#include <cstdint>

namespace zt::script {

using core::kBlanks;
using core::kLineBreaks;
using core::nestingGuard;
using core::withoutBlanksAround;

namespace {
// Nesting of statement parsing on this thread, bounded as execution is (execution.cpp) so that
// a very deep statement text ends with an error instead of exhausting the stack.
constexpr int kMaxParseNesting = 500;
ZT_FAST_TLS thread_local int gParseNesting = 0;
// Statements built by the host's libraries on this thread so far. A piece of a sequence that
// built none is a tree of the built-in statements, which the sequence keeps without a copy; the
// host's statements are copied with their clone() and released as handed over.
ZT_FAST_TLS thread_local std::uint64_t gHostStatements = 0;
} // namespace

scriptModule::scriptModule(moduleDispatcher dispatcher) : mDispatcher(dispatcher) {
    if (!dispatcher) throw false;
}

void scriptModule::registerModule() { statementParser::instance()->registerModule(this); }

statementParser* statementParser::instance() {
    static statementParser* parser = [] {
        auto* p = new statementParser;
        for (const scriptModule* m : modules::builtInTable()) p->mModules.push_back(m);
        p->mBuiltIns = p->mModules.size();
        return p;
    }();
    return parser;
}

void statementParser::registerModule(const scriptModule* module) {
    if (!module) return;
    if (std::find(mModules.begin(), mModules.end(), module) != mModules.end()) return;
    mModules.push_back(module);
}

namespace {

// Splits an argument text at top-level commas (see the scanner rules in the language notes).
// Returns false with the failure kind when brackets or a string literal stay open.
enum class scanFailure { none, paren, angle, string };

// One argument of args, trimmed; in a string literal "..." an escaped quote \" becomes a quote.
// An empty argument counts, except as the last one.
void finishArgument(const zt::string& text, size_t start, size_t end, std::vector<zt::string>& out, bool always) {
    zt::string arg = text.substr(start, end - start);
    arg.trim(kBlanks);
    if (!arg.empty() && arg.size() >= 2 && arg.front() == u'"' && arg.back() == u'"') {
        zt::string resolved;
        resolved.reserve(arg.size());
        resolved += arg.front();
        for (size_t i = 1; i + 1 < arg.size(); ++i) {
            if (arg[i] == u'\\' && i + 2 < arg.size() + 0 && arg[i + 1] == u'"' && i + 1 < arg.size() - 1) {
                resolved += u'"';
                ++i;
            } else {
                resolved += arg[i];
            }
        }
        resolved += arg.back();
        arg = std::move(resolved);
    }
    if (always || !arg.empty()) out.push_back(std::move(arg));
}

// args := [arg {',' arg}], split at the commas outside "(...)", "<...>" and string literals. A
// quote opens a string literal only at the start of an argument or after "(".
scanFailure scanArguments(const zt::string& text, std::vector<zt::string>& out) {
    int parenDepth = 0, angleDepth = 0;
    bool inString = false, escaped = false, quoteOpensString = true;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (inString) {
            if (c == u'"') {
                if (escaped) escaped = false;
                else {
                    inString = false;
                    quoteOpensString = false;
                }
            } else if (c == u'\\') {
                escaped = true;
            } else {
                escaped = false;
            }
            continue;
        }
        switch (c) {
        case u',':
            if (parenDepth == 0 && angleDepth == 0) {
                finishArgument(text, start, i, out, true);
                start = i + 1;
            }
            quoteOpensString = true;
            break;
        case u'(':
            ++parenDepth;
            quoteOpensString = true;
            break;
        case u')':
            --parenDepth;
            quoteOpensString = false;
            break;
        case u'<':
            ++angleDepth;
            quoteOpensString = false;
            break;
        case u'>':
            --angleDepth;
            quoteOpensString = false;
            break;
        case u'"':
            if (quoteOpensString) inString = true;
            quoteOpensString = false;
            break;
        case u' ':
        case u'\t':
            break;
        default:
            quoteOpensString = false;
            break;
        }
    }
    finishArgument(text, start, text.size(), out, false);
    if (parenDepth != 0) return scanFailure::paren;
    if (angleDepth != 0) return scanFailure::angle;
    if (inString) return scanFailure::string;
    return scanFailure::none;
}

} // namespace

namespace {
// The texts being parsed on this thread while a sourceScope is active, outermost first. A nested
// text is looked up in the text of its parent (library factories hand the parser copies of
// their argument texts), from where the previous lookup left off so that equal arguments map
// in order.
struct parseFrame {
    const zt::string* text;
    size_t offset; // of text in the body
    size_t cursor; // where to look for the next nested text
};
thread_local const sourceMap* gSourceMap = nullptr;
struct parseFramesTag;
struct lastParseFailureTag;
std::vector<parseFrame>& parseFrames() { return zt::threadOwned<std::vector<parseFrame>, parseFramesTag>(); }
sourcePosition& lastParseFailure() { return zt::threadOwned<sourcePosition, lastParseFailureTag>(); }

// Offset in the body of s, a trimmed text; lead is the number of blanks trimmed at its start.
// inParent: s was found in the text of the statement being parsed around it.
size_t bodyOffsetOf(std::u16string_view s, size_t lead, bool& inParent) {
    inParent = false;
    if (parseFrames().empty()) return lead; // the body itself
    parseFrame& parent = parseFrames().back();
    if (s.empty()) return parent.offset;
    size_t at = parent.text->find(s, parent.cursor);
    if (at == zt::string::npos) at = parent.text->find(s);
    if (at == zt::string::npos) return parent.offset; // rewritten by its library: the parent's place
    parent.cursor = at + s.size();
    inParent = true;
    return parent.offset + at;
}

// Records the place of the innermost failing text, once per failure.
void noteParseFailure(const sourcePosition& where) {
    if (!lastParseFailure().known()) lastParseFailure() = where;
}

// Keeps a text on the frame stack while its pieces are parsed.
struct frameGuard {
    bool active;
    frameGuard(const zt::string* text, size_t offset) : active(gSourceMap != nullptr) {
        if (active) parseFrames().push_back({text, offset, 0});
    }
    ~frameGuard() {
        if (active) parseFrames().pop_back();
    }
    frameGuard(const frameGuard&) = delete;
    frameGuard& operator=(const frameGuard&) = delete;
};
} // namespace

sourceScope::sourceScope(const sourceMap& map) : mpPrevious(gSourceMap) {
    gSourceMap = &map;
    parseFrames().clear();
    lastParseFailure() = sourcePosition();
}

sourceScope::~sourceScope() {
    gSourceMap = mpPrevious;
    parseFrames().clear();
}

sourcePosition lastParseFailurePosition() { return lastParseFailure(); }

// statement := block | sequence | call    (see createStatementAt); gives it its source position
statement* statementParser::createStatementFrom(const zt::string& text, int flags) {
    if (!gSourceMap) return createStatementAt(text, flags, 0);
    // Where the trimmed text starts in the body.
    const std::u16string_view trimmed = withoutBlanksAround(text);
    const auto lead = static_cast<size_t>(trimmed.data() - text.data());
    bool inParent = false;
    const size_t offset = bodyOffsetOf(trimmed, lead, inParent);
    // A block's place is that of its first statement.
    size_t inner = 0;
    if (trimmed.size() >= 2 && trimmed.front() == u'{' && trimmed.back() == u'}') {
        inner = trimmed.find_first_not_of(kBlanks, 1);
        if (inner == zt::string::npos || inner >= trimmed.size() - 1) inner = 0;
    }
    const auto [line, column] = gSourceMap->lineAndColumnOf(offset + inner);
    try {
        // A piece of the parent's text holds no line breaks: the parent's were taken out.
        statement* st = createStatementAt(text, flags, offset, inParent);
        if (st && line != 0 && st->position().line == 0) st->setPosition(gSourceMap->file(), line, column);
        return st;
    } catch (scriptException& e) {
        const sourcePosition where = gSourceMap->positionOf(offset + inner);
        if (!e.position().known()) e.setPosition(where);
        noteParseFailure(where);
        throw;
    } catch (...) {
        noteParseFailure(gSourceMap->positionOf(offset + inner));
        throw;
    }
}

// block    := '{' sequence '}'
// sequence := statement {';' statement}          (split at the semicolons outside braces)
// call     := keyword ['<' type {',' type} '>'] '(' args ')'
statement* statementParser::createStatementAt(const zt::string& text, int flags, size_t offset,
                                              bool withoutLineBreaks) {
    nestingGuard nesting(gParseNesting);
    if (gParseNesting > kMaxParseNesting || zt::stackIsShort()) {
        const unexpectedErrorException tooDeep(u"statements nested deeper than %d levels", kMaxParseNesting);
        throw errParsingException(text.size() >= 128 ? zt::string(text.substr(0, 122) + u" ...") : text, &tooDeep);
    }
    // The text without its blanks around and without line breaks, copied once.
    zt::string s(withoutBlanksAround(text));
    if (!withoutLineBreaks) s.deleteAll(kLineBreaks);
    if (s.empty()) return nullptr;

    if (s.front() == u'{') {
        if (s.back() != u'}') throw errParsingException(text);
        s = s.substr(1, s.size() - 2);
        const size_t lead = s.find_first_not_of(kBlanks);
        offset += 1 + (lead == zt::string::npos ? 0 : lead);
        s.trim(kBlanks);
    }
    // Nested texts (pieces, arguments) are found in s.
    const frameGuard frame(&s, offset);

    // Pieces at top-level semicolons; a text without one is a single call, parsed in place.
    std::vector<zt::string> pieces;
    {
        int depth = 0;
        size_t start = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            const char16_t c = s[i];
            if (c == u'{') ++depth;
            else if (c == u'}') --depth;
            else if (c == u';' && depth == 0) {
                pieces.push_back(s.substr(start, i - start));
                start = i + 1;
            }
        }
        if (start > 0 && start < s.size()) pieces.push_back(s.substr(start));
    }

    if (pieces.size() > 1) {
        clonePtr<compoundstatement> seq;
        for (const zt::string& piece : pieces) {
            const std::uint64_t hostStatementsBefore = gHostStatements;
            statement* child = instance()->createStatementFrom(piece, flags);
            if (!seq) seq.reset(new compoundstatement);
            if (child && gHostStatements == hostStatementsBefore) {
                seq->adopt(child);
            } else if (!seq->add(child)) {
                zt::assertMsg(u"statement::createFrom: error parsing \"%s\"", piece);
                return nullptr;
            }
        }
        seq->setText(std::move(s));
        return seq.release();
    }

    size_t open = s.find(u'(');
    if (open == zt::string::npos) return nullptr;

    zt::string keyword = s.substr(0, open);
    keyword.deleteAll(kBlanks).toLower();

    // The arguments end at the last ")" after the "(", or with the text.
    const size_t close = s.rfind(u')');
    const bool closed = close != zt::string::npos && close > open;
    zt::string argText = s.substr(open + 1, closed ? close - open - 1 : zt::string::npos);

    std::vector<zt::string> types;
    size_t lt = keyword.find(u'<');
    size_t gt = keyword.rfind(u'>');
    if (lt != zt::string::npos && gt != zt::string::npos && gt > lt) {
        keyword.substr(lt + 1, gt - lt - 1).splitAt(u",", types, false);
        keyword.erase(lt);
    }

    std::vector<zt::string> args;
    switch (scanArguments(argText, args)) {
    case scanFailure::paren: throw missingBracketException(u")", s);
    case scanFailure::angle: throw missingBracketException(u">", s);
    case scanFailure::string: throw missingStringEndException(s);
    case scanFailure::none: break;
    }

    for (size_t i = 0; i < mModules.size(); ++i) {
        if (statement* st = mModules[i]->dispatcher()(keyword, types, args, flags)) {
            if (i >= mBuiltIns) ++gHostStatements;
            st->setText(std::move(s));
            return st;
        }
    }
    throw errParsingException(text);
}

} // namespace zt::script
