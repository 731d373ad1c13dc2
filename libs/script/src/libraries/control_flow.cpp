// Control flow: if, while, for_each, break, continue, return, treatasfunction, callfunction and
// nullref. The same dispatcher serves the message and assertion statements (messages.cpp).
//
// Statements cooperate through the root script context: return stores the parameter "#return#",
// break and continue set the signals "#breaksignal#" and "#continuesignal#"; "#breakallsignal#"
// is set by the host. Sequences stop at any of them; the loops consume break and continue.
#include "builtin_libraries.h"
#include <ztthread.h>

namespace zt::script {

namespace {

using unknownptr = zt::intrface::interfaceptr<zt::intrface::unknown>;


// Runs one loop iteration's body in its own block and handles what the body left in the root
// context. Returns true when the loop ends.
bool runIteration(const statement* body, codecontext& iteration, scriptcontext& root, genericValue& result) {
    // A round counts against the call's limits even when its body executes nothing.
    statement::countLimitStep();
    if (body) {
        genericValue discarded;
        body->exec(iteration, discarded);
    }
    if (genericValue* ret = root.returnValueAddress()) {
        if (ret != &result) result = *ret;
        return true;
    }
    if (!root.mayHaveScriptSignals()) return false;
    if (root.scriptSignal(scriptcontext::breaksignal())) {
        root.clearScriptSignal(scriptcontext::breaksignal());
        return true;
    }
    if (root.scriptSignal(scriptcontext::continuesignal())) root.clearScriptSignal(scriptcontext::continuesignal());
    if (root.scriptSignal(scriptcontext::breakallsignal())) {
        root.clearScriptSignal(scriptcontext::breaksignal());
        root.clearScriptSignal(scriptcontext::continuesignal());
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// if

class _if : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"_if::createFrom: number of parameters < 2");
        clonePtr<_if> st(new _if);
        st->mCondition.reset(valueProvider::createFrom(params[0], flags));
        if (!st->mCondition) rejectStatement(u"_if::createFrom: error parsing \"%s\"", params[0]);
        st->mConditionDelivery.prepare(st->mCondition.get());
        st->mThen.reset(branch(params[1], flags));
        if (params.size() > 2) st->mElse.reset(branch(params[2], flags));
        return st.release();
    }

    statement* clone() const override { return new _if(*this); }

    void execute(codecontext& context, genericValue&) const override {
        genericValue value;
        if (!mConditionDelivery.deliver(*mCondition, context, value)) execError(this, u"error retrieving condition-result");
        bool condition = false;
        if (!value.isEmpty()) {
            if (!value.get(condition)) {
                zt::string text;
                genericValue::ptrholder<zt::string> textTarget(&text);
                if (value.getHolder()->assignTo(textTarget)) execError(this, u"error converting \"%s\" to bool", text);
                execError(this, u"error converting variable to bool");
            }
        }
        const statement* branchToRun = condition ? mThen.get() : mElse.get();
        if (branchToRun) {
            codecontext block(&context);
            genericValue discarded;
            branchToRun->exec(block, discarded);
        }
    }

private:
    // An empty text leaves the branch out; "{}" is an empty branch.
    static statement* branch(const zt::string& text, int flags) {
        if (text.empty()) return nullptr;
        statement* st = statement::createFrom(text, flags);
        if (!st && text != u"{}") rejectStatement(u"_if::createFrom: error parsing \"%s\"", text);
        return st;
    }

