// Test comments of script files, as read by "ztscript test".
//
//     // test NAME(ARGS) -> TEXT          the result's text form equals TEXT
//     // test NAME(ARGS) => TYPE: TEXT    type name and text form equal (=> void: no result)
//     // test NAME(ARGS) !> FRAGMENT      the call fails; the error messages contain FRAGMENT
//     // test NAME(ARGS) /> NAME          the result's text form is the file name NAME, written
//                                         with "/" and compared in the platform's form (on
//                                         Windows "\" between folders, and a name that starts
//                                         with "/" may have the current drive in front)
//
// ARGS are double-quoted texts separated by commas (escapes \" \\ \n \t), the word null for
// an argument without a value, or @FILE for a host object loaded from a JSON file (FILE is
// relative to the test file's folder; @"FILE" quotes a name with blanks, commas or
// parentheses); there may be none. TEXT, TYPE's text and FRAGMENT are trimmed;
// written as one quoted text they are unescaped instead, so that blanks at the ends and line
// breaks can be expected ("" is the empty text).
#pragma once

#include <ztstring.h>

#include <vector>

namespace ztscript_tool {

enum class expectKind { text, typed, error, path };

struct testArgument {
    bool isNull = false;
    bool isObject = false; // text names the JSON file of a host object
    zt::string text;
};

struct testCase {
    int line = 0;
    zt::string function;
    std::vector<testArgument> args;
    expectKind kind = expectKind::text;
    zt::string type;     // expectKind::typed only: the expected type name ("void" for no result)
    zt::string expected; // text form, or the fragment of the error messages
};

enum class commentKind {
    none,      // not a test comment
    test,      // a test comment, parsed into the testCase
    malformed, // looks like a test comment but does not follow the syntax; see the error text
};

// A quoted text with the escapes the test comments read: \" \\ \n \t \r.
inline zt::string quoteText(const zt::string& text) {
    zt::string out = u"\"";
    for (char16_t c : text) {
        switch (c) {
        case u'"': out += u"\\\""; break;
        case u'\\': out += u"\\\\"; break;
        case u'\n': out += u"\\n"; break;
        case u'\t': out += u"\\t"; break;
        case u'\r': out += u"\\r"; break;
        default: out += c;
        }
    }
    out += u"\"";
    return out;
}

// Reads a quoted text starting at pos (which must hold the opening quotation mark); on success
// pos is just past the closing quotation mark.
inline bool readQuoted(const zt::string& s, size_t& pos, zt::string& out, zt::string& error) {
    out.clear();
    if (pos >= s.size() || s[pos] != u'"') {
        error = u"a quoted text was expected";
        return false;
    }
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'"') {
            pos = i + 1;
            return true;
        }
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) break;
        switch (s[i]) {
        case u'"': out += u'"'; break;
        case u'\\': out += u'\\'; break;
        case u'n': out += u'\n'; break;
        case u't': out += u'\t'; break;
        case u'r': out += u'\r'; break;
        default:
            error = zt::string(u"unknown escape \\") + s[i];
            return false;
        }
    }
    error = u"a quoted text has no closing quotation mark";
    return false;
}

// The expected text after an operator: one whole quoted text is unescaped, anything else is
// taken as written (trimmed).
inline zt::string expectedText(zt::string rest) {
    rest.trim(u" \t");
    if (!rest.empty() && rest.front() == u'"') {
        size_t pos = 0;
        zt::string text, error;
        if (readQuoted(rest, pos, text, error) && pos == rest.size()) return text;
    }
    return rest;
}

