// The engine's built-in statement libraries. Each library's source file defines its record.
#pragma once

#include "ztscript.h"

#include <new>

namespace zt::script::modules {

extern scriptModule colorModule;     // ztscriptcolor.cpp
extern scriptModule conditionModule; // ztscriptcondition.cpp
extern scriptModule checksumModule;  // ztscriptcrc.cpp
extern scriptModule dateModule;      // ztscriptdate.cpp
extern scriptModule directoryModule; // ztscriptdir.cpp
extern scriptModule processModule;   // ztscriptprocess.cpp (programs and libraries)
extern scriptModule fileModule;      // ztscriptfile.cpp
extern scriptModule mathModule;      // ztscriptmath.cpp
extern scriptModule objectModule;    // ztscriptobject.cpp (host objects)
extern scriptModule locStringModule; // ztscriptlocstring.cpp (localised strings, object messages)
extern scriptModule opsModule;       // ztscriptops.cpp
extern scriptModule flowModule;      // ztscriptflow.cpp (control flow)
extern scriptModule setModule;       // ztscriptset.cpp (arrays and maps)
extern scriptModule stringModule;    // ztscriptstring.cpp
extern scriptModule timeModule;      // ztscripttime.cpp
extern scriptModule varsModule;      // ztscriptvars.cpp

// The message and assertion statements (ztscriptmsg.cpp); the control-flow dispatcher serves them.
statement* dispatchMessages(const zt::string& keyword, const std::vector<zt::string>& types,
                            const std::vector<zt::string>& params, int flags);

// Date arithmetic of the operators "add"/"+" and "subtract"/"-" when their first type is "date"
// (ztscriptdate.cpp): types[1] names the unit ("years", "months", "weeks", "days", "workdays"),
// params are the date, the quantity and an optional third argument. Rejected arguments are
// reported through assertMsg, followed by throwing false.
enum class dateOperation { add, subtract };
statement* createDateCalculation(const std::vector<zt::string>& types, const std::vector<zt::string>& params,
                                 int flags, dateOperation operation);

// A new statement of type T. When memory runs out, the assertion "what" is reported with the
// library's source file and line and false is thrown, as every factory that rejects does.
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

// The provider of an argument text. A text that yields none (or fails to parse) is reported
// with message, whose one "%s" takes the text, and false is thrown.
inline valueProvider* providerFrom(const zt::string& text, int flags, const char16_t* message) {
    valueProvider* p = nullptr;
    try {
        p = valueProvider::createFrom(text, flags);
    } catch (const zt::exception&) {
        p = nullptr;
    }
    if (!p) {
        zt::assertMsg(message, text);
        throw false;
    }
    return p;
}

// The provider of an argument text; a text that yields none is reported with message (its one
// "%s" takes the text) and false is thrown. Parse errors of the text pass unchanged.
inline valueProvider* providerFor(const zt::string& text, int flags, const char16_t* message) {
    valueProvider* p = valueProvider::createFrom(text, flags);
    if (!p) {
        zt::assertMsg(message, text);
        throw false;
    }
    return p;
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

// Base of statements with named parameters that read them as texts.
class namedParameterStatement : public scriptbasesinglefunction {
protected:
    // A new S with its parameters declared and bound to params; allocation failures are
    // reported for library.
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
};

// Records in the order in which the parser consults them.
const std::vector<scriptModule*>& builtInTable();

} // namespace zt::script::modules
