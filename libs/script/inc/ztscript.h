// ztScript: the embeddable script engine.
//
// A host runs one function of one script file with
//     zt::script::codeManager::instance()->executeFunction(basePath, "script$file$function",
//                                                           context, args, result);
// Script files are parsed on first use into trees of statements, cached, and refreshed when the
// file on disk becomes newer. Failures come back as exceptions derived from zt::exception.
#pragma once

#include <ztexception.h>
#include <ztstring.h>
#include <zttypes.h>
#include <ztvalue.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <typeinfo>
#include <utility>
#include <vector>

#if defined(_WIN32)
#  if defined(ZTSCRIPT_BUILD)
#    define ZTSCRIPT_API __declspec(dllexport)
#  else
#    define ZTSCRIPT_API __declspec(dllimport)
#  endif
#else
#  define ZTSCRIPT_API __attribute__((visibility("default")))
#endif

#include "ztinterfaces.h"
#include "ztscript_version.h"

// The utility library's file classes appear here only by reference (ztfile.h has them).
namespace zt {
class file;
class binaryBuffer;
class configStructure;
struct entryStamp;
} // namespace zt

namespace zt::script {

// The version of the engine library the host runs with (ZTSCRIPT_VERSION in ztscript_version.h
// is that of the headers it was built against).
struct versionInfo {
    int majorVersion;
    int minorVersion;
    int patchVersion;
    const char* text; // "0.1.0"
};
ZTSCRIPT_API const versionInfo& version();

using zt::genericSet;
using zt::genericValue;
using zt::scString;

class codecontext;
class scriptcontext;
class statement;
class valueProvider;

// ---------------------------------------------------------------------------------------------
// Script types

enum eScriptType : std::uint32_t {
    stVoid = 0,
    stBool = 1,
    stShort = 2,
    stInt = 3,
    stLong = 4,
    stUShort = 5,
    stUInt = 6,
    stULong = 7,
    stFloat = 8,
    stDouble = 9,
    stString = 10,
    stDate = 11,
    stTime = 12,
    stTimestamp = 13,
    stBinary = 14,
    stUnknownPtr = 15,
    stArray = 16,
};

// Type name -> script type code (case-insensitive, no trimming; unknown names give stVoid).
ZTSCRIPT_API eScriptType parseScriptType(const zt::string& typeName);
// Type name -> host field type code of the object statements (unknown names give 0).
ZTSCRIPT_API std::uint32_t parseFieldType(const zt::string& typeName);
// The script type name of a value's native type ("int", "string", ...), or a descriptive name
// for the engine's other native types ("uint64", "map", ...); "void" for an empty value.
ZTSCRIPT_API zt::string scriptTypeNameOf(const genericValue& value);
// The text form of a value as the command-line tool shows it: arrays as "[a, b]" with empty
// elements as "null"; false when the value has no text form. Values nested too deeply for the
// thread's stack throw zt::valueNestingException.
ZTSCRIPT_API bool valueToDisplayText(const genericValue& value, zt::string& text);
// Lets a statement library name its native types for scriptTypeNameOf.
ZTSCRIPT_API void registerScriptTypeName(const std::type_info& type, const zt::string& name);

// ---------------------------------------------------------------------------------------------
// Owning pointers that deep-copy

namespace detail {
template <class T>
void dispose(T* p) {
    if constexpr (requires { p->release(); })
        p->release();
    else
        delete p;
}
} // namespace detail

template <class T>
class clonePtr {
public:
    clonePtr() noexcept = default;
    explicit clonePtr(T* p) noexcept : mp(p) {}
    clonePtr(const clonePtr& o) : mp(o.mp ? static_cast<T*>(o.mp->clone()) : nullptr) {}
    clonePtr(clonePtr&& o) noexcept : mp(o.mp) { o.mp = nullptr; }
    clonePtr& operator=(const clonePtr& o) {
        if (this != &o) reset(o.mp ? static_cast<T*>(o.mp->clone()) : nullptr);
        return *this;
    }
    clonePtr& operator=(clonePtr&& o) noexcept {
        if (this != &o) {
            reset(o.mp);
            o.mp = nullptr;
        }
        return *this;
    }
    ~clonePtr() { reset(); }
    void reset(T* p = nullptr) noexcept {
        T* old = mp;
        mp = p;
        if (old) detail::dispose(old);
    }
    T* release() noexcept {
        T* p = mp;
        mp = nullptr;
        return p;
    }
    T* get() const noexcept { return mp; }
    T* operator->() const noexcept { return mp; }
    T& operator*() const noexcept { return *mp; }
    explicit operator bool() const noexcept { return mp != nullptr; }

private:
    T* mp = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Exceptions

#define ZTSCRIPT_EXCEPTION_CLONE(cls) \
    zt::exception* clone() const override { return new cls(*this); }

// Where a statement stands in its script file: line and column count from 1; line 0 means that
// the position is not known (statements built from texts that come from no file).
struct ZTSCRIPT_API sourcePosition {
    zt::string file;
    std::uint32_t line = 0;
    std::uint32_t column = 0;

