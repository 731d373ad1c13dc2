// The engine core: statements and their execution, exceptions, contexts, the statement parser,
// script files and the code manager.
#include "ztscript.h"
#include "ztmodules.h"

#include <ztchecks.h>
#include <ztfile.h>
#include <ztlog.h>
#include <ztsystem.h>
#include <ztthread.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

namespace zt::script {

namespace {
const zt::string kBlanks = u" \t";

locString makeMessage(const char16_t* id, const char16_t* text,
                  std::initializer_list<std::pair<const char16_t*, const zt::string*>> params) {
    locString s(id, text);
    for (const auto& p : params) {
        if (p.second) s.params().set(p.first, *p.second);
        else s.params().setNull(p.first);
    }
    return s;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Exceptions

errParsingException::errParsingException(const zt::string& text, const zt::exception* inner)
    : parserException(makeMessage(u"EParsing", u"Error parsing [String]", {{u"String", &text}}), inner) {}

errParsingParamTypeException::errParsingParamTypeException(const zt::string& type, const zt::exception* inner)
    : parserException(makeMessage(u"EParsingParType", u"Error parsing parametertype \"[Type]\"", {{u"Type", &type}}),
                      inner) {}

errParsingDataTypeException::errParsingDataTypeException(const zt::string& type, const zt::exception* inner)
    : parserException(makeMessage(u"EParsingDataType", u"Error parsing datatype \"[Type]\"", {{u"Type", &type}}),
                      inner) {}

errParsingDefaultOfParamException::errParsingDefaultOfParamException(const zt::string& def, const zt::string& param,
                                                                     const zt::exception* inner)
    : parserException(makeMessage(u"EParsingDefOfParam",
                              u"Error parsing defaultvalue \"[Def]\" of parameter \"[Param]\"",
                              {{u"Def", &def}, {u"Param", &param}}),
                      inner) {}

missingBracketException::missingBracketException(const zt::string& bracket, const zt::string& statementText,
                                                 const zt::exception* inner)
    : parserException(makeMessage(u"EMissCloseBracket", u"Missing closing bracket (\"[Br]\" for statement \"[Str]\"",
                              {{u"Br", &bracket}, {u"Str", &statementText}}),
                      inner) {}

missingStringEndException::missingStringEndException(const zt::string& statementText, const zt::exception* inner)
    : parserException(makeMessage(u"EMissStringEnd", u"Missing end of string for statement \"[Str]\"",
                              {{u"Str", &statementText}}),
                      inner) {}

numParamsException::numParamsException(const zt::string& function, int required)
    : parserException([&] {
          zt::string n = zt::string::format(u"%d", required);
          return makeMessage(u"ENumParams", u"[Fct]: Number of parameters < [NReq]", {{u"Fct", &function}, {u"NReq", &n}});
      }()) {}

scriptFunctionNotFoundException::scriptFunctionNotFoundException(const zt::string& function, const zt::file& file,
                                                                 const zt::exception* inner)
    : parserException(makeMessage(u"EFunNotFound", u"Function \"[Fun]\" not found in file \"[File]\"",
                              {{u"Fun", &function}, {u"File", &file.name()}}),
                      inner) {}

// A detail, when there is one, follows in brackets after a blank; without one the message ends
// with the quoted statement.
scriptExecException::scriptExecException(const zt::string& script, const zt::string* detail,
                                         const zt::exception* inner)
    : scriptException([&] {
          const bool shown = detail && !detail->empty();
          zt::string det;
          if (shown) det = u" (" + *detail + u")";
          return makeMessage(u"EExecError", u"Error executing script \"[Script]\"[Det]",
                         {{u"Script", &script}, {u"Det", shown ? &det : nullptr}});
      }(),
                      inner) {}

scriptMessageException::scriptMessageException(const zt::string& message, const zt::string& function)
    : scriptExecException(message + u"\n\n" + function, nullptr, nullptr), mMessage(message), mFunction(function) {}

hostException::hostException(const char* what)
    : scriptException([&] {
          const zt::string text = zt::string::fromUtf8(what ? what : "");
          return makeMessage(u"EHost", u"[What]", {{u"What", &text}});
      }(),
                      nullptr) {}

malformedCodeCallException::malformedCodeCallException(const zt::string& codeCall)
    : scriptException(makeMessage(u"EMalformedCodeCall",
                                  u"Malformed code call \"[Call]\": expected script$FILE$FUNCTION",
                                  {{u"Call", &codeCall}}),
                      nullptr) {}

variableNotFoundException::variableNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EVarNotFound", u"Variable \"[Var]\" not found", {{u"Var", &name}}), inner) {}

namespace {
locString limitMessage(executionLimitException::limit which, std::uint64_t amount) {
    const zt::string number = zt::string::format(u"%llu", static_cast<unsigned long long>(amount));
    switch (which) {
    case executionLimitException::limit::steps:
        return makeMessage(u"EStepLimit", u"The call was stopped: it reached its limit of [Steps] executed statements",
                           {{u"Steps", &number}});
    case executionLimitException::limit::time:
        return makeMessage(u"ETimeLimit", u"The call was stopped: its time limit ran out", {});
    case executionLimitException::limit::memory:
        return makeMessage(u"EMemoryLimit", u"The call was stopped: it used more than its limit of [Bytes] bytes of memory",
                           {{u"Bytes", &number}});
    case executionLimitException::limit::cancelled:
        break;
    }
    return makeMessage(u"ECancelled", u"The call was cancelled", {});
}
} // namespace

executionLimitException::executionLimitException(limit which, std::uint64_t amount)
    : scriptException(limitMessage(which, amount), nullptr), mWhich(which) {}

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

globalVarNotFoundException::globalVarNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EGlobNotFound", u"Global variable \"[Var]\" not found", {{u"Var", &name}}), inner) {}

parameterNotFoundException::parameterNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EParamNotFound", u"Parameter \"[Param]\" not found", {{u"Param", &name}}), inner) {}

inParameterNotFoundException::inParameterNotFoundException(const zt::string& name, const zt::exception* inner)
    : scriptException(makeMessage(u"EInParamNotFound", u"Input parameter \"[Name]\" not found", {{u"Name", &name}}),
                      inner) {}

prepareParameterException::prepareParameterException(const zt::string& function, const zt::string* par,
                                                     const zt::exception* inner)
    : scriptException([&] {
          const bool shown = par && !par->empty();
          zt::string text;
          if (shown) text = u" (" + *par + u")";
          return makeMessage(u"EPrepareparam", u"Error preparing parameter for function \"[Fun]\"[Par]",
                             {{u"Fun", &function}, {u"Par", shown ? &text : nullptr}});
      }(),
                      inner) {}

exceptionDetail::exceptionDetail(const zt::string& detail) : zt::exception(locString()), mDetail(detail) {}

// ---------------------------------------------------------------------------------------------
// Statements

statement::~statement() = default;

void statement::release() { delete this; }

sourcePosition statement::position() const {
    sourcePosition p;
    if (mLine == 0) return p;
    p.file = mFile.empty() ? zt::string() : mFile.string();
    p.line = mLine;
    p.column = mColumn;
    return p;
}

void statement::setText(const zt::string& text) {
    if (text.size() >= 128) {
        mText = text.substr(0, 122);
        mText += u" ...";
    } else {
        mText = text;
    }
}

