// Statement libraries: how a host adds keywords of its own to the language, and the helpers the
// built-in libraries use for the same.
//
// A library is a dispatcher function, registered once through a scriptModule record:
//
//     zt::script::statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
//                                     const std::vector<zt::string>& params, int flags);
//     static zt::script::scriptModule hostLibrary(&dispatch);
//     hostLibrary.registerModule();       // before the first script is parsed
//
// The parser calls the dispatchers for every statement text "keyword<types>(params)" it meets:
//
// - keyword is the text before "(" without blanks and line breaks, lower-cased, and without its
//   "<...>" part: "Net_Price<Double>( x )" arrives as "net_price". Compare with lower-case texts.
// - types are the texts between "<" and ">", split at commas, as written ("Double"); empty when
//   there are none. parseScriptType() reads a type name.
// - params are the argument texts, split at the commas outside brackets and quotes, as written.
//   Turn each into a valueProvider (providerFor below, or valueProvider::createFrom) while
//   building, and evaluate the providers when the statement runs.
// - flags pass on to valueProvider::createFrom and statement::createFrom for nested texts (they
//   tell whether break and continue are allowed there).
// - Return a new statement, or null when the keyword is not the library's: the parser then asks
//   the next library. The built-in libraries are asked first, in their fixed order, then the
//   host's in the order they were registered; a keyword that a built-in library knows never
//   reaches a host library. When no library takes the keyword the text fails to parse
//   ("Error parsing ...").
// - To refuse arguments, report why and throw false (rejectStatement); the call then fails with
//   "the script could not be built" and the report goes to the assertion reporter
//   (zt::setAssertReporter). A zt::exception thrown here becomes a parse error of the text.
// - The parser owns what is returned: it sets the statement's text and position, copies it with
//   clone() and disposes of it with release(). scriptbasestatement::release() deletes the
//   statement, so a statement allocated with new and derived from scriptbasestatement (or
//   namedParameterStatement) needs nothing else.
//
// Dispatchers may be called on any thread that loads a script file, and one parsed statement
// runs on every thread that calls its function at the same time: execute() must not change the
// statement (keep per-call state in the codecontext or in locals). registerModule is not
// synchronised with parsing; register before calls start.
//
// execute(context, result) writes the statement's value into result (result.replace(v) for a
// value of your own type, result.set(v) to keep a type the result already has). Fail with
// execError(this, "text %s", ...): the call's error chain then shows the statement text with the
// detail "(text ...)" and the statement's file, line and column. Other zt::exceptions thrown in
// execute become the inner exception of that entry; a std::exception keeps its what() there.
#pragma once

#include "ztscript.h"

#include <new>

namespace zt::script {

// A new statement of type T. When memory runs out, the assertion "what" is reported with the
// library's name and line and false is thrown, as every factory that rejects does.
template <class T>
T* allocateStatement(const char16_t* library, int line, const char16_t* what = u"pstmt") {
    try {
        return new T;
    } catch (const std::bad_alloc&) {
        zt::assertMsg(u"Assertion failed:\n%s\n\nFile: %s\nLine: %d", what, library, line);
        throw false;
    }
}

// Reports a rejected statement text (an assertion with the formatted text) and gives up the
// construction, as every factory that rejects its arguments does.
template <class... A>
[[noreturn]] void rejectStatement(const char16_t* format, const A&... args) {
    zt::assertMsg(format, args...);
    throw false;
}

// The provider of an argument text; a text that yields none is reported with message (its one
// "%s" takes the text) and false is thrown. Parse errors of the text pass unchanged.
inline valueProvider* providerFor(const zt::string& text, int flags, const char16_t* message) {
    valueProvider* p = valueProvider::createFrom(text, flags);
    if (!p) rejectStatement(message, text);
    return p;
}

// providerFor, with a text that fails to parse reported and refused the same way.
inline valueProvider* providerFrom(const zt::string& text, int flags, const char16_t* message) {
    try {
        return providerFor(text, flags, message);
    } catch (const zt::exception&) {
        rejectStatement(message, text);
    }
}

// Evaluates provider and reads the value as T; false when either step fails (a provider that
// rejects with false included).
template <class T>
bool evaluateAs(const clonePtr<valueProvider>& provider, codecontext& context, T& out) {
    if (!provider) return false;
    genericValue value;
    try {
        if (!provider->getValue(context, value)) return false;
    } catch (bool) {
        return false;
    }
    return value.get(out);
}

// Base of statements with named parameters that read them as texts:
//
//     class greet : public zt::script::namedParameterStatement {
//     public:
//         static statement* createFrom(const std::vector<zt::string>& params, int flags) {
//             return build<greet>(u"host", __LINE__, u"greet", params, flags, u"name", true, nullptr);
//         }
//         statement* clone() const override { return new greet(*this); }
//         void execute(codecontext& context, genericValue& result) const override {
//             result.replace(zt::string(u"Hello, ") + text(u"name", context, u"Error retrieving name"));
//         }
//     };
class namedParameterStatement : public scriptbasesinglefunction {
protected:
    // A new S with its parameters declared and bound to params in order: after flags follow
    // pairs (name, required) ended by nullptr. Too few arguments make a parse error naming
    // name; allocation failures are reported for library.
    template <class S, class... D>
    static statement* build(const char16_t* library, int line, const char16_t* name,
                            const std::vector<zt::string>& params, int flags, const D&... decls) {
        clonePtr<S> st(allocateStatement<S>(library, line));
        st->parse(name, params, flags, decls...);
        return st.release();
    }

    // The parameter as text; raises message when it is missing or does not read as text.
    zt::string text(const char16_t* name, codecontext& context, const char16_t* message) const {
        genericValue value;
        zt::string out;
        if (!getParamValue(name, context, value) || !value.get(out)) execError(this, message);
        return out;
    }
    // An optional parameter as text: empty when not given, message when given but unreadable.
    zt::string optionalText(const char16_t* name, codecontext& context, const char16_t* message) const {
        return hasParam(name) ? text(name, context, message) : zt::string();
    }
    // The parameter read as T (converted when needed); raises message when it is missing or
    // does not convert.
    template <class T>
    T valueAs(const char16_t* name, codecontext& context, const char16_t* message) const {
        genericValue value;
        T out{};
        if (!getParamValue(name, context, value) || !value.get(out)) execError(this, message);
        return out;
    }
};

} // namespace zt::script