    bool known() const { return line != 0; }
    // "file:line:column", or "" when not known.
    zt::string text() const;
};

// Every engine exception may carry the position of the statement it comes from: execution
// errors the position of the failing statement, load errors that of the text that failed to
// parse. The message texts do not contain it.
class ZTSCRIPT_API scriptException : public zt::exception {
public:
    using zt::exception::exception;
    ZTSCRIPT_EXCEPTION_CLONE(scriptException)

    const sourcePosition& position() const { return mPosition; }
    void setPosition(const sourcePosition& position) { mPosition = position; }

private:
    sourcePosition mPosition;
};

// The innermost known position of an exception chain (null when none is known): the most
// precise place of a failure.
ZTSCRIPT_API const sourcePosition* innermostPosition(const zt::exception& e);

class ZTSCRIPT_API parserException : public scriptException {
public:
    using scriptException::scriptException;
    ZTSCRIPT_EXCEPTION_CLONE(parserException)
};

class ZTSCRIPT_API errParsingException : public parserException {
public:
    explicit errParsingException(const zt::string& text, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(errParsingException)
};

class ZTSCRIPT_API errParsingParamTypeException : public parserException {
public:
    explicit errParsingParamTypeException(const zt::string& type, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(errParsingParamTypeException)
};

class ZTSCRIPT_API errParsingDataTypeException : public parserException {
public:
    explicit errParsingDataTypeException(const zt::string& type, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(errParsingDataTypeException)
};

class ZTSCRIPT_API errParsingDefaultOfParamException : public parserException {
public:
    errParsingDefaultOfParamException(const zt::string& def, const zt::string& param,
                                      const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(errParsingDefaultOfParamException)
};

class ZTSCRIPT_API missingBracketException : public parserException {
public:
    missingBracketException(const zt::string& bracket, const zt::string& statementText,
                            const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(missingBracketException)
};

class ZTSCRIPT_API missingStringEndException : public parserException {
public:
    explicit missingStringEndException(const zt::string& statementText, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(missingStringEndException)
};

class ZTSCRIPT_API numParamsException : public parserException {
public:
    numParamsException(const zt::string& function, int required);
    ZTSCRIPT_EXCEPTION_CLONE(numParamsException)
};

class ZTSCRIPT_API scriptFunctionNotFoundException : public parserException {
public:
    scriptFunctionNotFoundException(const zt::string& function, const zt::file& file,
                                    const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(scriptFunctionNotFoundException)
};

class ZTSCRIPT_API scriptExecException : public scriptException {
public:
    // detail may be null: the "[Det]" placeholder then stays without a value.
    scriptExecException(const zt::string& script, const zt::string* detail, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(scriptExecException)
};

// What a script's throwmessage("text") hands to the host: a message meant for the user. The
// chain's text is "text", two line breaks and the function's name, as scriptExecException
// shows it; message() is the text alone. Inside a loop or treatasfunction the message becomes
// an ordinary error of that statement, and through callfunction it arrives as the inner
// exception of the calling statement's error.
class ZTSCRIPT_API scriptMessageException : public scriptExecException {
public:
    scriptMessageException(const zt::string& message, const zt::string& function);
    const zt::string& userMessage() const { return mMessage; }
    const zt::string& function() const { return mFunction; }
    ZTSCRIPT_EXCEPTION_CLONE(scriptMessageException)

private:
    zt::string mMessage;
    zt::string mFunction;
};

// A std::exception that a host callback (a host statement, a host object's operation) threw
// while a script ran: its text is what(). It is the inner exception of the failing statement's
// error.
class ZTSCRIPT_API hostException : public scriptException {
public:
    explicit hostException(const char* what);
    ZTSCRIPT_EXCEPTION_CLONE(hostException)
};

// A code call that is not "script$FILE$FUNCTION" (or "dll$FILE$FUNCTION"): a field is missing,
// empty, or the kind is unknown.
class ZTSCRIPT_API malformedCodeCallException : public scriptException {
public:
    explicit malformedCodeCallException(const zt::string& codeCall);
    ZTSCRIPT_EXCEPTION_CLONE(malformedCodeCallException)
};

// A call ran into one of the execution limits its host set (see executionLimits). The engine
// wraps it like any other failure, so it is the innermost exception of the call's chain.
class ZTSCRIPT_API executionLimitException : public scriptException {
public:
    enum class limit { steps, time, cancelled, memory };
    // amount: the number of steps or bytes of the limit that was reached.
    executionLimitException(limit which, std::uint64_t amount);
    limit which() const { return mWhich; }
    ZTSCRIPT_EXCEPTION_CLONE(executionLimitException)

private:
    limit mWhich;
};

class ZTSCRIPT_API variableNotFoundException : public scriptException {
public:
    explicit variableNotFoundException(const zt::string& name, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(variableNotFoundException)
};

class ZTSCRIPT_API globalVarNotFoundException : public scriptException {
public:
    explicit globalVarNotFoundException(const zt::string& name, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(globalVarNotFoundException)
};

class ZTSCRIPT_API parameterNotFoundException : public scriptException {
public:
    explicit parameterNotFoundException(const zt::string& name, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(parameterNotFoundException)
};

class ZTSCRIPT_API inParameterNotFoundException : public scriptException {
public:
    explicit inParameterNotFoundException(const zt::string& name, const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(inParameterNotFoundException)
};

class ZTSCRIPT_API prepareParameterException : public scriptException {
public:
    // par may be null: the "[Par]" placeholder then stays without a value.
    prepareParameterException(const zt::string& function, const zt::string* par,
                              const zt::exception* inner = nullptr);
    ZTSCRIPT_EXCEPTION_CLONE(prepareParameterException)
};

// A statement's own failure text; exec() turns it into a scriptExecException naming the statement.
class ZTSCRIPT_API exceptionDetail : public zt::exception {
public:
    explicit exceptionDetail(const zt::string& detail);
    template <class A0, class... A>
    exceptionDetail(const zt::string& format, const A0& a0, const A&... args)
        : exceptionDetail(zt::string::format(format, a0, args...)) {}
    const zt::string& detail() const { return mDetail; }
    ZTSCRIPT_EXCEPTION_CLONE(exceptionDetail)

private:
    zt::string mDetail;
};

// ---------------------------------------------------------------------------------------------
// Statements

// Statement flags passed through parsing.
enum : int {
    sfAllowContinue = 1,
    sfAllowBreak = 2,
};

class ZTSCRIPT_API statement {
public:
    statement() = default;
    statement(const statement&) = default;
    statement& operator=(const statement&) = delete;
    virtual ~statement();