namespace {
zt::logger& execLogger() {
    static zt::logger& log = zt::logManager::getLogger(u"zt::script::statement::exec");
    return log;
}

// Nesting of statement execution and of statement parsing on this thread. Both are bounded, so
// that endless recursion or a very deep statement tree ends with an error instead of exhausting
// the stack: by these counts (which fit the default 8 MB stack, also in sanitizer builds) and,
// on smaller stacks, by the stack that is left (zt::stackIsShort), with the same error.
constexpr int kMaxExecNesting = 2000;
constexpr int kMaxParseNesting = 500;
#if defined(__GNUC__) || defined(__clang__)
#  define ZT_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#  define ZT_FAST_TLS
#endif
ZT_FAST_TLS thread_local int gExecNesting = 0;
ZT_FAST_TLS thread_local int gParseNesting = 0;

// The execution limits of the call running on this thread, counted down by every statement.
// Limits of a call made inside another limited call hold in addition to the outer ones.
class executionBudget {
public:
    explicit executionBudget(const executionLimits& limits, executionBudget* outer)
        : mLimits(limits), mpOuter(outer), mHeapAtStart(limits.maxMemory ? zt::heapInUse() : 0) {}

    void step() {
        if (mTripped) throw executionLimitException(*mTripped, amountOf(*mTripped));
        ++mSteps;
        if (mLimits.maxSteps != 0 && mSteps > mLimits.maxSteps) trip(executionLimitException::limit::steps);
        if (mLimits.cancel && mLimits.cancel->load(std::memory_order_relaxed))
            trip(executionLimitException::limit::cancelled);
        // Reading the clock costs more than a statement: look every 64 statements.
        if (mLimits.deadline && (mSteps & 63u) == 1u && std::chrono::steady_clock::now() >= *mLimits.deadline)
            trip(executionLimitException::limit::time);
        // The heap's size is cheap to read and can double in one statement: look every time.
        if (mLimits.maxMemory != 0 && zt::heapInUse() > mHeapAtStart + mLimits.maxMemory)
            trip(executionLimitException::limit::memory);
        if (mpOuter) mpOuter->step();
    }

private:
    std::uint64_t amountOf(executionLimitException::limit which) const {
        return which == executionLimitException::limit::memory ? mLimits.maxMemory : mLimits.maxSteps;
    }
    [[noreturn]] void trip(executionLimitException::limit which) {
        mTripped = which;
        throw executionLimitException(which, amountOf(which));
    }

    executionLimits mLimits;
    executionBudget* mpOuter;
    std::uint64_t mSteps = 0;
    std::uint64_t mHeapAtStart;
    std::optional<executionLimitException::limit> mTripped;
};

ZT_FAST_TLS thread_local executionBudget* gBudget = nullptr;

// Puts a call's limits in force on this thread for as long as the call runs.
class budgetScope {
public:
    explicit budgetScope(const executionLimits& limits) {
        if (!limits.limitsAnything()) return;
        mBudget.emplace(limits, gBudget);
        mpPrevious = gBudget;
        gBudget = &*mBudget;
    }
    ~budgetScope() {
        if (mBudget) gBudget = mpPrevious;
    }
    budgetScope(const budgetScope&) = delete;
    budgetScope& operator=(const budgetScope&) = delete;

private:
    std::optional<executionBudget> mBudget;
    executionBudget* mpPrevious = nullptr;
};

struct nestingGuard {
    int& mDepth;
    explicit nestingGuard(int& depth) : mDepth(depth) { ++mDepth; }
    ~nestingGuard() { --mDepth; }
    nestingGuard(const nestingGuard&) = delete;
    nestingGuard& operator=(const nestingGuard&) = delete;
};
} // namespace

// Everything that makes a statement's execution one step of a script: nesting bound, limits,
// tracing, and failures wrapped in a scriptExecException naming the statement. Every statement
// passes here, so the usual path (no limits, no tracing) is kept to a few instructions; the rest
// lives in the functions after it.
template <class F>
decltype(auto) statement::guarded(F&& body) const {
    nestingGuard nesting(gExecNesting);
    try {
        if (gExecNesting > kMaxExecNesting || zt::stackIsShort()) [[unlikely]]
            failNested();
        if (gBudget || zt::gLogLevel.load(std::memory_order_relaxed) <= static_cast<int>(zt::logLevel::trace))
            [[unlikely]] {
            beginStep();
            decltype(auto) out = body();
            endStep();
            return out;
        }
        return body();
    } catch (...) {
        rethrowAsFailure();
    }
}

void statement::failNested() const {
    throw exceptionDetail(zt::string::format(u"statements nested deeper than %d levels", kMaxExecNesting));
}

void statement::beginStep() const {
    if (gBudget) gBudget->step();
    static zt::logger& log = execLogger();
    log.log_trace(u"trying to exec (%s)", __FILE__, __LINE__, "zt::script::statement::exec", mText);
}

void statement::endStep() const {
    static zt::logger& log = execLogger();
    log.log_trace(u"exec (%s) OK", __FILE__, __LINE__, "zt::script::statement::exec", mText);
}

void statement::rethrowAsFailure() const {
    try {
        throw;
    } catch (const exceptionDetail& d) {
        throw positioned(scriptExecException(mText, &d.detail(), nullptr));
    } catch (const zt::exception& e) {
        throw positioned(scriptExecException(mText, nullptr, &e));
    } catch (const zt::string&) {
        throw;
    } catch (const std::exception& e) {
        // A host callback's own exception: its text stays in the chain.
        const hostException host(e.what());
        throw positioned(scriptExecException(mText, nullptr, &host));
    } catch (...) {
        throw positioned(scriptExecException(mText, nullptr, nullptr));
    }
}

void statement::exec(codecontext& context, genericValue& result) const {
    guarded([&] {
        execute(context, result);
        return true;
    });
}

const genericValue& statement::execStored(codecontext& context) const {
    // Reading a stored value nests nothing: without limits and tracing only failures need
    // handling.
    if (!gBudget && zt::gLogLevel.load(std::memory_order_relaxed) > static_cast<int>(zt::logLevel::trace)) [[likely]] {
        try {
            return storedValue(context);
        } catch (...) {
            rethrowAsFailure();
        }
    }
    return *guarded([&] { return &storedValue(context); });
}

bool statement::readsStoredValue() const { return false; }

const genericValue& statement::storedValue(codecontext&) const {
    throw unexpectedErrorException(u"statement::storedValue: the statement stores no value");
}

scriptExecException statement::positioned(scriptExecException&& e) const {
    if (mLine != 0) e.setPosition(position());
    return std::move(e);
}

void statement::countLimitStep() {
    if (gBudget) gBudget->step();
}

void statement::exec(codecontext& context) const {
    guarded([&] {
        executeDiscarded(context);
        return true;
    });
}

void statement::executeDiscarded(codecontext& context) const {
    genericValue discarded;
    execute(context, discarded);
}

void statement::throwExecError(const statement* st, const zt::exception* e, const zt::string& detail) {
    const zt::string unknown = u"***unknown***";
    const zt::string& text = st ? st->mText : unknown;
    if (auto* d = dynamic_cast<const exceptionDetail*>(e)) {
        scriptExecException x(text, &d->detail(), nullptr);
        if (st && st->mLine != 0) x.setPosition(st->position());
        throw x;
    }
    scriptExecException x(text, &detail, e);
    if (st && st->mLine != 0) x.setPosition(st->position());
    throw x;
}

statement* statement::createFrom(const zt::string& text, int flags) {
    return statementParser::instance()->createStatementFrom(text, flags);
}

scriptbasestatement::~scriptbasestatement() = default;
void scriptbasestatement::release() { delete this; }

singlefunction::~singlefunction() = default;
scriptbasesinglefunction::~scriptbasesinglefunction() = default;
void scriptbasesinglefunction::release() { delete this; }