    clonePtr<valueProvider> mCondition;
    modules::delivery mConditionDelivery;
    clonePtr<statement> mThen;
    clonePtr<statement> mElse;
};

// ---------------------------------------------------------------------------------------------
// while

class _while : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"_while::createFrom: number of parameters < 2");
        clonePtr<_while> st(new _while);
        st->mCondition.reset(valueProvider::createFrom(params[0], flags));
        if (!st->mCondition) rejectStatement(u"_while::createFrom: error parsing \"%s\"", params[0]);
        st->mConditionDelivery.prepare(st->mCondition.get());
        st->mBody.reset(statement::createFrom(params[1], flags | sfAllowBreak | sfAllowContinue));
        if (!st->mBody) {
            // An empty body does nothing, but it still runs as a statement in every round, so
            // that the host's execution limits also end "while("1", {})".
            st->mBody.reset(new compoundstatement);
            st->mBody->setText(u"{}");
        }
        const statement& body = *st->mBody;
        st->mBodyOpensBlock = typeid(body) == typeid(compoundstatement);
        return st.release();
    }

    statement* clone() const override { return new _while(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        scriptcontext& root = context.root();
        while (condition(context)) {
            try {
                // Each pass has a block of its own. A block body opens one itself: the pass
                // needs no second one around it.
                if (mBodyOpensBlock) {
                    if (runIteration(mBody.get(), context, root, result)) return;
                    continue;
                }
                codecontext iteration(&context);
                if (runIteration(mBody.get(), iteration, root, result)) return;
            } catch (const zt::exception& e) {
                execError(this, &e, nullptr);
            } catch (...) {
                execError(this, nullptr);
            }
        }
    }

private:
    bool condition(codecontext& context) const {
        genericValue value;
        bool result = false;
        if (!mConditionDelivery.deliver(*mCondition, context, value) || !value.get(result))
            execError(this, u"error retrieving condition-result");
        return result;
    }

    clonePtr<valueProvider> mCondition;
    modules::delivery mConditionDelivery;
    clonePtr<statement> mBody;
    bool mBodyOpensBlock = false;
};

// ---------------------------------------------------------------------------------------------
// for_each

// Releases the element that the host iterator handed out, however the iteration ends.
struct heldElement {
    zt::intrface::unknown* p = nullptr;
    ~heldElement() { reset(); }
    void reset() {
        zt::intrface::unknown* old = p;
        p = nullptr;
        if (old) old->release();
    }
};

class for_each : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 3) rejectStatement(u"for_each::createFrom: number of parameters < 3");
        if (params[0].empty()) rejectStatement(u"for_each::createFrom: error parsing \"%s\"", params[0]);
        clonePtr<for_each> st(new for_each);
        // The loop variable's name is used exactly as written.
        st->mName = scString(params[0]);
        st->mCollection.reset(valueProvider::createFrom(params[1], flags));
        if (!st->mCollection) rejectStatement(u"for_each::createFrom: error parsing \"%s\"", params[1]);
        st->mBody.reset(statement::createFrom(params[2], flags | sfAllowBreak | sfAllowContinue));
        return st.release();
    }

    statement* clone() const override { return new for_each(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        genericValue collection;
        if (!mCollection->getValue(context, collection)) execError(this, u"error retrieving condition-result");
        if (collection.isEmpty()) execError(this, u"error converting variable to an iterator - object");

        unknownptr object;
        genericValue::ptrholder<unknownptr> objectTarget(&object);
        if (collection.getHolder()->assignTo(objectTarget)) {
            if (!object.isValid() || !mBody) return;
            zt::intrface::interfaceptr<zt::intrface::forwardIterator> iterator(object);
            if (iterator.isValid()) walk(*iterator.get(), context, result);
            return;
        }

        std::vector<genericValue> elements;
        genericValue::ptrholder<std::vector<genericValue>> arrayTarget(&elements);
        if (!collection.getHolder()->assignTo(arrayTarget)) {
            zt::string text;
            genericValue::ptrholder<zt::string> textTarget(&text);
            if (collection.getHolder()->assignTo(textTarget))
                execError(this, u"error converting \"%s\" to an iterator - object", text);
            execError(this, u"error converting variable to an iterator - object");
        }
        if (!mBody) return;

        scriptcontext& root = context.root();
        try {
            for (const genericValue& element : elements) {
                codecontext iteration(&context);
                iteration.createVariable(mName, element);
                if (runIteration(mBody.get(), iteration, root, result)) return;
            }
        } catch (const zt::exception& e) {
            execError(this, &e, nullptr);
        } catch (...) {
            execError(this, nullptr);
        }
    }

private:
    void walk(zt::intrface::forwardIterator& iterator, codecontext& context, genericValue& result) const {
        scriptcontext& root = context.root();
        heldElement current;
        try {
            iterator.first(current.p);
            while (!iterator.isEnd()) {
                {
                    codecontext iteration(&context);
                    iteration.createVariable(mName, genericValue(new genericValue::valueholder<unknownptr>(
                                                        unknownptr(static_cast<const zt::intrface::unknown*>(current.p)))));
                    if (runIteration(mBody.get(), iteration, root, result)) return;
                }
                current.reset();
                iterator.next(current.p);
            }
        } catch (const zt::exception& e) {
            execError(this, &e, nullptr);
        } catch (...) {
            execError(this, nullptr);
        }
    }

    scString mName;
    clonePtr<valueProvider> mCollection;
    clonePtr<statement> mBody;
};