    // A new, independent deep copy.
    virtual statement* clone() const = 0;
    // Disposes of the statement; owners call this instead of delete.
    virtual void release();
    // Evaluates the statement and writes its value, if any, into result.
    virtual void execute(codecontext& context, genericValue& result) const = 0;
    // Statements whose value is one stored elsewhere (variable reads) can show it in place, so
    // that a caller reading it does not copy it: readsStoredValue() says so, storedValue()
    // returns the value (valid until the script next changes it) or throws as execute() would.
    virtual bool readsStoredValue() const;
    virtual const genericValue& storedValue(codecontext& context) const;
    // Runs the statement for its effects only, its value unused. The default executes into a
    // value that is then dropped; statements whose value is a copy of something may skip it.
    virtual void executeDiscarded(codecontext& context) const;

    // Runs execute() with tracing; every failure leaves as a scriptExecException naming this
    // statement (an exceptionDetail becomes its detail, other exceptions its inner exception).
    // A thrown zt::string passes unchanged.
    void exec(codecontext& context, genericValue& result) const;
    // exec() for the statement's effects only (see executeDiscarded).
    void exec(codecontext& context) const;
    // Runs storedValue() as exec() runs execute(): counted, traced, failures wrapped alike.
    const genericValue& execStored(codecontext& context) const;

    static statement* createFrom(const zt::string& text, int flags);

    // Counts one step against the execution limits of the call running on this thread (every
    // exec counts one); loops call it once per round. Throws executionLimitException when a limit
    // is hit.
    static void countLimitStep();

    const zt::string& text() const { return mText; }
    // Texts of 128 or more code units are kept as their first 122 followed by " ...".
    void setText(const zt::string& text);
    void setText(zt::string&& text);

    // Where the statement was written; set by the parser when it parses the text of a file.
    sourcePosition position() const;
    void setPosition(const scString& file, std::uint32_t line, std::uint32_t column) {
        mFile = file;
        mLine = line;
        mColumn = column;
    }