bool singlefunction::parseDeclared(const char16_t* functionName, const std::vector<zt::string>& args, int flags,
                                   const std::vector<std::pair<const char16_t*, bool>>& declarations) {
    try {
        int required = 0;
        for (const auto& d : declarations)
            if (d.second) ++required;
        if (args.size() < static_cast<size_t>(required)) throw numParamsException(functionName, required);
        size_t n = std::min(declarations.size(), args.size());
        for (size_t i = 0; i < n; ++i) {
            clonePtr<valueProvider> p(valueProvider::createFrom(args[i], flags));
            if (!p) throw errParsingException(args[i]);
            zt::string name = declarations[i].first;
            if (findParam(name.c_str()))
                throw unexpectedErrorException(u"singlefunction::parse: Error inserting parameter %s", name);
            mNamedParameters.emplace_back(std::move(name), std::move(p));
        }
    } catch (const zt::exception& e) {
        throw errParsingException(zt::string(functionName) + u"(...)", &e);
    } catch (...) {
        throw errParsingException(zt::string(functionName) + u"(...)");
    }
    return true;
}

bool singlefunction::getParamValue(const char16_t* name, codecontext& context, genericValue& out) const {
    const valueProvider* p = findParam(name);
    return p && p->getValue(context, out);
}

const valueProvider* singlefunction::findParam(const char16_t* name) const {
    const std::u16string_view wanted(name ? name : u"");
    for (const auto& [declared, provider] : mNamedParameters)
        if (declared == wanted) return provider.get();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Contexts

codecontext::codecontext(codecontext* outer) : mpOuterBlock(outer) {
    if (!outer) {
        zt::assertMsg(u"Assertion failed:\n%s\n\nFile: %s\nLine: %d", u"mpOuterBlock!=NULL", __FILE__, __LINE__);
        throw false;
    }
}

codecontext::~codecontext() = default;

scriptcontext& codecontext::root() {
    codecontext* c = this;
    while (c->mpOuterBlock) c = c->mpOuterBlock;
    return static_cast<scriptcontext&>(*c);
}

bool codecontext::hasVariable(const scString& name) const { return variableAddress(name) != nullptr; }
bool codecontext::hasGlobalContextVariable(const scString& name) const {
    return mpOuterBlock->hasGlobalContextVariable(name);
}
bool codecontext::setGlobalContextVariable(const scString& name, const genericValue& value) {
    return mpOuterBlock->setGlobalContextVariable(name, value);
}
genericValue& codecontext::globalContextVariable(const scString& name) {
    return mpOuterBlock->globalContextVariable(name);
}
const genericValue& codecontext::globalContextVariable(const scString& name) const {
    return static_cast<const codecontext*>(mpOuterBlock)->globalContextVariable(name);
}
genericValue* codecontext::globalContextVariableAddress(const scString& name) {
    return mpOuterBlock->globalContextVariableAddress(name);
}
bool codecontext::hasParameter(const scString& name) const { return mpOuterBlock->hasParameter(name); }
bool codecontext::setParameter(const scString& name, const genericValue& value) {
    return mpOuterBlock->setParameter(name, value);
}
bool codecontext::deleteParameter(const scString& name) { return mpOuterBlock->deleteParameter(name); }
genericValue& codecontext::parameter(const scString& name) { return mpOuterBlock->parameter(name); }
const genericValue& codecontext::parameter(const scString& name) const {
    return static_cast<const codecontext*>(mpOuterBlock)->parameter(name);
}
genericValue* codecontext::parameterAddress(const scString& name) { return mpOuterBlock->parameterAddress(name); }
bool codecontext::setScriptSignal(const scString& name, const genericValue& value) {
    return mpOuterBlock->setScriptSignal(name, value);
}
genericValue* codecontext::scriptSignal(const scString& name) { return mpOuterBlock->scriptSignal(name); }
void codecontext::clearScriptSignal(const scString& name) { mpOuterBlock->clearScriptSignal(name); }
genericSet* codecontext::getGlobalContextVariables() { return mpOuterBlock->getGlobalContextVariables(); }

genericValue* codecontext::variableAddress(const scString& name) {
    for (codecontext* c = this; c; c = c->mpOuterBlock)
        if (genericValue* v = c->mVariables.genericValue(name)) return v;
    if (genericValue* v = parameterAddress(name)) return v;
    return globalContextVariableAddress(name);
}

const genericValue* codecontext::variableAddress(const scString& name) const {
    return const_cast<codecontext*>(this)->variableAddress(name);
}

genericValue& codecontext::variable(const scString& name) {
    if (genericValue* v = variableAddress(name)) return *v;
    throw variableNotFoundException(name.string());
}

const genericValue& codecontext::variable(const scString& name) const {
    return const_cast<codecontext*>(this)->variable(name);
}

bool codecontext::createVariable(const scString& name, const genericValue& value) {
    if (hasVariable(name)) return false;
    return mVariables.setGenericValue(name, value, true);
}

bool codecontext::setVariable(const scString& name, const genericValue& value) {
    for (codecontext* c = this; c; c = c->mpOuterBlock)
        if (c->mVariables.genericValue(name)) return c->mVariables.setGenericValue(name, value, true);
    return false;
}

void codecontext::initScriptContext(scriptcontext& target) {
    genericSet* g = getGlobalContextVariables();
    if (target.mpGlobalVariables)
        throw unexpectedErrorException(u"scriptcontext::setGlobalVariables: mpGlobalVariables is NULL");
    target.mpGlobalVariables = g;
    target.mOwnsGlobalVariables = false;
}

scriptcontext::scriptcontext() : codecontext(rootTag{}) {}

scriptcontext::~scriptcontext() {
    if (mOwnsGlobalVariables) delete mpGlobalVariables;
}

bool scriptcontext::hasGlobalContextVariable(const scString& name) const {
    return const_cast<scriptcontext*>(this)->globalContextVariableAddress(name) != nullptr;
}

bool scriptcontext::setGlobalContextVariable(const scString& name, const genericValue& value) {
    if (!mpGlobalVariables) {
        if (!mOwnsGlobalVariables) return false;
        mpGlobalVariables = new genericSet;
    }
    return mpGlobalVariables->setGenericValue(name, value, true);
}

genericValue& scriptcontext::globalContextVariable(const scString& name) {
    if (genericValue* v = globalContextVariableAddress(name)) return *v;
    throw globalVarNotFoundException(name.string());
}

const genericValue& scriptcontext::globalContextVariable(const scString& name) const {
    return const_cast<scriptcontext*>(this)->globalContextVariable(name);
}

genericValue* scriptcontext::globalContextVariableAddress(const scString& name) {
    return mpGlobalVariables ? mpGlobalVariables->genericValue(name) : nullptr;
}

bool scriptcontext::hasParameter(const scString& name) const { return mParameters.genericValue(name) != nullptr; }

bool scriptcontext::setParameter(const scString& name, const genericValue& value) {
    if (name == returnparam()) mReturnMaySet = true;
    return mParameters.setGenericValue(name, value, true);
}

bool scriptcontext::deleteParameter(const scString& name) {
    mParameters.erase(name);
    if (name == returnparam()) mReturnMaySet = false;
    return true;
}

genericValue& scriptcontext::parameter(const scString& name) {
    if (genericValue* v = mParameters.genericValue(name)) return *v;
    throw parameterNotFoundException(name.string());
}

const genericValue& scriptcontext::parameter(const scString& name) const {
    return const_cast<scriptcontext*>(this)->parameter(name);
}

genericValue* scriptcontext::parameterAddress(const scString& name) { return mParameters.genericValue(name); }

bool scriptcontext::setScriptSignal(const scString& name, const genericValue& value) {
    return mSignals.setGenericValue(name, value, false);
}

genericValue* scriptcontext::scriptSignal(const scString& name) { return mSignals.genericValue(name); }

void scriptcontext::clearScriptSignal(const scString& name) { mSignals.erase(name); }

genericSet* scriptcontext::getGlobalContextVariables() { return mpGlobalVariables; }

const scString& scriptcontext::returnparam() {
    static const scString s(u"#return#");
    return s;
}
const scString& scriptcontext::breaksignal() {
    static const scString s(u"#breaksignal#");
    return s;
}
const scString& scriptcontext::continuesignal() {
    static const scString s(u"#continuesignal#");
    return s;
}
const scString& scriptcontext::breakallsignal() {
    static const scString s(u"#breakallsignal#");
    return s;
}
const scString& scriptcontext::scriptbasepath() {
    static const scString s(u"scriptbasepath");
    return s;
}

// ---------------------------------------------------------------------------------------------
// Statement parser

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

scanFailure scanArguments(const zt::string& text, std::vector<zt::string>& out) {
    int p = 0, a = 0;
    bool q = false, e = false, o = true;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (q) {
            if (c == u'"') {
                if (e) e = false;
                else {
                    q = false;
                    o = false;
                }
            } else if (c == u'\\') {
                e = true;
            } else {
                e = false;
            }
            continue;
        }
        switch (c) {
        case u',':
            if (p == 0 && a == 0) {
                finishArgument(text, start, i, out, true);
                start = i + 1;
            }
            o = true;
            break;
        case u'(':
            ++p;
            o = true;
            break;
        case u')':
            --p;
            o = false;
            break;
        case u'<':
            ++a;
            o = false;
            break;
        case u'>':
            --a;
            o = false;
            break;
        case u'"':
            if (o) q = true;
            o = false;
            break;
        case u' ':
        case u'\t':
            break;
        default:
            o = false;
            break;
        }
    }
    finishArgument(text, start, text.size(), out, false);
    if (p != 0) return scanFailure::paren;
    if (a != 0) return scanFailure::angle;
    if (q) return scanFailure::string;
    return scanFailure::none;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Source positions

void sourceMap::add(size_t offset, std::uint32_t line, std::uint32_t column) {
    mPieces.push_back({offset, line, column});
}

sourcePosition sourceMap::positionOf(size_t offset) const {
    sourcePosition p;
    auto it = std::upper_bound(mPieces.begin(), mPieces.end(), offset,
                               [](size_t o, const piece& pc) { return o < pc.offset; });
    if (it == mPieces.begin()) return p;
    --it;
    p.file = mFile.empty() ? zt::string() : mFile.string();
    p.line = it->line;
    p.column = it->column + static_cast<std::uint32_t>(offset - it->offset);
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
size_t bodyOffsetOf(const zt::string& s, size_t lead) {
    if (parseFrames().empty()) return lead; // the body itself
    parseFrame& parent = parseFrames().back();
    if (s.empty()) return parent.offset;
    size_t at = parent.text->find(s, parent.cursor);
    if (at == zt::string::npos) at = parent.text->find(s);
    if (at == zt::string::npos) return parent.offset; // rewritten by its library: the parent's place
    parent.cursor = at + s.size();
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

statement* statementParser::createStatementFrom(const zt::string& text, int flags) {
    if (!gSourceMap) return createStatementAt(text, flags, 0);
    // Where the trimmed text starts in the body.
    zt::string trimmed = text;
    trimmed.deleteLeading(kBlanks);
    const size_t lead = text.size() - trimmed.size();
    trimmed.deleteTrailing(kBlanks);
    const size_t offset = bodyOffsetOf(trimmed, lead);
    // A block's place is that of its first statement.
    size_t inner = 0;
    if (trimmed.size() >= 2 && trimmed.front() == u'{' && trimmed.back() == u'}') {
        inner = trimmed.find_first_not_of(kBlanks, 1);
        if (inner == zt::string::npos || inner >= trimmed.size() - 1) inner = 0;
    }
    const sourcePosition where = gSourceMap->positionOf(offset + inner);
    try {
        statement* st = createStatementAt(text, flags, offset);
        if (st && where.known() && st->position().line == 0) st->setPosition(gSourceMap->file(), where.line, where.column);
        return st;
    } catch (scriptException& e) {
        if (!e.position().known()) e.setPosition(where);
        noteParseFailure(where);
        throw;
    } catch (...) {
        noteParseFailure(where);
        throw;
    }
}

statement* statementParser::createStatementAt(const zt::string& text, int flags, size_t offset) {
    nestingGuard nesting(gParseNesting);
    if (gParseNesting > kMaxParseNesting || zt::stackIsShort()) {
        const unexpectedErrorException tooDeep(u"statements nested deeper than %d levels", kMaxParseNesting);
        throw errParsingException(text.size() >= 128 ? zt::string(text.substr(0, 122) + u" ...") : text, &tooDeep);
    }
    zt::string s = text;
    s.deleteLeading(kBlanks).deleteTrailing(kBlanks).deleteAll(u"\r\n");
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

    // Pieces at top-level semicolons.
    std::vector<zt::string> pieces;
    {
        int depth = 0;
        size_t start = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            char16_t c = s[i];
            if (c == u'{') ++depth;
            else if (c == u'}') --depth;
            else if (c == u';' && depth == 0) {
                pieces.push_back(s.substr(start, i - start));
                start = i + 1;
            }
        }
        if (start < s.size()) pieces.push_back(s.substr(start));
    }

    if (pieces.size() > 1) {
        clonePtr<compoundstatement> seq;
        for (const zt::string& piece : pieces) {
            statement* child = instance()->createStatementFrom(piece, flags);
            if (!seq) seq.reset(new compoundstatement);
            if (!seq->add(child)) {
                zt::assertMsg(u"statement::createFrom: error parsing \"%s\"", piece);
                return nullptr;
            }
        }
        seq->setText(s);
        return seq.release();
    }

    size_t open = s.find(u'(');
    if (open == zt::string::npos) return nullptr;

    zt::string keyword = s.substr(0, open);
    keyword.deleteAll(u"\r\n").deleteAll(kBlanks).toLower();

    zt::string argText = s.substr(open + 1);
    size_t close = argText.rfind(u')');
    if (close != zt::string::npos) argText.erase(close);

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

    for (const scriptModule* m : mModules) {
        if (statement* st = m->dispatcher()(keyword, types, args, flags)) {
            st->setText(s);
            return st;
        }
    }
    throw errParsingException(text);
}

} // namespace zt::script

// ---------------------------------------------------------------------------------------------
// Script files

namespace zt::script {

// 48 non-zero bytes; changing it makes every scrambled file unreadable.
const char* scrambleKey() {
    static const char key[] = "zT5cr1pt:K3y-0f#the^Scr4mbled~F1les!v1/Qx7Lm2Np8";
    static_assert(sizeof(key) == 49, "the scramble key has 48 bytes");
    return key;
}

namespace {
// The code page's character of every byte, converted once: the reader looks at each byte of a
// file, and converting them one by one through the code page functions would dominate loading.
struct ansiTable {
    char16_t wide[256];
    bool valid[256];
};

const ansiTable& ansiCharacters() {
    static const ansiTable table = [] {
        ansiTable t{};
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            t.valid[b] = zt::MultiByteToWideChar(zt::CP_ACP, 0, &byte, 1, &t.wide[b], 1) == 1;
        }
        return t;
    }();
    return table;
}
} // namespace

bool scriptFileReader::readLine(zt::string& line) {
    line.clear();
    const zt::binaryBuffer& buffer = bytes();
    if (buffer.empty()) return false;
    const std::uint8_t* data = buffer.data();
    const size_t size = buffer.logicalLength();
    const ansiTable& table = ansiCharacters();
    while (mPosition < size) {
        const std::uint8_t byte = data[mPosition++];
        if (!table.valid[byte]) throw false;
        const char16_t ch = table.wide[byte];
        if (ch == u'\r' || ch == u'\n') {
            // CR LF, LF and a lone CR each end one line.
            if (ch == u'\n' || mPosition >= size || data[mPosition] != '\n') ++mLineNumber;
            if (!line.empty()) return true;
            continue;
        }
        if (line.empty()) mLastLine = mLineNumber;
        line += ch;
    }
    return !line.empty();
}

bool scriptFileReader::readNextDefinition(zt::string& name, std::vector<zt::string>& parameterTexts,
                                          zt::string& body) {
    sourceMap unused;
    return readNextDefinition(name, parameterTexts, body, unused);
}

bool scriptFileReader::readNextDefinition(zt::string& name, std::vector<zt::string>& parameterTexts,
                                          zt::string& body, sourceMap& map) {
    zt::string text;
    bool open = false;
    size_t mark = mPosition;
    std::uint32_t markLine = mLineNumber;
    zt::string line;
    // Where each line joined into text starts in the file.
    sourceMap lines;
    auto definition = [&] {
        size_t bodyOffset = 0;
        if (!parseDefinitionAt(text, name, parameterTexts, body, bodyOffset)) return false;
        map = lines.shiftedBy(bodyOffset);
        return true;
    };
    while (readLine(line)) {
        const size_t length = line.size();
        line.deleteAll(u"\r\n").deleteLeading(kBlanks);
        const auto column = static_cast<std::uint32_t>(length - line.size() + 1);
        size_t comment = line.find(u"//");
        if (comment != zt::string::npos) line.erase(comment);
        if (line.size() >= 7 && line.substr(0, 7).lower() == u"scrdef ") {
            if (open) {
                mPosition = mark;
                mLineNumber = markLine;
                return definition();
            }
            open = true;
            text = line.substr(7);
            lines = sourceMap();
            lines.add(0, mLastLine, column + 7);
        } else if (open) {
            if (!line.empty()) lines.add(text.size(), mLastLine, column);
            text += line;
        }
        mark = mPosition;
        markLine = mLineNumber;
    }
    if (!text.empty()) return definition();
    return false;
}

bool scriptFileReader::parseDefinition(const zt::string& source, zt::string& name,
                                       std::vector<zt::string>& parameterTexts, zt::string& body) {
    size_t bodyOffset = 0;
    return parseDefinitionAt(source, name, parameterTexts, body, bodyOffset);
}

bool scriptFileReader::parseDefinitionAt(const zt::string& source, zt::string& name,
                                         std::vector<zt::string>& parameterTexts, zt::string& body,
                                         size_t& bodyOffset) {
    name.clear();
    parameterTexts.clear();
    body.clear();
    zt::string text = source;
    const size_t lead = source.find_first_not_of(kBlanks);
    text.trim(kBlanks);
    bodyOffset = (lead == zt::string::npos ? 0 : lead) + text.size();
    bool inName = true, inList = false, inQuote = false, escaped = false, newText = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (inName) {
            if (c == u' ') return false;
            if (c == u'(') {
                inName = false;
                inList = true;
            } else {
                name += c;
            }
            continue;
        }
        if (!inList) {
            if (body.empty()) bodyOffset = (lead == zt::string::npos ? 0 : lead) + i;
            body += c;
            continue;
        }
        if (c == u')' && !inQuote) {
            inList = false;
            newText = true;
            if (parameterTexts.size() == 1) {
                parameterTexts[0].trim(kBlanks);
                if (parameterTexts[0].empty()) parameterTexts.clear();
            }
        } else if (c == u',' && !inQuote) {
            newText = true;
        } else if (c == u'\\' && inQuote) {
            escaped = true;
        } else {
            if (c == u'"' && !escaped) inQuote = !inQuote;
            if (newText) {
                parameterTexts.emplace_back();
                newText = false;
            }
            parameterTexts.back() += c;
            escaped = false;
        }
    }
    return true;
}

