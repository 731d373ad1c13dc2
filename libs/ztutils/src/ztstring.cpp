#include "ztstring.h"

#if defined(_WIN32)
#include "casetable.h"
#else
#include "icu.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace zt {

// ---------------------------------------------------------------------------------------------
// UTF conversions

std::string toUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char32_t c = s[i++];
        if (c >= 0xD800 && c < 0xDC00 && i < s.size() && s[i] >= 0xDC00 && s[i] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD; // lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

static void appendCodePoint(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

string fromUtf8(std::string_view s) {
    string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned char b = p[i];
        char32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (!ok || c > 0x10FFFF) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        appendCodePoint(out, c);
        i += extra + 1;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// formatArg

formatArg::formatArg(const char16_t* s) : mKind(kind::text), mPtr(nullptr) {
    if (s) mText = s;
    else mText = u"(null)";
}
formatArg::formatArg(const wchar_t* s) : mKind(kind::text), mPtr(nullptr) { mText = s ? string(s) : string(u"(null)"); }
formatArg::formatArg(const char* s) : mKind(kind::text), mPtr(nullptr) { mText = s ? fromUtf8(s) : string(u"(null)"); }
formatArg::formatArg(const std::u16string& s) : mKind(kind::text), mPtr(nullptr), mText(s) {}

// ---------------------------------------------------------------------------------------------
// string

string::string(const char* utf8) : std::u16string(utf8 ? zt::fromUtf8(utf8) : std::u16string()) {}
string::string(const std::string& utf8) : std::u16string(zt::fromUtf8(utf8)) {}
string::string(const wchar_t* w) {
    if (!w) return;
    if constexpr (sizeof(wchar_t) == 2) {
        for (; *w; ++w) push_back(static_cast<char16_t>(*w));
    } else {
        for (; *w; ++w) appendCodePoint(*this, static_cast<char32_t>(*w));
    }
}

string string::fromUtf8(std::string_view utf8) { return zt::fromUtf8(utf8); }
std::string string::toUtf8() const { return zt::toUtf8(*this); }

// Simple (one-to-one) case mapping of one code point: ICU's where it is available, else the
// table generated from it, so that both platforms map alike.
static char32_t lowerOf(char32_t c) {
#if defined(_WIN32)
    return casetable::lower(c);
#else
    return static_cast<char32_t>(icu::get().toLower(static_cast<UChar32>(c)));
#endif
}

static char32_t upperOf(char32_t c) {
#if defined(_WIN32)
    return casetable::upper(c);
#else
    return static_cast<char32_t>(icu::get().toUpper(static_cast<UChar32>(c)));
#endif
}

// Maps code points with a simple mapping; a mapping that would change the number of code units
// is not applied, so lengths and indices stay as they were.
static void mapCase(std::u16string& s, char32_t (*map)(char32_t)) {
    const bool lower = map == &lowerOf;
    for (size_t i = 0; i < s.size();) {
        const char16_t u = s[i];
        if (u < 0x80) {
            if (lower && u >= 'A' && u <= 'Z') s[i] = static_cast<char16_t>(u + 32);
            else if (!lower && u >= 'a' && u <= 'z') s[i] = static_cast<char16_t>(u - 32);
            ++i;
            continue;
        }
        const size_t start = i++;
        char32_t c = u;
        if (u >= 0xD800 && u < 0xDC00 && i < s.size() && s[i] >= 0xDC00 && s[i] < 0xE000)
            c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (s[i++] - 0xDC00);
        const char32_t m = map(c);
        if (m == c || (m >= 0x10000) != (c >= 0x10000)) continue;
        if (m < 0x10000) {
            s[start] = static_cast<char16_t>(m);
        } else {
            s[start] = static_cast<char16_t>(0xD800 + ((m - 0x10000) >> 10));
            s[start + 1] = static_cast<char16_t>(0xDC00 + ((m - 0x10000) & 0x3FF));
        }
    }
}

string string::lower() const {
    string copy(*this);
    copy.toLower();
    return copy;
}

string& string::toLower() {
    mapCase(*this, &lowerOf);
    return *this;
}

string& string::toUpper() {
    mapCase(*this, &upperOf);
    return *this;
}

bool string::equalsNoCase(const string& other) const {
    if (size() != other.size()) return false;
    return lower() == other.lower();
}

size_t string::replace(const string& what, const string& with) {
    if (what.empty()) return 0;
    size_t count = 0;
    std::u16string out;
    size_t pos = 0;
    for (;;) {
        size_t hit = find(what, pos);
        if (hit == npos) break;
        out.append(*this, pos, hit - pos);
        out += with;
        pos = hit + what.size();
        ++count;
    }
    if (count) {
        out.append(*this, pos, npos);
        assign(std::move(out));
    }
    return count;
}

void string::splitAt(const string& sep, std::vector<string>& parts, bool skipEmpty) const {
    parts.clear();
    if (sep.empty()) {
        if (!(skipEmpty && empty())) parts.push_back(*this);
        return;
    }
    size_t pos = 0;
    for (;;) {
        size_t hit = find(sep, pos);
        size_t end = hit == npos ? size() : hit;
        if (!(skipEmpty && end == pos)) parts.emplace_back(substr(pos, end - pos));
        if (hit == npos) break;
        pos = hit + sep.size();
    }
}

string& string::deleteAll(const string& set) {
    // The sets are a few characters: a plain loop over them beats a search per character, and
    // a text without any of them (the usual case) is left without a write.
    const auto inSet = [&set](char16_t c) {
        for (char16_t s : set)
            if (c == s) return true;
        return false;
    };
    const auto first = std::find_if(begin(), end(), inSet);
    if (first != end()) erase(std::remove_if(first, end(), inSet), end());
    return *this;
}

string& string::deleteLeading(const string& set) {
    size_t first = find_first_not_of(set);
    if (first == npos) clear();
    else erase(0, first);
    return *this;
}

string& string::deleteTrailing(const string& set) {
    size_t last = find_last_not_of(set);
    if (last == npos) clear();
    else erase(last + 1);
    return *this;
}

// printf-style formatting over typed arguments: the conversion letter decides the form, the
// argument's own type decides how it is read, so a mismatch can never read wrong memory.
string string::formatList(const string& fmt, const formatArg* args, size_t count) {
    string out;
    out.reserve(fmt.size() + 16 * count);
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        char16_t c = fmt[i];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        // %[flags][width][.precision][length]conversion
        const size_t directive = i;
        std::string directiveText = "%";
        size_t j = i + 1;
        while (j < fmt.size() && std::strchr("-+ #0", static_cast<char>(fmt[j])) && fmt[j] < 128) directiveText += static_cast<char>(fmt[j++]);
        while (j < fmt.size() && fmt[j] >= u'0' && fmt[j] <= u'9') directiveText += static_cast<char>(fmt[j++]);
        if (j < fmt.size() && fmt[j] == u'.') {
            directiveText += '.';
            ++j;
            while (j < fmt.size() && fmt[j] >= u'0' && fmt[j] <= u'9') directiveText += static_cast<char>(fmt[j++]);
        }
        while (j < fmt.size() && (fmt[j] == u'l' || fmt[j] == u'h' || fmt[j] == u'L' || fmt[j] == u'z' ||
                                  fmt[j] == u'j' || fmt[j] == u't' || fmt[j] == u'I' || fmt[j] == u'6' ||
                                  fmt[j] == u'4'))
            ++j;
        if (j >= fmt.size()) {
            out.append(fmt, i, npos);
            break;
        }
        char conv = static_cast<char>(fmt[j]);
        i = j;
        if (next >= count) {
            // Missing argument: keep the directive as written.
            out.append(fmt, directive, j - directive + 1);
            continue;
        }
        const formatArg& a = args[next++];
        char buf[512];
        auto emitNumber = [&](char letter) {
            std::string s = directiveText;
            switch (letter) {
            case 'd': case 'i':
                s += "lld";
                if (a.mKind == formatArg::kind::dbl) std::snprintf(buf, sizeof buf, s.c_str(), static_cast<long long>(a.mDbl));
                else if (a.mKind == formatArg::kind::uint) std::snprintf(buf, sizeof buf, s.c_str(), static_cast<long long>(a.mUInt));
                else std::snprintf(buf, sizeof buf, s.c_str(), a.mInt);
                break;
            case 'u': case 'x': case 'X': case 'o':
                s += "ll";
                s += letter;
                if (a.mKind == formatArg::kind::dbl) std::snprintf(buf, sizeof buf, s.c_str(), static_cast<unsigned long long>(a.mDbl));
                else std::snprintf(buf, sizeof buf, s.c_str(), a.mUInt);
                break;
            default: // f e g E G a
                s += letter;
                if (a.mKind == formatArg::kind::dbl) std::snprintf(buf, sizeof buf, s.c_str(), a.mDbl);
                else if (a.mKind == formatArg::kind::uint) std::snprintf(buf, sizeof buf, s.c_str(), static_cast<double>(a.mUInt));
                else std::snprintf(buf, sizeof buf, s.c_str(), static_cast<double>(a.mInt));
                break;
            }
            out += zt::fromUtf8(buf);
        };
        switch (conv) {
        case 's': case 'S': {
            string text;
            if (a.mKind == formatArg::kind::text) text = a.mText;
            else if (a.mKind == formatArg::kind::dbl) text = zt::fromUtf8(std::to_string(a.mDbl));
            else if (a.mKind == formatArg::kind::uint) text = zt::fromUtf8(std::to_string(a.mUInt));
            else if (a.mKind == formatArg::kind::sint) text = zt::fromUtf8(std::to_string(a.mInt));
            else text = u"(null)";
            // width and precision apply to code units
            int width = 0, precision = -1;
            bool left = false;
            size_t k = 1;
            while (k < directiveText.size() && std::strchr("-+ #0", directiveText[k])) left |= directiveText[k++] == '-';
            while (k < directiveText.size() && std::isdigit(static_cast<unsigned char>(directiveText[k]))) width = width * 10 + (directiveText[k++] - '0');
            if (k < directiveText.size() && directiveText[k] == '.') {
                precision = 0;
                ++k;
                while (k < directiveText.size() && std::isdigit(static_cast<unsigned char>(directiveText[k]))) precision = precision * 10 + (directiveText[k++] - '0');
            }
            if (precision >= 0 && text.size() > static_cast<size_t>(precision)) text.resize(precision);
            size_t pad = text.size() < static_cast<size_t>(width) ? width - text.size() : 0;
            if (!left) out.append(pad, u' ');
            out += text;
            if (left) out.append(pad, u' ');
            break;
        }
        case 'c':
            if (a.mKind == formatArg::kind::text) out += a.mText.substr(0, 1);
            else out += static_cast<char16_t>(a.mKind == formatArg::kind::uint ? a.mUInt : static_cast<unsigned long long>(a.mInt));
            break;
        case 'p':
            std::snprintf(buf, sizeof buf, "%p", a.mKind == formatArg::kind::ptr ? a.mPtr : nullptr);
            out += zt::fromUtf8(buf);
            break;
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            if (a.mKind == formatArg::kind::text) out += a.mText;
            else emitNumber(conv);
            break;
        default:
            // Unknown conversion: show it as written.
            out += u'%';
            out += static_cast<char16_t>(conv);
            --next;
            break;
        }
    }
    return out;
}

} // namespace zt