    // Throws a scriptExecException for st (its text, or "***unknown***" for null) with the
    // formatted detail and e as inner exception; an exceptionDetail e gives its own detail.
    template <class... A>
    [[noreturn]] static void execError(const statement* st, const zt::exception* e, const char16_t* format,
                                       const A&... args) {
        if constexpr (sizeof...(A) == 0)
            throwExecError(st, e, zt::string(format ? format : u""));
        else
            throwExecError(st, e, zt::string::format(format, args...));
    }
    template <class... A>
    [[noreturn]] static void execError(const statement* st, std::nullptr_t, const char16_t* format, const A&... args) {
        execError(st, static_cast<const zt::exception*>(nullptr), format, args...);
    }
    // Throws an exceptionDetail with the formatted text; the running statement's exec() adds
    // its text.
    template <class... A>
    [[noreturn]] static void execError(const statement*, const char16_t* format, const A&... args) {
        if constexpr (sizeof...(A) == 0)
            throw exceptionDetail(zt::string(format ? format : u""));
        else
            throw exceptionDetail(zt::string::format(format, args...));
    }
    template <class... A>
    [[noreturn]] static void execErrorDetail(const statement* st, const char16_t* format, const A&... args) {
        execError(st, format, args...);
    }

private:
    template <class F>
    decltype(auto) guarded(F&& body) const;
    // The parts of guarded that are off its usual path.
    [[noreturn]] void failNested() const;
    [[noreturn]] void rethrowAsFailure() const;
    void beginStep() const;
    void endStep() const;
    [[noreturn]] static void throwExecError(const statement* st, const zt::exception* e, const zt::string& detail);
    // e with this statement's position, when it has one.
    scriptExecException positioned(scriptExecException&& e) const;

protected:
    zt::string mText;
    scString mFile;
    std::uint32_t mLine = 0;
    std::uint32_t mColumn = 0;
};

// Base of statements with positional argument texts.
class ZTSCRIPT_API scriptbasestatement : public statement {
public:
    ~scriptbasestatement() override;
    void release() override;
};

// A sequence of statements run as one block.
class ZTSCRIPT_API compoundstatement : public scriptbasestatement {
public:
    compoundstatement() = default;
    statement* clone() const override { return new compoundstatement(*this); }
    void execute(codecontext& context, genericValue& result) const override;

    // Appends a clone of child and releases child; false (nothing changed) for null.
    bool add(statement* child);
    size_t size() const { return mChildren.size(); }
    const statement* child(size_t i) const { return mChildren[i].get(); }

private:
    friend class statementParser;
    // Appends child itself: for a tree of the built-in statements alone, which a clone would
    // copy exactly.
    void adopt(statement* child) {
        clonePtr<statement> held(child);
        mChildren.push_back(std::move(held));
    }

    std::vector<clonePtr<statement>> mChildren;
};

// ---------------------------------------------------------------------------------------------
// Value providers

class ZTSCRIPT_API valueProvider {
public:
    virtual ~valueProvider();
    // Delivers the value into value; true on success.
    virtual bool getValue(codecontext& context, genericValue& value) const = 0;
    virtual valueProvider* clone() const = 0;

    // A quoted literal gives a constant, a call a statement, anything else a variable read.
    static valueProvider* createFrom(const zt::string& text, int flags);
};

// A literal text; its type is decided where it is stored.
class ZTSCRIPT_API constantProvider : public valueProvider {
public:
    explicit constantProvider(const zt::string& text) : mText(text) {}
    bool getValue(codecontext& context, genericValue& value) const override;
    valueProvider* clone() const override { return new constantProvider(*this); }
    const zt::string& text() const { return mText; }

private:
    zt::string mText;
};

// A statement whose result is the value.
class ZTSCRIPT_API statementProvider : public valueProvider {
public:
    explicit statementProvider(statement* st) : mStatement(st) {}
    bool getValue(codecontext& context, genericValue& value) const override;
    valueProvider* clone() const override { return new statementProvider(*this); }
    const statement* getStatement() const { return mStatement.get(); }
    // Whether the statement reads a stored value (see statement::storedValue).
    bool readsStoredValue() const { return mStatement && mStatement->readsStoredValue(); }
    // The value in place when the statement reads a stored value; null otherwise, without
    // running anything.
    const genericValue* storedValue(codecontext& context) const {
        return readsStoredValue() ? &mStatement->execStored(context) : nullptr;
    }

private:
    clonePtr<statement> mStatement;
};

// ---------------------------------------------------------------------------------------------
// Named-parameter statements

class ZTSCRIPT_API singlefunction : public statement {
public:
    singlefunction() = default;
    singlefunction(const singlefunction&) = default;
    ~singlefunction() override;

protected:
    // Binds argument texts by position to the declared names. After flags follow pairs of
    // (const char16_t* name, bool required), ended by nullptr; a null first name declares none.
    template <class... D>
    bool parse(const char16_t* functionName, const std::vector<zt::string>& args, int flags, const D&... decls) {
        std::vector<std::pair<const char16_t*, bool>> list;
        collect(list, decls...);
        return parseDeclared(functionName, args, flags, list);
    }
    bool parseDeclared(const char16_t* functionName, const std::vector<zt::string>& args, int flags,
                       const std::vector<std::pair<const char16_t*, bool>>& declarations);
    // False when the parameter was not given (or the provider failed).
    bool getParamValue(const char16_t* name, codecontext& context, genericValue& out) const;
    bool hasParam(const char16_t* name) const { return findParam(name) != nullptr; }
    // The provider bound to name, or null.
    const valueProvider* findParam(const char16_t* name) const;