scriptFileReader::scriptFileReader(const zt::file& f) : mFileName(f.name()) {}

scriptFileReader::scriptFileReader(const zt::binaryBuffer& buffer)
    : mBytes(std::make_shared<const zt::binaryBuffer>(buffer)) {}

const zt::binaryBuffer& scriptFileReader::bytes() const {
    static const zt::binaryBuffer none;
    return mBytes ? *mBytes : none;
}

void scriptFileReader::readInto(zt::configStructure& index) {
    try {
        if (!mBytes && !mFileName.empty()) {
            auto read = std::make_shared<zt::binaryBuffer>();
            if (!read->readFromFile(zt::file(mFileName))) throw zt::readFileException(mFileName);
            mBytes = std::move(read);
        }
        mPosition = 0;
        mLineNumber = 1;
        zt::string name, body;
        std::vector<zt::string> params;
        sourceMap lines;
        while (readNextDefinition(name, params, body, lines)) {
            for (size_t n = 0; n < params.size(); ++n)
                index.setValue(name, zt::string::format(u"parameter%d", static_cast<int>(n + 1)), params[n]);
            index.setValue(name, u"script", body);
            index.setValue(name, u"lines", lines.encode());
        }
        mBytes.reset();
    } catch (const zt::exception& e) {
        mBytes.reset();
        throw zt::readFileException(mFileName, &e);
    } catch (...) {
        mBytes.reset();
        throw zt::readFileException(mFileName);
    }
}

