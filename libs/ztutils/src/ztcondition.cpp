#include "ztcondition.h"

#include "ztstack.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace zt::conditions {

condition::~condition() = default;

namespace {

// A constant of a condition: a number, or a text kept in lower case (texts compare without
// regard to case).
struct constant {
    bool isNumber = false;
    double number = 0;
    zt::string text;
};

// The value as a number; false when it is empty or does not read as one.
bool numberOf(const zt::genericValue& value, double& out) { return value.get(out); }

// The value as a lower-case text; false when it is empty or has no text form.
bool lowerTextOf(const zt::genericValue& value, zt::string& out) {
    if (!value.get(out)) return false;
    out.toLower();
    return true;
}

// -1, 0 or 1 as value compares to c; false when the value cannot be compared with c (empty, not
// a number for a numeric constant, NaN).
bool compareTo(const zt::genericValue& value, const constant& c, int& order) {
    if (c.isNumber) {
        double d = 0;
        if (!numberOf(value, d) || std::isnan(d)) return false;
        order = d < c.number ? -1 : (d > c.number ? 1 : 0);
        return true;
    }
    zt::string s;
    if (!lowerTextOf(value, s)) return false;
    const int r = s.compare(c.text);
    order = r < 0 ? -1 : (r > 0 ? 1 : 0);
    return true;
}

// Whole-text match with * (any run of characters) and ? (one character); both texts lower case.
bool matchesPattern(const zt::string& text, const zt::string& pattern) {
    size_t t = 0, p = 0;
    size_t starP = zt::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starT = t;
        } else if (starP != zt::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

// ---------------------------------------------------------------------------------------------
// Nodes

class node : public condition {};
using nodePtr = std::unique_ptr<node>;

class compareNode final : public node {
public:
    enum eOp { eq, ne, lt, le, gt, ge };
    compareNode(eOp op, constant c) : mOp(op), mConstant(std::move(c)) {}
    bool isTrue(const zt::genericValue& value) const override {
        int order = 0;
        const bool comparable = compareTo(value, mConstant, order);
        switch (mOp) {
        case eq: return comparable && order == 0;
        case ne: return !(comparable && order == 0);
        case lt: return comparable && order < 0;
        case le: return comparable && order <= 0;
        case gt: return comparable && order > 0;
        case ge: return comparable && order >= 0;
        }
        return false;
    }

private:
    eOp mOp;
    constant mConstant;
};

class rangeNode final : public node {
public:
    rangeNode(constant low, constant high) : mLow(std::move(low)), mHigh(std::move(high)) {}
    bool isTrue(const zt::genericValue& value) const override {
        int low = 0, high = 0;
        return compareTo(value, mLow, low) && low >= 0 && compareTo(value, mHigh, high) && high <= 0;
    }

private:
    constant mLow, mHigh;
};

class inNode final : public node {
public:
    explicit inNode(std::vector<constant> list) : mList(std::move(list)) {}
    bool isTrue(const zt::genericValue& value) const override {
        for (const constant& c : mList) {
            int order = 0;
            if (compareTo(value, c, order) && order == 0) return true;
        }
        return false;
    }

private:
    std::vector<constant> mList;
};

class emptyNode final : public node {
public:
    bool isTrue(const zt::genericValue& value) const override {
        if (value.isEmpty()) return true;
        const zt::string* s = value.constPtrTo<zt::string>();
        return s && s->empty();
    }
};

class likeNode final : public node {
public:
    explicit likeNode(zt::string pattern) : mPattern(std::move(pattern)) {}
    bool isTrue(const zt::genericValue& value) const override {
        zt::string s;
        return lowerTextOf(value, s) && matchesPattern(s, mPattern);
    }

private:
    zt::string mPattern;
};

class notNode final : public node {
public:
    explicit notNode(nodePtr inner) : mInner(std::move(inner)) {}
    bool isTrue(const zt::genericValue& value) const override { return !mInner->isTrue(value); }

private:
    nodePtr mInner;
};

class listNode final : public node {
public:
    listNode(bool isAnd, std::vector<nodePtr> parts) : mAnd(isAnd), mParts(std::move(parts)) {}
    bool isTrue(const zt::genericValue& value) const override {
        for (const nodePtr& p : mParts)
            if (p->isTrue(value) != mAnd) return !mAnd;
        return mAnd;
    }

private:
    bool mAnd;
    std::vector<nodePtr> mParts;
};

// ---------------------------------------------------------------------------------------------
// Tokens

struct token {
    enum eKind { end, lparen, rparen, comma, compare, range, number, text, word };
    eKind kind = end;
    compareNode::eOp relation = compareNode::eq;
    constant value;  // number, text
    zt::string name; // word, lower case
};

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_'; }
bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Splits text into tokens; false on a character or literal that the language does not know.
bool tokenize(const zt::string& text, std::vector<token>& out) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const char16_t c = text[i];
        if (isBlank(c)) {
            ++i;
            continue;
        }
        token t;
        if (c == u'(') {
            t.kind = token::lparen;
            ++i;
        } else if (c == u')') {
            t.kind = token::rparen;
            ++i;
        } else if (c == u',') {
            t.kind = token::comma;
            ++i;
        } else if (c == u'.' && i + 1 < n && text[i + 1] == u'.') {
            t.kind = token::range;
            i += 2;
        } else if (c == u'=' || c == u'<' || c == u'>' || c == u'!') {
            t.kind = token::compare;
            const char16_t next = i + 1 < n ? text[i + 1] : u'\0';
            if (c == u'=') {
                t.relation = compareNode::eq;
                i += 1;
            } else if (c == u'!') {
                if (next != u'=') return false;
                t.relation = compareNode::ne;
                i += 2;
            } else if (c == u'<') {
                if (next == u'>') t.relation = compareNode::ne;
                else if (next == u'=') t.relation = compareNode::le;
                else t.relation = compareNode::lt;
                i += (next == u'>' || next == u'=') ? 2 : 1;
            } else {
                t.relation = next == u'=' ? compareNode::ge : compareNode::gt;
                i += next == u'=' ? 2 : 1;
            }
        } else if (c == u'"' || c == u'\'') {
            t.kind = token::text;
            ++i;
            bool closed = false;
            while (i < n) {
                char16_t d = text[i++];
                if (d == c) {
                    closed = true;
                    break;
                }
                if (d == u'\\' && i < n && (text[i] == u'"' || text[i] == u'\'' || text[i] == u'\\')) d = text[i++];
                t.value.text += d;
            }
            if (!closed) return false;
            t.value.text.toLower();
        } else if (isDigit(c) || ((c == u'-' || c == u'+' || c == u'.') && i + 1 < n && isDigit(text[i + 1])) ||
                   ((c == u'-' || c == u'+') && i + 2 < n && text[i + 1] == u'.' && isDigit(text[i + 2]))) {
            // [sign] digits [. digits] [e [sign] digits]; a ".." after the digits is a range.
            std::string ascii;
            if (c == u'-') ascii += '-';
            if (c == u'-' || c == u'+') ++i;
            while (i < n && isDigit(text[i])) ascii += static_cast<char>(text[i++]);
            if (i < n && text[i] == u'.' && !(i + 1 < n && text[i + 1] == u'.')) {
                ascii += '.';
                ++i;
                while (i < n && isDigit(text[i])) ascii += static_cast<char>(text[i++]);
            }
            if (i < n && (text[i] == u'e' || text[i] == u'E')) {
                size_t j = i + 1;
                if (j < n && (text[j] == u'+' || text[j] == u'-')) ++j;
                if (j < n && isDigit(text[j])) {
                    ascii += 'e';
                    if (text[i + 1] == u'-') ascii += '-';
                    i = j;
                    while (i < n && isDigit(text[i])) ascii += static_cast<char>(text[i++]);
                }
            }
            double d = 0;
            const auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), d);
            if (r.ec != std::errc() || r.ptr != ascii.data() + ascii.size()) return false;
            // A number runs into no letter: "5x" and "1e" are not numbers.
            if (i < n && (isLetter(text[i]) || isDigit(text[i]))) return false;
            t.kind = token::number;
            t.value.isNumber = true;
            t.value.number = d;
        } else if (isLetter(c)) {
            t.kind = token::word;
            while (i < n && (isLetter(text[i]) || isDigit(text[i]))) t.name += text[i++];
            t.name.toLower();
            if (t.name != u"and" && t.name != u"or" && t.name != u"not" && t.name != u"in" && t.name != u"like" &&
                t.name != u"empty")
                return false;
        } else {
            return false;
        }
        out.push_back(std::move(t));
    }
    out.push_back(token{});
    return true;
}