    // The declared names with the providers of their arguments, in declaration order.
    std::vector<std::pair<zt::string, clonePtr<valueProvider>>> mNamedParameters;

private:
    static void collect(std::vector<std::pair<const char16_t*, bool>>&) {}
    static void collect(std::vector<std::pair<const char16_t*, bool>>&, std::nullptr_t) {}
    template <class... R>
    static void collect(std::vector<std::pair<const char16_t*, bool>>& list, const char16_t* name, bool required,
                        const R&... rest) {
        if (!name) return;
        list.emplace_back(name, required);
        collect(list, rest...);
    }
    static void collect(std::vector<std::pair<const char16_t*, bool>>&, const char16_t*) {}
};

class ZTSCRIPT_API scriptbasesinglefunction : public singlefunction {
public:
    ~scriptbasesinglefunction() override;
    void release() override;
};

// ---------------------------------------------------------------------------------------------
// Contexts

// Limits a host can put on a call of codeManager::executeFunction, through the scriptcontext it
// passes. They hold for the whole call, script functions called by callfunction included. The
// defaults limit nothing. A limit that is hit ends the call with an executionLimitException
// inside the usual scriptExecException chain; once hit it stays hit until the call ends, so a
// script cannot carry on past it.
struct ZTSCRIPT_API executionLimits {
    // Most statements the call may execute (every nested statement counts); 0 is no limit.
    std::uint64_t maxSteps = 0;
    // Point in time after which the call stops. It is checked between statements, so one long
    // statement (a program started and waited for, a message box) runs to its end first.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    // A flag another thread may set to stop the call; it must outlive the call.
    const std::atomic<bool>* cancel = nullptr;
    // Most bytes by which the process's heap may grow while the call runs; 0 is no limit. It is
    // looked at before every statement, so one statement may go beyond it by what it allocates
    // itself (a string of twice the size, say). The heap is the process's: what other threads
    // allocate meanwhile counts as well.
    std::uint64_t maxMemory = 0;

    bool limitsAnything() const {
        return maxSteps != 0 || deadline.has_value() || cancel != nullptr || maxMemory != 0;
    }
};

class ZTSCRIPT_API codecontext {
public:
    explicit codecontext(codecontext* outer);
    codecontext(const codecontext&) = delete;
    codecontext& operator=(const codecontext&) = delete;

    virtual ~codecontext();
    virtual bool hasVariable(const scString& name) const;
    virtual bool hasGlobalContextVariable(const scString& name) const;
    virtual bool setGlobalContextVariable(const scString& name, const genericValue& value);
    virtual genericValue& globalContextVariable(const scString& name);
    virtual const genericValue& globalContextVariable(const scString& name) const;
    virtual genericValue* globalContextVariableAddress(const scString& name);
    virtual bool hasParameter(const scString& name) const;
    virtual bool setParameter(const scString& name, const genericValue& value);
    virtual bool deleteParameter(const scString& name);
    virtual genericValue& parameter(const scString& name);
    virtual const genericValue& parameter(const scString& name) const;
    virtual genericValue* parameterAddress(const scString& name);
    virtual bool setScriptSignal(const scString& name, const genericValue& value);
    virtual genericValue* scriptSignal(const scString& name);
    virtual void clearScriptSignal(const scString& name);