parameterDeclaration parseParameterDeclaration(const zt::string& text, int flags) {
    zt::string s = text.lower();
    s.deleteLeading(kBlanks);
    zt::string kind, typeText, rest, defaultText;
    size_t lt = s.find(u'<');
    if (lt != zt::string::npos) {
        kind = s.substr(0, lt);
        size_t gt = s.find(u'>', lt);
        if (gt == zt::string::npos) throw errParsingException(text);
        typeText = s.substr(lt + 1, gt - lt - 1);
        rest = s.substr(gt + 1);
    } else {
        size_t blank = s.find_first_of(kBlanks);
        if (blank != zt::string::npos) {
            kind = s.substr(0, blank);
            rest = s.substr(blank + 1);
        } else {
            kind = s;
            rest = s;
        }
    }
    size_t eq = rest.find(u'=');
    if (eq != zt::string::npos) {
        defaultText = rest.substr(eq + 1);
        rest.erase(eq);
    }
    kind.deleteAll(kBlanks);
    typeText.deleteAll(kBlanks);
    rest.deleteAll(kBlanks);
    if (kind != u"in") throw errParsingParamTypeException(kind);

    parameterDeclaration d;
    d.direction = 0;
    d.name = rest;
    try {
        d.type = parseScriptType(typeText);
    } catch (...) {
        throw errParsingDataTypeException(typeText);
    }
    defaultText.trim(kBlanks);
    if (!defaultText.empty()) {
        d.defaultValue.reset(valueProvider::createFrom(defaultText, flags));
        if (!d.defaultValue) throw errParsingDefaultOfParamException(defaultText, d.name);
    }
    return d;
}

genericValue& parameterValue(const parameterDeclaration& declaration, genericValue& value) {
    if (!value.isEmpty() || declaration.direction != 0) return value;
    if (!declaration.defaultValue) throw inParameterNotFoundException(declaration.name);
    scriptcontext empty;
    if (!declaration.defaultValue->getValue(empty, value))
        throw unexpectedErrorException(u"in-parameter " + declaration.name + u": error retrieving default-value!");
    return value;
}

// ---------------------------------------------------------------------------------------------
// Code manager