// ---------------------------------------------------------------------------------------------
// Parser: or-list of and-lists of (not) tests; parentheses group.

class parser {
public:
    explicit parser(std::vector<token> tokens) : mTokens(std::move(tokens)) {}

    nodePtr parseAll() {
        nodePtr n = parseOr();
        if (!n || peek().kind != token::end) return nullptr;
        return n;
    }

private:
    // Nesting of parentheses and "not"; the stack that is left bounds it as well (a level of
    // parentheses takes four frames).
    static constexpr int kMaxDepth = 100;

    const token& peek() const { return mTokens[mPos]; }
    const token& next() { return mTokens[mPos < mTokens.size() - 1 ? mPos++ : mPos]; }
    bool isWord(const char16_t* w) const { return peek().kind == token::word && peek().name == w; }

    nodePtr parseOr() {
        if (++mDepth > kMaxDepth || zt::stackIsShort()) return nullptr;
        std::vector<nodePtr> parts;
        for (;;) {
            nodePtr p = parseAnd();
            if (!p) return nullptr;
            parts.push_back(std::move(p));
            if (!isWord(u"or")) break;
            next();
        }
        --mDepth;
        if (parts.size() == 1) return std::move(parts.front());
        return std::make_unique<listNode>(false, std::move(parts));
    }