    bool createVariable(const scString& name, const genericValue& value);
    bool setVariable(const scString& name, const genericValue& value);
    genericValue& variable(const scString& name);
    const genericValue& variable(const scString& name) const;
    genericValue* variableAddress(const scString& name);
    const genericValue* variableAddress(const scString& name) const;
    // variableAddress, compiled into the caller: the blocks' variables from this one outwards,
    // then the parameters, then the global variables.
    genericValue* findVariable(const scString& name) {
        for (codecontext* c = this; c; c = c->mpOuterBlock)
            if (genericValue* v = c->mVariables.genericValue(name)) return v;
        if (genericValue* v = parameterAddress(name)) return v;
        return globalContextVariableAddress(name);
    }
    void initScriptContext(scriptcontext& target);

    codecontext* outerBlock() const { return mpOuterBlock; }
    // The root script context of this chain.
    scriptcontext& root() const { return *mpRoot; }

protected:
    // Only scriptcontext has no outer block.
    struct rootTag {};
    explicit codecontext(rootTag) : mpOuterBlock(nullptr), mpRoot(nullptr) {} // the root sets mpRoot

private:
    virtual genericSet* getGlobalContextVariables();
    friend class scriptcontext;

    codecontext* mpOuterBlock;
    scriptcontext* mpRoot; // kept by each block: blocks ask for it on every pass
    genericSet mVariables;
};

class ZTSCRIPT_API scriptcontext : public codecontext {
public:
    scriptcontext();
    ~scriptcontext() override;

    bool hasGlobalContextVariable(const scString& name) const override;
    bool setGlobalContextVariable(const scString& name, const genericValue& value) override;
    genericValue& globalContextVariable(const scString& name) override;
    const genericValue& globalContextVariable(const scString& name) const override;
    genericValue* globalContextVariableAddress(const scString& name) override;
    bool hasParameter(const scString& name) const override;
    bool setParameter(const scString& name, const genericValue& value) override;
    bool deleteParameter(const scString& name) override;
    genericValue& parameter(const scString& name) override;
    const genericValue& parameter(const scString& name) const override;
    genericValue* parameterAddress(const scString& name) override;
    bool setScriptSignal(const scString& name, const genericValue& value) override;
    genericValue* scriptSignal(const scString& name) override;
    void clearScriptSignal(const scString& name) override;

    // False when no script signal is set, so that the running blocks need not ask for each one.
    // A class derived from scriptcontext may keep its signals elsewhere: it is always asked.
    bool mayHaveScriptSignals() const noexcept { return !mSignals.empty() || typeid(*this) != typeid(scriptcontext); }
    // The return value ("#return#") once a statement has set it, else null: what
    // parameterAddress(returnparam()) gives, asked after every statement of a block, so it is
    // answered without a lookup while no return value was set.
    genericValue* returnValueAddress() {
        if (!mReturnMaySet && typeid(*this) == typeid(scriptcontext)) return nullptr;
        return parameterAddress(returnparam());
    }

    static const scString& returnparam();
    static const scString& breaksignal();
    static const scString& continuesignal();
    static const scString& breakallsignal();
    static const scString& scriptbasepath();

    // Execution limits of calls made with this context (see executionLimits).
    void setLimits(const executionLimits& limits) { mLimits = limits; }
    const executionLimits& limits() const { return mLimits; }

    const genericSet& parameters() const { return mParameters; }
    const genericSet* globalVariables() const { return mpGlobalVariables; }

private:
    genericSet* getGlobalContextVariables() override;
    friend class codecontext;

    genericSet mParameters;
    genericSet mSignals;
    genericSet* mpGlobalVariables = nullptr;
    bool mOwnsGlobalVariables = true;
    bool mReturnMaySet = false; // "#return#" was stored and not deleted since
    executionLimits mLimits;
};

// ---------------------------------------------------------------------------------------------
// Parser and statement libraries

using moduleDispatcher = statement* (*)(const zt::string& keyword, const std::vector<zt::string>& types,
                                        const std::vector<zt::string>& params, int flags);

// Registration record of one statement library.
class ZTSCRIPT_API scriptModule {
public:
    explicit scriptModule(moduleDispatcher dispatcher);
    void registerModule();
    moduleDispatcher dispatcher() const { return mDispatcher; }

private:
    moduleDispatcher mDispatcher;
};

// Maps offsets of a function body text back to the lines and columns of its script file. The
// reader joins the lines of a body without separators and drops their leading blanks; each piece
// records where one such line starts.
class ZTSCRIPT_API sourceMap {
public:
    sourceMap() = default;
    explicit sourceMap(const zt::string& file) : mFile(file) {}