// What one load of a function produced. Calls hold it by shared pointer, so a refresh can put
// a new body in place while older calls still run the previous one.
struct codeManager::loadedFunction {
    clonePtr<statement> body;
    std::vector<parameterDeclaration> parameters;
    std::vector<scString> parameterNames; // interned once, in the order of parameters
    zt::file file;
    zt::string folder;     // the file's folder, handed to the body as "scriptbasepath"
    zt::entryStamp stamp;  // the file as it was just before it was read
    std::uint32_t crc = 0; // CRC-32 of the bytes read
    // The stamp alone proves the content: the bytes were read again, found unchanged, after the
    // stamp had settled (see loadFunction).
    mutable std::atomic<bool> trusted{false};
};

struct codeManager::scriptFunctionEntry {
    std::shared_ptr<const loadedFunction> function;
    std::atomic<std::uint32_t> useCount{0};
};

// The definitions of one script file, as read under one stamp: the file's bytes (unscrambled)
// and where each definition starts, found by the hash of its lower-cased name. The first call of
// a function reads only that function's definitions from them, so the first calls of a file's
// other functions do not read and split the whole file again.
struct codeManager::fileIndex {
    struct definitionStart {
        std::size_t nameHash;
        std::size_t position;
        std::uint32_t line;
    };

    zt::entryStamp stamp;   // the file just before it was read
    std::uint32_t crc = 0;  // CRC-32 of the bytes read (before unscrambling)
    mutable std::atomic<bool> trusted{false}; // as loadedFunction::trusted
    std::shared_ptr<const zt::binaryBuffer> bytes;
    std::vector<definitionStart> starts; // by nameHash, in file order within one hash

    static std::size_t hashOf(const zt::string& lowerName) { return std::hash<std::u16string>()(lowerName); }

    // Finds the definitions as scriptFileReader::readInto would: up to the end, or up to the first
    // definition that cannot be split.
    void findDefinitions() {
        scriptFileReader reader(bytes);
        zt::string name, body;
        std::vector<zt::string> params;
        for (;;) {
            const std::size_t position = reader.position();
            const std::uint32_t line = reader.line();
            if (!reader.readNextDefinition(name, params, body)) break;
            starts.push_back({hashOf(name.lower()), position, line});
        }
        std::stable_sort(starts.begin(), starts.end(),
                         [](const definitionStart& a, const definitionStart& b) { return a.nameHash < b.nameHash; });
    }

    // The definitions of function (lower-case) in index, as readInto would put them: a later
    // definition of the same name writes over the keys of an earlier one.
    void readFunction(const zt::string& function, zt::configStructure& index) const {
        const std::size_t hash = hashOf(function);
        auto range = std::equal_range(starts.begin(), starts.end(), definitionStart{hash, 0, 0},
                                      [](const definitionStart& a, const definitionStart& b) { return a.nameHash < b.nameHash; });
        scriptFileReader reader(bytes);
        zt::string name, body;
        std::vector<zt::string> params;
        sourceMap lines;
        for (auto it = range.first; it != range.second; ++it) {
            reader.seek(it->position, it->line);
            if (!reader.readNextDefinition(name, params, body, lines) || name.lower() != function) continue;
            for (size_t n = 0; n < params.size(); ++n)
                index.setValue(name, zt::string::format(u"parameter%d", static_cast<int>(n + 1)), params[n]);
            index.setValue(name, u"script", body);
            index.setValue(name, u"lines", lines.encode());
        }
    }
};

namespace {

// CRC-32 of a file's bytes, to tell two versions of a file apart when their stamps do not.
std::uint32_t crcOf(const zt::binaryBuffer& buffer) {
    zt::calcCrc32 crc;
    crc.crc(buffer.bytes().data(), buffer.bytes().size());
    return crc.result();
}

// Files whose definitions stay indexed; beyond that the oldest index is dropped.
constexpr size_t kMaxIndexedFiles = 8;

} // namespace

// Where the file of a (base path, file name) pair was found, and what on disk decided it: the
// folders whose listings showed the earlier candidates missing. The record holds while those
// folders keep their stamps and the file is still a plain file, so a call looks at the disk
// once per folder instead of trying every candidate again.
struct codeManager::resolvedFile {
    zt::file file;
    std::vector<std::pair<zt::string, zt::entryStamp>> folders;
    bool verifiable = true; // false: the folders could not be trusted; resolve again after the interval
    zt::entryStamp fileStamp;                          // the file when last looked at
    std::chrono::steady_clock::time_point checkedAt;   // when the disk was last looked at
};

namespace {
codeManager* gCodeManager = nullptr;

// Deletes the code manager with its cache when the library is unloaded.
struct codeManagerDestroyer {
    ~codeManagerDestroyer() {
        delete gCodeManager;
        gCodeManager = nullptr;
    }
} gCodeManagerDestroyer;

constexpr size_t kMaxResolvedFiles = 4096;

// The key of a (base path, file name) pair: the base path's length first, so that no two pairs
// give the same key. Built in a buffer of the thread, to spare an allocation per call.
const std::u16string& resolveKey(const zt::string& basePath, const zt::string& fileName) {
    struct keyTag;
    std::u16string& key = zt::threadOwned<std::u16string, keyTag>();
    const size_t n = basePath.size();
    key.resize(2 + n + fileName.size());
    char16_t* out = key.data();
    out[0] = static_cast<char16_t>(n & 0xFFFF);
    out[1] = static_cast<char16_t>((n >> 16) & 0xFFFF);
    std::memcpy(out + 2, basePath.data(), n * sizeof(char16_t));
    std::memcpy(out + 2 + n, fileName.data(), fileName.size() * sizeof(char16_t));
    return key;
}
} // namespace

struct codeManager::state {
    mutable zt::mutex mMutex;
    std::map<zt::string, std::unique_ptr<scriptFunctionEntry>> mCache;
    std::atomic<size_t> mLoads{0};
    std::atomic<size_t> mFileReads{0};
    std::atomic<std::int64_t> mFileCheckInterval{0}; // milliseconds
    std::mutex mResolveMutex;
    // resolveKey(base path, file name) -> where the file was found.
    std::unordered_map<std::u16string, std::shared_ptr<const resolvedFile>, std::hash<std::u16string>,
                       zt::sameTextEqual>
        mResolved;
    // The entries of mCache by key again, found by hashing.
    std::unordered_map<std::u16string, scriptFunctionEntry*, std::hash<std::u16string>, zt::sameTextEqual> mIndex;
    // The definitions of the script files read last, by file name (a few; see fileIndex).
    std::unordered_map<std::u16string, std::shared_ptr<const fileIndex>, std::hash<std::u16string>, zt::sameTextEqual>
        mFiles;
};

codeManager::codeManager() : mp(std::make_unique<state>()) {}
codeManager::~codeManager() = default;

codeManager* codeManager::instance() {
    if (!gCodeManager) gCodeManager = new codeManager;
    return gCodeManager;
}

void codeManager::setFileCheckInterval(std::chrono::milliseconds interval) {
    mp->mFileCheckInterval.store(interval.count() > 0 ? interval.count() : 0, std::memory_order_relaxed);
}

std::chrono::milliseconds codeManager::fileCheckInterval() const {
    return std::chrono::milliseconds(mp->mFileCheckInterval.load(std::memory_order_relaxed));
}

size_t codeManager::loadCount() const { return mp->mLoads.load(); }

size_t codeManager::fileReadCount() const { return mp->mFileReads.load(); }

size_t codeManager::cachedFunctionCount() const {
    zt::lockGuard guard(mp->mMutex);
    return mp->mCache.size();
}