// ---------------------------------------------------------------------------------------------
// break, continue

class _break : public scriptbasestatement {
public:
    statement* clone() const override { return new _break(*this); }
    void execute(codecontext& context, genericValue&) const override {
        if (!context.setScriptSignal(scriptcontext::breaksignal(), genericValue())) execError(this, nullptr);
    }
};

class _continue : public scriptbasestatement {
public:
    statement* clone() const override { return new _continue(*this); }
    void execute(codecontext& context, genericValue&) const override {
        if (!context.setScriptSignal(scriptcontext::continuesignal(), genericValue())) execError(this, nullptr);
    }
};

// ---------------------------------------------------------------------------------------------
// return, treatasfunction

class _return : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<_return> st(new _return);
        if (!params.empty()) st->mValue.reset(valueProvider::createFrom(params[0], flags));
        st->mDelivery.prepare(st->mValue.get());
        return st.release();
    }

    statement* clone() const override { return new _return(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        result.clear();
        if (mValue && !mDelivery.deliver(*mValue, context, result)) execError(this, u"error retrieving returnvalue");
        if (!context.setParameter(scriptcontext::returnparam(), result))
            execError(this, u"error setting returnvalue to context");
    }

private:
    clonePtr<valueProvider> mValue;
    modules::delivery mDelivery;
};

class treatasfunction : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<treatasfunction> st(new treatasfunction);
        if (!params.empty()) st->mBlock.reset(valueProvider::createFrom(params[0], flags));
        return st.release();
    }

    statement* clone() const override { return new treatasfunction(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        result.clear();
        try {
            if (mBlock && !mBlock->getValue(context, result)) execError(this, u"error retrieving returnvalue");
            if (genericValue* ret = context.parameterAddress(scriptcontext::returnparam())) {
                if (ret != &result) result = *ret;
                context.deleteParameter(scriptcontext::returnparam());
            }
            context.clearScriptSignal(scriptcontext::breaksignal());
            context.clearScriptSignal(scriptcontext::breakallsignal());
            context.clearScriptSignal(scriptcontext::continuesignal());
        } catch (const zt::exception& e) {
            execError(this, &e, nullptr);
        } catch (...) {
            execError(this, nullptr);
        }
    }

private:
    clonePtr<valueProvider> mBlock;
};

// ---------------------------------------------------------------------------------------------
// callfunction

// Nesting of callfunction on this thread. Bounded so that a function calling itself without
// end fails with an error instead of exhausting the stack: by the count, and on smaller stacks
// by the stack that is left.
ZT_FAST_TLS thread_local int gCallDepth = 0;

// Argument vectors of finished calls, kept by each thread for its next calls.
std::vector<std::vector<genericValue>>& spareArgumentVectors() {
    return zt::threadOwned<std::vector<std::vector<genericValue>>>();
}