    // The body text from offset on (up to the next piece) starts at line:column.
    void add(size_t offset, std::uint32_t line, std::uint32_t column);
    sourcePosition positionOf(size_t offset) const;
    const scString& file() const { return mFile; }
    bool empty() const { return mPieces.empty(); }
    // The map of the text that starts at offset start of this one.
    sourceMap shiftedBy(size_t start) const;

    // Compact text form, as the reader stores it beside the body ("script" and "lines" keys).
    zt::string encode() const;
    static sourceMap decode(const zt::string& file, const zt::string& text);

private:
    friend class statementParser;
    // The line and column of offset (0 and 0 when not known), without the file's name.
    std::pair<std::uint32_t, std::uint32_t> lineAndColumnOf(size_t offset) const;

    struct piece {
        size_t offset;
        std::uint32_t line;
        std::uint32_t column;
    };
    scString mFile;
    std::vector<piece> mPieces;
};

// While alive, statements that this thread parses from the body text mapped by map get their
// source positions, and load errors carry them. Scopes do not nest; the map must outlive it.
class ZTSCRIPT_API sourceScope {
public:
    explicit sourceScope(const sourceMap& map);
    ~sourceScope();
    sourceScope(const sourceScope&) = delete;
    sourceScope& operator=(const sourceScope&) = delete;

private:
    const sourceMap* mpPrevious;
};

// The position of the innermost statement text whose construction failed on this thread inside
// the current or last sourceScope (also for failures thrown as false after an assertion report).
ZTSCRIPT_API sourcePosition lastParseFailurePosition();

class ZTSCRIPT_API statementParser {
public:
    static statementParser* instance();
    // The statement of text (owned by the caller), or null when the text holds none.
    statement* createStatementFrom(const zt::string& text, int flags);
    // Built-in libraries are consulted first in their fixed order, then the host's records in
    // the order they were registered. Registering a record twice has no effect.
    void registerModule(const scriptModule* module);

private:
    statementParser() = default;
    // createStatementFrom for a text found at offset in the body of the active sourceScope.
    // withoutLineBreaks: the text is a piece of one already parsed, which holds none.
    statement* createStatementAt(const zt::string& text, int flags, size_t offset, bool withoutLineBreaks = false);
    std::vector<const scriptModule*> mModules;
    size_t mBuiltIns = 0;
};

// ---------------------------------------------------------------------------------------------
// Script files and function definitions

struct ZTSCRIPT_API parameterDeclaration {
    std::int32_t direction = 0; // 0: input
    std::int32_t type = stVoid;
    zt::string name;
    clonePtr<valueProvider> defaultValue;
};

ZTSCRIPT_API parameterDeclaration parseParameterDeclaration(const zt::string& text, int flags);
// The value to bind: value itself when it holds something, otherwise the declaration's default
// evaluated into value in an empty context.
ZTSCRIPT_API genericValue& parameterValue(const parameterDeclaration& declaration, genericValue& value);

// Splits a script file into function definitions.
class ZTSCRIPT_API scriptFileReader {
public:
    // Reads the file when readInto is called.
    explicit scriptFileReader(const zt::file& f);
    explicit scriptFileReader(const zt::binaryBuffer& buffer);
    // Reads bytes that others keep as well (the code manager's index of a file), without a copy.
    explicit scriptFileReader(std::shared_ptr<const zt::binaryBuffer> shared) : mBytes(std::move(shared)) {}

    // Indexes every definition: section = function name, keys "parameter1".. and "script".
    void readInto(zt::configStructure& index);
    bool readLine(zt::string& line);
    bool readNextDefinition(zt::string& name, std::vector<zt::string>& parameterTexts, zt::string& body);
    // The same, with where each piece of the body text stands in the file (no file name set).
    bool readNextDefinition(zt::string& name, std::vector<zt::string>& parameterTexts, zt::string& body,
                            sourceMap& map);
    static bool parseDefinition(const zt::string& text, zt::string& name, std::vector<zt::string>& parameterTexts,
                                zt::string& body);

    // Where reading stands: the byte offset and its line; seek goes back to such a place.
    size_t position() const { return mPosition; }
    std::uint32_t line() const { return mLineNumber; }
    void seek(size_t position, std::uint32_t line) {
        mPosition = position;
        mLineNumber = line;
    }

private:
    const zt::binaryBuffer& bytes() const;

    static bool parseDefinitionAt(const zt::string& text, zt::string& name, std::vector<zt::string>& parameterTexts,
                                  zt::string& body, size_t& bodyOffset);