    nodePtr parseAnd() {
        std::vector<nodePtr> parts;
        for (;;) {
            nodePtr p = parseUnary();
            if (!p) return nullptr;
            parts.push_back(std::move(p));
            if (!isWord(u"and")) break;
            next();
        }
        if (parts.size() == 1) return std::move(parts.front());
        return std::make_unique<listNode>(true, std::move(parts));
    }

    nodePtr parseUnary() {
        if (isWord(u"not")) {
            next();
            if (++mDepth > kMaxDepth || zt::stackIsShort()) return nullptr;
            nodePtr inner = parseUnary();
            --mDepth;
            if (!inner) return nullptr;
            return std::make_unique<notNode>(std::move(inner));
        }
        return parsePrimary();
    }

    nodePtr parsePrimary() {
        const token& t = peek();
        switch (t.kind) {
        case token::lparen: {
            next();
            nodePtr inner = parseOr();
            if (!inner || next().kind != token::rparen) return nullptr;
            return inner;
        }
        case token::compare: {
            const compareNode::eOp op = next().relation;
            const token& c = next();
            if (c.kind != token::number && c.kind != token::text) return nullptr;
            return std::make_unique<compareNode>(op, c.value);
        }
        case token::number:
        case token::text: {
            const constant low = next().value;
            if (next().kind != token::range) return nullptr;
            const token& h = next();
            if (h.kind != token::number && h.kind != token::text) return nullptr;
            const constant high = h.value;
            if (low.isNumber != high.isNumber) return nullptr;
            if (low.isNumber ? !(low.number <= high.number) : low.text > high.text) return nullptr;
            return std::make_unique<rangeNode>(low, high);
        }
        case token::word:
            if (t.name == u"empty") {
                next();
                return std::make_unique<emptyNode>();
            }
            if (t.name == u"like") {
                next();
                const token& p = next();
                if (p.kind != token::text) return nullptr;
                return std::make_unique<likeNode>(p.value.text);
            }
            if (t.name == u"in") {
                next();
                if (next().kind != token::lparen) return nullptr;
                std::vector<constant> list;
                for (;;) {
                    const token& c = next();
                    if (c.kind != token::number && c.kind != token::text) return nullptr;
                    list.push_back(c.value);
                    const token& sep = next();
                    if (sep.kind == token::rparen) break;
                    if (sep.kind != token::comma) return nullptr;
                }
                return std::make_unique<inNode>(std::move(list));
            }
            return nullptr;
        default:
            return nullptr;
        }
    }

    std::vector<token> mTokens;
    size_t mPos = 0;
    int mDepth = 0;
};

} // namespace

condition* condition::parse(const zt::string& text) {
    try {
        std::vector<token> tokens;
        if (!tokenize(text, tokens)) return nullptr;
        parser p(std::move(tokens));
        return p.parseAll().release();
    } catch (const std::exception&) {
        return nullptr; // out of memory
    }
}

} // namespace zt::conditions