size_t codeManager::releaseIdleFunctions() {
    size_t dropped = 0;
    {
        // Calls take their entry's use under this lock, so an entry found idle here stays idle.
        zt::lockGuard guard(mp->mMutex);
        for (auto it = mp->mCache.begin(); it != mp->mCache.end();) {
            if (it->second->useCount.load() == 0) {
                mp->mIndex.erase(it->first);
                it = mp->mCache.erase(it);
                ++dropped;
            } else {
                ++it;
            }
        }
        mp->mFiles.clear();
    }
    std::lock_guard<std::mutex> guard(mp->mResolveMutex);
    mp->mResolved.clear();
    return dropped;
}

bool codeManager::parseCodeCall(const zt::string& codeCall, eCodeType& type, zt::string& file,
                                zt::string& function) {
    std::vector<zt::string> fields;
    codeCall.splitAt(u"$", fields, false);
    if (fields.size() != 3) return false;
    zt::string kind = fields[0];
    kind.deleteAll(kBlanks).toLower();
    if (kind == u"dll") {
        type = ctDll;
    } else if (kind == u"script" || kind.empty()) {
        type = ctScript;
    } else {
        zt::assertMsg(u"parseCodeCall: invalid codetype %s", kind);
        return false;
    }
    file = fields[1];
    file.trim(kBlanks).toLower();
    function = fields[2];
    function.deleteAll(kBlanks).toLower();
    return !file.empty() && !function.empty();
}

// The file of the call: the first candidate that exists as a plain file, tried as written, in
// the base path, beside the program, in ".". stamp receives the file's stamp.
std::shared_ptr<const codeManager::resolvedFile> codeManager::resolveFile(const zt::string& basePath,
                                                                          const zt::string& fileName,
                                                                          zt::entryStamp& stamp) {
    // The record of an earlier call, when the disk still looks the same.
    std::shared_ptr<const resolvedFile> known;
    {
        std::lock_guard<std::mutex> guard(mp->mResolveMutex);
        auto it = mp->mResolved.find(resolveKey(basePath, fileName));
        if (it != mp->mResolved.end()) known = it->second;
    }
    const auto interval = std::chrono::milliseconds(mp->mFileCheckInterval.load(std::memory_order_relaxed));
    const auto checkTime = interval.count() > 0 ? std::chrono::steady_clock::now()
                                                : std::chrono::steady_clock::time_point();
    if (known) {
        // The host lets what was seen on disk stand for a while.
        if (interval.count() > 0 && checkTime - known->checkedAt < interval) {
            stamp = known->fileStamp;
            return known;
        }
        bool unchanged = known->verifiable;
        for (size_t i = 0; unchanged && i < known->folders.size(); ++i) {
            const auto& [folder, folderStamp] = known->folders[i];
            unchanged = zt::entryStamp::of(folder) == folderStamp;
        }
        if (unchanged) {
            stamp = zt::entryStamp::of(known->file.name());
            if (stamp.isFile) {
                if (interval.count() > 0) {
                    auto renewed = std::make_shared<resolvedFile>(*known);
                    renewed->fileStamp = stamp;
                    renewed->checkedAt = checkTime;
                    std::lock_guard<std::mutex> guard(mp->mResolveMutex);
                    mp->mResolved.insert_or_assign(resolveKey(basePath, fileName), renewed);
                    return renewed;
                }
                return known;
            }
        }
    }

    std::vector<zt::string> candidates;
    candidates.push_back(fileName);
    auto addFolder = [&](zt::string folder) {
        if (!folder.empty() && folder.back() != u'/' && folder.back() != u'\\') folder += u'/';
        candidates.push_back(folder + fileName + u".ztscr");
        candidates.push_back(folder + fileName + u".ztsscr");
    };
    if (!basePath.empty()) addFolder(basePath);
    addFolder(zt::getModulePath(u""));
    addFolder(u".");

    // A candidate's absence is remembered through its folder's stamp, which is only possible
    // when the folder exists exactly as written and has not changed in the last moments.
    auto record = std::make_shared<resolvedFile>();
    bool recordable = true;
    const std::int64_t now = zt::entryStamp::nowNs();
    for (const zt::string& c : candidates) {
        zt::file candidate(c);
        const zt::string asWritten = candidate.name();
        if (candidate.exists()) {
            stamp = zt::entryStamp::of(candidate.name());
            // A name found only without regard to case depends on more than one folder.
            recordable = recordable && stamp.isFile && candidate.name() == asWritten;
            record->file = candidate;
            record->verifiable = recordable;
            record->fileStamp = stamp;
            record->checkedAt = checkTime;
            std::lock_guard<std::mutex> guard(mp->mResolveMutex);
            if (mp->mResolved.size() >= kMaxResolvedFiles) mp->mResolved.clear();
            const std::u16string& key = resolveKey(basePath, fileName);
            // Without an interval, a record that cannot be verified is of no use.
            if (recordable || interval.count() > 0)
                mp->mResolved.insert_or_assign(key, record);
            else
                mp->mResolved.erase(key);
            return record;
        }
        if (recordable) {
            const zt::fsEntryName name(asWritten);
            const zt::string last = name.fileName();
            const zt::string folder = name.path().empty() ? zt::string(u".") : name.path();
            const zt::entryStamp folderStamp = zt::entryStamp::of(folder);
            recordable = !last.empty() && last != u"." && last != u".." && folderStamp.isFolder &&
                         folderStamp.settledAt(now);
            if (recordable) record->folders.emplace_back(folder, folderStamp);
        }
    }
    // Every place that was looked at, so that a host sees where the file was expected.
    zt::string tried;
    for (const zt::string& c : candidates) tried += (tried.empty() ? u"" : u", ") + c;
    throw zt::fileNotFoundException(makeMessage(u"EScriptFileNotFound", u"File [File] not found! Looked for: [Tried]",
                                                {{u"File", &fileName}, {u"Tried", &tried}}));
}

// The definitions of the file as it is now. An index read under the same stamp is used as long
// as the stamp can be trusted; until then the file is read and compared by its CRC-32.
std::shared_ptr<const codeManager::fileIndex> codeManager::indexOf(const zt::file& resolved,
                                                                   const zt::entryStamp& stamp) {
    const std::u16string& name = resolved.name();
    std::shared_ptr<const fileIndex> known;
    {
        zt::lockGuard guard(mp->mMutex);
        auto it = mp->mFiles.find(name);
        if (it != mp->mFiles.end() && it->second->stamp == stamp) known = it->second;
    }
    if (known && known->trusted.load(std::memory_order_acquire)) return known;

    const std::int64_t readAt = zt::entryStamp::nowNs();
    auto bytes = std::make_shared<zt::binaryBuffer>();
    // Errors name the file by its full name: a file found as written in the current folder (a
    // program named like the script, say) may not be the one the host meant.
    if (!bytes->readFromFile(resolved)) throw zt::readFileException(resolved.fullName());
    const std::uint32_t crc = crcOf(*bytes);
    const bool settled = stamp.settledAt(readAt);
    if (known && known->crc == crc) {
        // The same bytes: once the stamp has settled no change can hide behind it any more.
        if (settled) known->trusted.store(true, std::memory_order_release);
        return known;
    }

    if (resolved.extension().lower() == u"ztsscr") bytes->xxor(scrambleKey());
    auto fresh = std::make_shared<fileIndex>();
    fresh->stamp = stamp;
    fresh->crc = crc;
    fresh->trusted = settled;
    fresh->bytes = std::move(bytes);
    ++mp->mFileReads;
    try {
        fresh->findDefinitions();
    } catch (const zt::exception& e) {
        throw zt::readFileException(resolved.fullName(), &e);
    } catch (...) {
        throw zt::readFileException(resolved.fullName());
    }
    zt::lockGuard guard(mp->mMutex);
    if (mp->mFiles.size() >= kMaxIndexedFiles && mp->mFiles.find(name) == mp->mFiles.end()) mp->mFiles.erase(mp->mFiles.begin());
    mp->mFiles.insert_or_assign(name, fresh);
    return fresh;
}