class callFunction : public scriptbasestatement {
public:
    static constexpr int maxCallDepth = 200;
    // A call asks for this much room beyond the stack margin. More than a call takes until the
    // callee's first statement checks (3 KB), so endless recursion fails here, as a call error;
    // and with the margin more than the first call of a file takes to load it (76 KB measured
    // with AddressSanitizer, 64 KB of it the reader's buffer).
    static constexpr std::size_t kCallReserve = 32u << 10;

    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.empty()) rejectStatement(u"callFunction::createFrom: number of parameters < 1");
        codeManager::eCodeType type = codeManager::ctScript;
        zt::string file, function;
        if (!codeManager::instance()->parseCodeCall(params[0], type, file, function))
            rejectStatement(u"callFunction::createFrom: error parsing \"%s\"", params[0]);
        clonePtr<callFunction> st(new callFunction);
        st->mCodeId = params[0];
        if (st->mCodeId.empty()) rejectStatement(u"callFunction::createFrom: error setting codeId");
        for (size_t i = 1; i < params.size(); ++i) {
            clonePtr<valueProvider> argument(valueProvider::createFrom(params[i], flags));
            if (!argument) rejectStatement(u"callFunction::createFrom: error parsing \"%s\"", params[i]);
            st->mArgumentDeliveries.emplace_back().prepare(argument.get());
            st->mArguments.push_back(std::move(argument));
        }
        return st.release();
    }

    statement* clone() const override { return new callFunction(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        // Argument vectors are reused from a small pool of this thread, so that a call
        // allocates none; a vector goes back emptied (its capacity kept) when the call ends.
        struct pooledArguments {
            std::vector<genericValue> values;
            pooledArguments() {
                auto& spareArguments = spareArgumentVectors();
                if (!spareArguments.empty()) {
                    values = std::move(spareArguments.back());
                    spareArguments.pop_back();
                }
            }
            ~pooledArguments() {
                values.clear();
                auto& spareArguments = spareArgumentVectors();
                try {
                    if (spareArguments.size() < 64) spareArguments.push_back(std::move(values));
                } catch (...) {
                    // no room to keep it: it is simply freed
                }
            }
        } pooled;
        std::vector<genericValue>& arguments = pooled.values;
        arguments.resize(mArguments.size());
        try {
            for (size_t i = 0; i < mArguments.size(); ++i)
                mArgumentDeliveries[i].deliver(*mArguments[i], context, arguments[i]);
        } catch (const zt::exception& e) {
            execError(this, &e, u"Error retrieving script-parameter");
        } catch (...) {
            execError(this, u"Error retrieving script-parameter");
        }

        scriptcontext called;
        context.initScriptContext(called);

        const genericValue& base = context.globalContextVariable(scriptcontext::scriptbasepath());
        // Usually a text: read in place (the code manager reads the base path before the called
        // function may change "scriptbasepath").
        const zt::string* text = base.isEmpty() ? nullptr : base.constPtrTo<zt::string>();
        zt::string basePath;
        if (!base.isEmpty() && !text) {
            genericValue::ptrholder<zt::string> textTarget(&basePath);
            if (!base.getHolder()->assignTo(textTarget)) {
                zt::directory folder;
                genericValue::ptrholder<zt::directory> folderTarget(&folder);
                if (base.getHolder()->assignTo(folderTarget)) basePath = folder.name();
                else basePath.clear();
            }
        }

        if (gCallDepth >= maxCallDepth || zt::stackIsShort(kCallReserve))
            execError(this, u"function calls nested deeper than %d levels (endless recursion?)", maxCallDepth);
        struct depthGuard {
            depthGuard() { ++gCallDepth; }
            ~depthGuard() { --gCallDepth; }
        } guard;
        codeManager::instance()->executeFunction(text ? *text : basePath, mCodeId, called, arguments, result);
    }

private:
    zt::string mCodeId;
    std::vector<clonePtr<valueProvider>> mArguments;
    std::vector<modules::delivery> mArgumentDeliveries;
};

// ---------------------------------------------------------------------------------------------
// nullref

class nullRef : public scriptbasestatement {
public:
    statement* clone() const override { return new nullRef(*this); }
    void execute(codecontext&, genericValue& result) const override { result.replace(unknownptr()); }
};

// ---------------------------------------------------------------------------------------------

// The keywords of this library and what builds their statements; the message statements
// (messages.cpp) follow.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    // Outside a loop (the parser's flags tell) break and continue are not statements.
    {u"continue",
     [](const modules::argumentTexts&, const modules::argumentTexts&, int flags) -> statement* {
         return (flags & sfAllowContinue) ? new _continue : nullptr;
     }},
    {u"break",
     [](const modules::argumentTexts&, const modules::argumentTexts&, int flags) -> statement* {
         return (flags & sfAllowBreak) ? new _break : nullptr;
     }},
    {u"if", factory<&_if::createFrom>},
    {u"for_each", factory<&for_each::createFrom>},
    {u"while", factory<&_while::createFrom>},
    {u"nullref", [](const modules::argumentTexts&, const modules::argumentTexts&, int) -> statement* { return new nullRef; }},
    {u"callfunction", factory<&callFunction::createFrom>},
    {u"treatasfunction", factory<&treatasfunction::createFrom>},
    {u"return", factory<&_return::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    if (const modules::statementFactory build = modules::lookupKeyword(kKeywords, keyword))
        return build(types, params, flags);
    return modules::dispatchMessages(keyword, types, params, flags);
}

} // namespace

scriptModule modules::flowModule(&dispatch);

} // namespace zt::script