    zt::string mFileName; // the file readInto reads, when no bytes were given
    std::shared_ptr<const zt::binaryBuffer> mBytes;
    size_t mPosition = 0;
    std::uint32_t mLineNumber = 1; // line of the byte at mPosition
    std::uint32_t mLastLine = 0;   // line of the last line read
};

// The fixed key of scrambled script files (".ztsscr").
ZTSCRIPT_API const char* scrambleKey();

// ---------------------------------------------------------------------------------------------
// Code manager

class ZTSCRIPT_API codeManager {
public:
    enum eCodeType { ctScript = 0, ctDll = 1 };

    static codeManager* instance();

    // Runs the function that codeCall ("script$FILE$FUNCTION") names with args bound to its
    // parameters in order, and writes the value it returns into result (nothing when it returns
    // none). FILE is looked for as written, then as FILE.ztscr and FILE.ztsscr in basePath,
    // beside the program and in the current folder; the first one that exists is read.
    //
    // Returns true when the function ran. Returns false, doing nothing, for a "dll$..." call
    // (calls into libraries are not supported). Throws:
    // - malformedCodeCallException when codeCall is not of that form;
    // - zt::fileNotFoundException (naming every place looked at), zt::readFileException,
    //   scriptFunctionNotFoundException, or a parserException, when the function cannot be loaded;
    // - scriptExecException when the function fails: the chain of inner() exceptions names the
    //   statements it passed through down to the cause (innermostPosition() gives the file, line
    //   and column); an executionLimitException innermost when a limit of context stopped it, a
    //   hostException when a host callback threw a std::exception;
    // - scriptMessageException (a scriptExecException) for the script's throwmessage;
    // - false (a bool) when a statement refused its arguments while the function was parsed;
    //   the assertion reporter (zt::setAssertReporter) has the details.
    // Each thread calls with its own context; see docs/embedding.md.
    bool executeFunction(const zt::string& basePath, const zt::string& codeCall, scriptcontext& context,
                         std::vector<genericValue>& args, genericValue& result);
    bool parseCodeCall(const zt::string& codeCall, eCodeType& type, zt::string& file, zt::string& function);

    // Every call looks at the disk (about two file-system calls) to see whether its script file
    // moved or changed. A host whose scripts change rarely may let what was seen stand for an
    // interval instead: a changed or new file is then noticed up to that long after the change.
    // 0, the default, looks on every call.
    void setFileCheckInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds fileCheckInterval() const;

    // Number of cached functions (for hosts and tests).
    size_t cachedFunctionCount() const;
    // The cache keeps every function it parsed for the life of the process (about a kilobyte
    // and the size of its statements each). A host that calls many different functions, or
    // generates script files, may drop the functions no call is running at the moment: they
    // are parsed again when next called. Returns the number of functions dropped.
    size_t releaseIdleFunctions();
    // Number of times a function was parsed into the cache.
    size_t loadCount() const;
    // Number of times a script file was read and split into its definitions (once per version
    // of the file, for all its functions).
    size_t fileReadCount() const;

    codeManager(const codeManager&) = delete;
    codeManager& operator=(const codeManager&) = delete;
    ~codeManager();

    struct loadedFunction;
    struct scriptFunctionEntry;
    struct resolvedFile;
    struct fileIndex;

private:
    codeManager();
    // The function, current and with its use counted; the caller gives the use back. key:
    // file "." function, the function's key in the cache.
    std::shared_ptr<const loadedFunction> loadFunction(const zt::string& basePath, const zt::string& file,
                                                       const zt::string& function, const zt::string& key);
    // Where the file is; valid until this thread resolves a file again.
    const std::shared_ptr<const resolvedFile>& resolveFile(const zt::string& basePath, const zt::string& file,
                                                           zt::entryStamp& stamp);
    std::shared_ptr<const fileIndex> indexOf(const zt::file& file, const zt::entryStamp& stamp);
    // The function a thread's code call took last time, and what it was current by.
    struct takenFunction {
        const codeManager* manager = nullptr;
        zt::string basePath;
        const resolvedFile* where = nullptr;
        const loadedFunction* function = nullptr;
        std::uint64_t resolvedGeneration = 0;
        std::uint64_t functionsGeneration = 0;
    };
    // The function noted in taken, with its use counted, or null when it has to be looked up.
    const loadedFunction* takeAgain(const takenFunction& taken, const zt::string& basePath,
                                    std::chrono::milliseconds interval);
    void remember(takenFunction& taken, const zt::string& basePath, const zt::string& file, const zt::string& key,
                  const loadedFunction& fn);

    // The cache, the places where files were found and the files read last.
    struct state;
    std::unique_ptr<state> mp;
};

} // namespace zt::script