std::shared_ptr<const codeManager::loadedFunction> codeManager::loadFunction(const zt::string& basePath,
                                                                             const zt::string& fileName,
                                                                             const zt::string& function,
                                                                             scriptFunctionEntry*& entry) {
    // 1. Resolve the file: as written, in the base path, beside the program, in ".".
    zt::entryStamp stamp;
    const std::shared_ptr<const resolvedFile> where = resolveFile(basePath, fileName, stamp);
    const zt::file& resolved = where->file;

    // 2./3. Cached and current? The names come lower-cased from parseCodeCall. An entry read
    // from this very file is current while the file's stamp (time, size, identity) is the one
    // taken before it was read, and that stamp is trusted. A stamp taken within the file
    // system's clock granularity of a change is not: another change in the same tick keeps it,
    // so until then the bytes are read and compared again.
    struct keyTag;
    zt::string& key = zt::threadOwned<zt::string, keyTag>();
    key.assign(fileName);
    key += u'.';
    key += function;
    std::shared_ptr<const loadedFunction> cached;
    {
        zt::lockGuard guard(mp->mMutex);
        auto it = mp->mIndex.find(key);
        if (it != mp->mIndex.end() && it->second->function->stamp == stamp &&
            zt::sameText(it->second->function->file.name(), resolved.name())) {
            cached = it->second->function;
            if (cached->trusted.load(std::memory_order_acquire)) {
                entry = it->second;
                ++entry->useCount;
                return entry->function;
            }
        }
    }

    // 4. The file's definitions, and a function read from the very same bytes stays.
    const std::shared_ptr<const fileIndex> file = indexOf(resolved, stamp);
    if (cached && cached->crc == file->crc) {
        if (file->trusted.load(std::memory_order_acquire)) cached->trusted.store(true, std::memory_order_release);
        zt::lockGuard guard(mp->mMutex);
        auto it = mp->mIndex.find(key);
        if (it != mp->mIndex.end() && it->second->function == cached) {
            entry = it->second;
            ++entry->useCount;
            return cached;
        }
    }

    // 5. Parse the function without holding the lock.
    zt::configStructure index;
    file->readFunction(function.lower(), index);
    ++mp->mLoads;

    auto loaded = std::make_shared<loadedFunction>();
    loaded->file = resolved;
    loaded->folder = zt::fsEntryName(resolved.name()).path();
    loaded->stamp = stamp;
    loaded->crc = file->crc;
    loaded->trusted = file->trusted.load(std::memory_order_acquire);
    zt::string bodyText;
    if (index.getValue(function.lower(), u"script", bodyText)) {
        zt::string lines;
        index.getValue(function.lower(), u"lines", lines);
        const sourceMap map = sourceMap::decode(resolved.name(), lines);
        const sourceScope positions(map);
        loaded->body.reset(statementParser::instance()->createStatementFrom(bodyText, 0));
    }
    if (!loaded->body) throw scriptFunctionNotFoundException(function, zt::file(resolved.fullName()));
    for (int n = 1;; ++n) {
        zt::string declaration;
        if (!index.getValue(function.lower(), zt::string::format(u"parameter%d", n), declaration)) break;
        loaded->parameters.push_back(parseParameterDeclaration(declaration, 0));
        loaded->parameterNames.emplace_back(loaded->parameters.back().name);
    }

    // 6. Insert, or refresh the entry in place. Running calls keep the body they started with.
    zt::lockGuard guard(mp->mMutex);
    auto& slot = mp->mCache[key];
    if (!slot) {
        slot = std::make_unique<scriptFunctionEntry>();
        mp->mIndex.emplace(key, slot.get());
    }
    slot->function = loaded;
    entry = slot.get();
    ++entry->useCount;
    return loaded;
}

bool codeManager::executeFunction(const zt::string& basePath, const zt::string& codeCall, scriptcontext& context,
                                  std::vector<genericValue>& args, genericValue& result) {
    // Hosts and callfunction repeat the same few code calls: keep what their texts say. Only
    // texts that parse cleanly are kept, so malformed ones are reported on every call. Kept
    // entries are never dropped: calls running further up this thread refer to them.
    struct parsedCall {
        eCodeType type;
        zt::string file, function;
    };
    auto& parsedCalls =
        zt::threadOwned<std::unordered_map<std::u16string, parsedCall, std::hash<std::u16string>, zt::sameTextEqual>>();
    const parsedCall* call;
    parsedCall fresh{ctScript, {}, {}};
    if (auto it = parsedCalls.find(codeCall); it != parsedCalls.end()) {
        call = &it->second;
    } else {
        call = &fresh;
        if (!parseCodeCall(codeCall, fresh.type, fresh.file, fresh.function)) throw malformedCodeCallException(codeCall);
        if (parsedCalls.size() < 1024) call = &parsedCalls.emplace(codeCall, std::move(fresh)).first->second;
    }
    if (call->type != ctScript) return false;
    const zt::string& file = call->file;
    const zt::string& function = call->function;

    scriptFunctionEntry* entry = nullptr;
    std::shared_ptr<const loadedFunction> fn = loadFunction(basePath, file, function, entry);
    // Gives the entry back however the call ends.
    struct useRelease {
        scriptFunctionEntry* entry;
        ~useRelease() {
            if (entry && entry->useCount > 0) --entry->useCount;
        }
    } release{entry};
    if (!fn || !fn->body) return false;

    try {
        // Bind the arguments to the declared parameters.
        try {
            size_t index = 0;
            for (size_t i = 0; i < fn->parameters.size(); ++i) {
                const parameterDeclaration& d = fn->parameters[i];
                if (d.name.empty()) continue;
                if (index < args.size()) {
                    context.setParameter(fn->parameterNames[i], parameterValue(d, args[index]));
                    ++index;
                } else {
                    genericValue fresh;
                    context.setParameter(fn->parameterNames[i], parameterValue(d, fresh));
                }
            }
        } catch (const zt::string& s) {
            throw prepareParameterException(function, &s);
        } catch (...) {
            throw prepareParameterException(function, nullptr);
        }

        // The script's folder.
        // (Calls from the same folder find it set already, as a text value of its own.)
        const genericValue* base = context.globalContextVariableAddress(scriptcontext::scriptbasepath());
        const zt::string* folder = base ? base->constPtrTo<zt::string>() : nullptr;
        if (!folder || base->getHolder()->isReference() || !zt::sameText(*folder, fn->folder))
            context.setGlobalContextVariable(scriptcontext::scriptbasepath(), genericValue::of(fn->folder));

        // Run the body and hand back the return value. A host may reuse its context: the value
        // an earlier call returned would otherwise stop this body after its first statement.
        context.deleteParameter(scriptcontext::returnparam());
        const budgetScope limits(context.limits());
        fn->body->exec(context, result);
        if (genericValue* ret = context.parameterAddress(scriptcontext::returnparam()))
            if (ret != &result) result = *ret;
        context.clearScriptSignal(scriptcontext::breaksignal());
        context.clearScriptSignal(scriptcontext::continuesignal());
        return true;
    } catch (const zt::exception& e) {
        throw scriptExecException(function, nullptr, &e);
    } catch (const zt::string& s) {
        throw scriptMessageException(s, function);
    } catch (const std::exception& e) {
        const hostException host(e.what());
        throw scriptExecException(function, nullptr, &host);
    } catch (...) {
        throw scriptExecException(function, nullptr, nullptr);
    }
}

} // namespace zt::script
