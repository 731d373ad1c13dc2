// Contexts: a block's codecontext hands parameters, global variables and signals on to the root,
// the scriptcontext of a call, which holds them. Finding variables is in execution.cpp.
#include "ztscript.h"

#include <ztchecks.h>

namespace zt::script {

codecontext::codecontext(codecontext* outer) : mpOuterBlock(outer), mpRoot(outer ? outer->mpRoot : nullptr) {
    if (!outer) {
        zt::assertMsg(u"Assertion failed:\n%s\n\nFile: %s\nLine: %d", u"mpOuterBlock!=NULL", __FILE__, __LINE__);
        throw false;
    }
}

codecontext::~codecontext() = default;

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

void codecontext::initScriptContext(scriptcontext& target) {
    genericSet* g = getGlobalContextVariables();
    if (target.mpGlobalVariables)
        throw unexpectedErrorException(u"scriptcontext::setGlobalVariables: mpGlobalVariables is NULL");
    target.mpGlobalVariables = g;
    target.mOwnsGlobalVariables = false;
}

scriptcontext::scriptcontext() : codecontext(rootTag{}) { mpRoot = this; }

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

} // namespace zt::script