inline bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Parses one line of a script file. Leading blanks are allowed before "//"; the comment must
// take the whole line.
inline commentKind parseTestComment(const zt::string& line, testCase& out, zt::string& error) {
    size_t i = 0;
    const size_t n = line.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(line[i])) ++i;
    };
    skipBlanks();
    if (line.compare(i, 2, u"//") != 0) return commentKind::none;
    i += 2;
    skipBlanks();
    if (line.compare(i, 4, u"test") != 0) return commentKind::none;
    i += 4;
    if (i >= n || !isBlank(line[i])) return commentKind::none;
    skipBlanks();

    // NAME directly followed by "("; anything else is an ordinary comment.
    size_t nameStart = i;
    while (i < n && !isBlank(line[i]) && line[i] != u'(' && line[i] != u'"') ++i;
    if (i == nameStart || i >= n || line[i] != u'(') return commentKind::none;

    testCase tc;
    tc.function = line.substr(nameStart, i - nameStart);
    if (tc.function.find_first_of(u"$)") != zt::string::npos) {
        error = u"the function name may not contain \"$\" or \")\"";
        return commentKind::malformed;
    }
    ++i; // "("

    skipBlanks();
    if (i < n && line[i] == u')') {
        ++i;
    } else {
        for (;;) {
            skipBlanks();
            testArgument arg;
            if (i < n && line[i] == u'"') {
                if (!readQuoted(line, i, arg.text, error)) return commentKind::malformed;
            } else if (line.compare(i, 4, u"null") == 0) {
                arg.isNull = true;
                i += 4;
            } else if (i < n && line[i] == u'@') {
                arg.isObject = true;
                ++i;
                skipBlanks();
                if (i < n && line[i] == u'"') {
                    if (!readQuoted(line, i, arg.text, error)) return commentKind::malformed;
                } else {
                    const size_t start = i;
                    while (i < n && line[i] != u',' && line[i] != u')') ++i;
                    arg.text = line.substr(start, i - start);
                    arg.text.trim(u" \t");
                }
                if (arg.text.empty()) {
                    error = u"\"@\" is followed by the name of a JSON file";
                    return commentKind::malformed;
                }
            } else {
                error = u"an argument is a quoted text or null, or @FILE for a host object";
                return commentKind::malformed;
            }
            tc.args.push_back(std::move(arg));
            skipBlanks();
            if (i < n && line[i] == u',') {
                ++i;
                continue;
            }
            if (i < n && line[i] == u')') {
                ++i;
                break;
            }
            error = u"\",\" or \")\" expected after an argument";
            return commentKind::malformed;
        }
    }

    skipBlanks();
    if (line.compare(i, 2, u"->") == 0) tc.kind = expectKind::text;
    else if (line.compare(i, 2, u"=>") == 0) tc.kind = expectKind::typed;
    else if (line.compare(i, 2, u"!>") == 0) tc.kind = expectKind::error;
    else if (line.compare(i, 2, u"/>") == 0) tc.kind = expectKind::path;
    else {
        error = u"\"->\", \"=>\", \"!>\" or \"/>\" expected after the arguments";
        return commentKind::malformed;
    }
    zt::string rest = line.substr(i + 2);

    if (tc.kind == expectKind::typed) {
        zt::string trimmed = rest;
        trimmed.trim(u" \t");
        if (trimmed.equalsNoCase(u"void")) {
            tc.type = u"void";
        } else {
            size_t colon = trimmed.find(u':');
            if (colon == zt::string::npos) {
                error = u"\"=>\" takes \"TYPE: TEXT\" or \"void\"";
                return commentKind::malformed;
            }
            tc.type = trimmed.substr(0, colon);
            tc.type.trim(u" \t");
            if (tc.type.empty()) {
                error = u"the type name is missing before \":\"";
                return commentKind::malformed;
            }
            tc.expected = expectedText(trimmed.substr(colon + 1));
        }
    } else {
        tc.expected = expectedText(rest);
    }
    out = std::move(tc);
    return commentKind::test;
}

// The call as the test comment wrote it, for reports: NAME("a", null, @order.json).
inline zt::string describeCall(const testCase& tc) {
    zt::string s = tc.function + u"(";
    for (size_t k = 0; k < tc.args.size(); ++k) {
        if (k) s += u", ";
        const testArgument& a = tc.args[k];
        if (a.isNull) s += u"null";
        else if (a.isObject) s += a.text.find_first_of(u" \t,)\"") == zt::string::npos ? u"@" + a.text : u"@" + quoteText(a.text);
        else s += quoteText(a.text);
    }
    s += u")";
    return s;
}

} // namespace ztscript_tool
