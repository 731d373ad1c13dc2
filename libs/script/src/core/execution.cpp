// The hot path of the engine: running a statement (the guarded wrapper with its nesting bound,
// execution budget and tracing), running a block of statements, and finding a variable from the
// innermost block outwards. Everything a script does passes here; keep it lean.
#include "core/execution_budget.h"
#include "core/internal.h"

#include "ztscript.h"

#include <ztlog.h>
#include <ztthread.h>

namespace zt::script {

namespace core {
constinit ZT_FAST_TLS thread_local executionBudget* gBudget = nullptr;
} // namespace core

using core::gBudget;
using core::nestingGuard;

namespace {
zt::logger& execLogger() {
    static zt::logger& log = zt::logManager::getLogger(u"zt::script::statement::exec");
    return log;
}

// Nesting of statement execution on this thread. It is bounded, so that endless recursion or a
// very deep statement tree ends with an error instead of exhausting the stack: by this count
// (which fits the default 8 MB stack, also in sanitizer builds) and, on smaller stacks, by the
// stack that is left (zt::stackIsShort), with the same error. Parsing has its own bound
// (statement_parser.cpp).
constexpr int kMaxExecNesting = 2000;
ZT_FAST_TLS thread_local int gExecNesting = 0;
} // namespace

// ---------------------------------------------------------------------------------------------
// Running a statement

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
    if (core::plainSteps()) [[likely]] {
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

// ---------------------------------------------------------------------------------------------
// Blocks

bool compoundstatement::add(statement* child) {
    if (!child) return false;
    clonePtr<statement> handed(child);
    mChildren.emplace_back(static_cast<statement*>(child->clone()));
    return true;
}

void compoundstatement::execute(codecontext& context, genericValue& result) const {
    static const scString& kBreak = scriptcontext::breaksignal();
    static const scString& kContinue = scriptcontext::continuesignal();
    static const scString& kBreakAll = scriptcontext::breakallsignal();
    codecontext block(&context);
    scriptcontext& root = block.root();
    for (const auto& child : mChildren) {
        if (!child) continue;
        child->exec(block);
        if (genericValue* ret = root.returnValueAddress()) {
            if (ret != &result) result = *ret;
            return;
        }
        if (root.mayHaveScriptSignals() &&
            (root.scriptSignal(kBreak) || root.scriptSignal(kContinue) || root.scriptSignal(kBreakAll)))
            return;
    }
}

// ---------------------------------------------------------------------------------------------
// Variables: the blocks' own from the innermost outwards, then the parameters and the global
// variables of the root context.

bool codecontext::hasVariable(const scString& name) const { return variableAddress(name) != nullptr; }

genericValue* codecontext::variableAddress(const scString& name) { return findVariable(name); }

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

} // namespace zt::script
