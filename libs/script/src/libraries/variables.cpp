// The variables library: creating, testing, reading and writing local variables, parameters and
// global context variables, value pointers, and the type tests isnull / isoftype.
#include "builtin_libraries.h"

#include <new>

namespace zt::script {

namespace {

// Where a named value lives.
enum eScope : std::uint32_t {
    scVariable = 0,
    scParameter = 1,
    scGlobal = 2,
};

// Variable names ignore blanks, tabs and case: "My Var" and "myvar" are the same name.
zt::string normalisedName(const zt::string& text) {
    zt::string name = text;
    name.deleteAll(u" \t");
    return name.lower();
}

// Builds the name of a statement from its first argument; reports an empty name with message
// (whose %s receives the argument as written) and aborts construction.
scString nameFrom(const zt::string& text, const char16_t* message) {
    zt::string name = normalisedName(text);
    if (name.empty()) {
        zt::assertMsg(message, text);
        throw false;
    }
    return scString(name);
}

void requireArguments(const std::vector<zt::string>& params, const char16_t* message) {
    if (params.empty()) {
        zt::assertMsg(message);
        throw false;
    }
}

// Allocation without exceptions, reported like the other construction failures.
template <class T, class... A>
T* allocate(A&&... args) {
    T* p = new (std::nothrow) T(std::forward<A>(args)...);
    if (!p) {
        zt::assertMsg(u"Assertion failed:\n%s\n\nFile: %s\nLine: %d", u"pStmt", u"ztscriptvars", __LINE__);
        throw false;
    }
    return p;
}

// Owns a statement under construction until it is handed out.
template <class T>
using building = clonePtr<T>;

// -------------------------------------------------------------------------------------------
// varexists / globalvarexists

class variableExists : public scriptbasestatement {
public:
    static statement* createFrom(eScope scope, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                                 int) {
        requireArguments(params, u"variableExists::createFrom: number of parameters < 1");
        building<variableExists> st(allocate<variableExists>());
        st->mScope = scope;
        st->mName = nameFrom(params[0], u"variableExists::createFrom: error setting variablename \"%s\"");
        return st.release();
    }
    statement* clone() const override { return new variableExists(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        bool exists = mScope == scGlobal ? context.hasGlobalContextVariable(mName) : context.hasVariable(mName);
        result.set(exists);
    }

private:
    eScope mScope = scVariable;
    scString mName;
};

// -------------------------------------------------------------------------------------------
// createvar / createglobalvar

class createVariable : public scriptbasestatement {
public:
    static statement* createFrom(eScope scope, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                                 int flags) {
        requireArguments(params, u"createVariable::createFrom: number of parameters < 1");
        building<createVariable> st(allocate<createVariable>());
        st->mScope = scope;
        st->mName = nameFrom(params[0], u"createVariable::createFrom: error setting variablename \"%s\"");
        if (params.size() >= 2) st->mValue.reset(valueProvider::createFrom(params[1], flags));
        return st.release();
    }
    statement* clone() const override { return new createVariable(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        if (mValue && !mValue->getValue(context, result)) execError(this, u"error retrieving value");
        if (mScope == scGlobal)
            context.setGlobalContextVariable(mName, result);
        else
            context.createVariable(mName, result);
    }

private:
    eScope mScope = scVariable;
    scString mName;
    clonePtr<valueProvider> mValue;
};

// -------------------------------------------------------------------------------------------
// isnull

class isnull : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>&, const std::vector<zt::string>& params, int flags) {
        requireArguments(params, u"isnull::createFrom: number of parameters < 1");
        building<isnull> st(allocate<isnull>());
        st->mValue.reset(valueProvider::createFrom(params[0], flags));
        return st.release();
    }
    statement* clone() const override { return new isnull(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        genericValue value;
        if (mValue) mValue->getValue(context, value);
        result.set(value.isEmpty());
    }

private:
    clonePtr<valueProvider> mValue;
};

// -------------------------------------------------------------------------------------------
// isoftype<T>

template <class T>
class isoftype : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        building<isoftype> st(allocate<isoftype>());
        st->mValue.reset(valueProvider::createFrom(params[0], flags));
        return st.release();
    }
    statement* clone() const override { return new isoftype(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        genericValue value;
        bool fits = false;
        if (mValue && mValue->getValue(context, value)) {
            T probe{};
            fits = value.get(probe);
        }
        result.set(fits);
    }

private:
    clonePtr<valueProvider> mValue;
};

statement* createIsOfType(const std::vector<zt::string>& types, const std::vector<zt::string>& params, int flags) {
    requireArguments(params, u"isoftype::createFrom: number of parameters < 1");
    if (types.empty()) {
        zt::assertMsg(u"isoftype: missing datatype for \"isoftype\"");
        throw false;
    }
    switch (parseScriptType(types[0])) {
    case stBool: return isoftype<bool>::createFrom(params, flags);
    case stShort: return isoftype<short>::createFrom(params, flags);
    case stInt: return isoftype<int>::createFrom(params, flags);
    case stLong: return isoftype<zt::slong>::createFrom(params, flags);
    case stUShort: return isoftype<unsigned short>::createFrom(params, flags);
    case stUInt: return isoftype<unsigned int>::createFrom(params, flags);
    case stULong: return isoftype<zt::ulong>::createFrom(params, flags);
    case stFloat: return isoftype<float>::createFrom(params, flags);
    case stDouble: return isoftype<double>::createFrom(params, flags);
    case stDate: return isoftype<zt::date>::createFrom(params, flags);
    case stTime: return isoftype<zt::time>::createFrom(params, flags);
    case stTimestamp: return isoftype<zt::timestamp>::createFrom(params, flags);
    case stArray: return isoftype<std::vector<genericValue>>::createFrom(params, flags);
    default: return nullptr;
    }
}

// -------------------------------------------------------------------------------------------
// setvar / setparameter / setglobalvar

genericValue* addressOf(codecontext& context, eScope scope, const scString& name) {
    switch (scope) {
    case scParameter: return context.parameterAddress(name);
    case scGlobal: return context.globalContextVariableAddress(name);
    default: return context.findVariable(name);
    }
}

class setVariable : public scriptbasestatement {
public:
    static statement* createFrom(eScope scope, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                                 int flags) {
        requireArguments(params, u"setVariable::createFrom: number of parameters < 1");
        building<setVariable> st(allocate<setVariable>());
        st->mScope = scope;
        st->mName = nameFrom(params[0], u"setVariable::createFrom: error setting variablename \"%s\"");
        if (params.size() >= 2) st->mValue.reset(valueProvider::createFrom(params[1], flags));
        st->mDelivery.prepare(st->mValue.get());
        return st.release();
    }
    statement* clone() const override { return new setVariable(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const genericValue& target = assign(context);
        if (&result != &target) result = target;
    }
    // The value set is the result: unused, it need not be copied.
    void executeDiscarded(codecontext& context) const override { assign(context); }

private:
    genericValue& assign(codecontext& context) const {
        genericValue* target = addressOf(context, mScope, mName);
        if (!target) execError(this, u"Error retrieving variable %s", mName.string());
        if (mValue && !mDelivery.deliver(*mValue, context, *target))
            execError(this, u"Error retrieving value for variable \"%s\"", mName.string());
        return *target;
    }

    eScope mScope = scVariable;
    scString mName;
    clonePtr<valueProvider> mValue;
    modules::delivery mDelivery;
};

// -------------------------------------------------------------------------------------------
// getvar / getparameter / getglobalvar

class getVariable : public scriptbasestatement {
public:
    static statement* createFrom(eScope scope, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                                 int) {
        requireArguments(params, u"getVariable::createFrom: number of parameters < 1");
        building<getVariable> st(allocate<getVariable>());
        st->mName = nameFrom(params[0], u"getVariable::parse: error setting variablename %s");
        st->mScope = scope;
        return st.release();
    }
    statement* clone() const override { return new getVariable(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const genericValue& value = storedValue(context);
        if (&value != &result) result = value;
    }
    bool readsStoredValue() const override { return true; }
    const genericValue& storedValue(codecontext& context) const override {
        switch (mScope) {
        case scParameter: return context.parameter(mName);
        case scGlobal: return context.globalContextVariable(mName);
        default:
            if (genericValue* v = context.findVariable(mName)) [[likely]]
                return *v;
            return context.variable(mName); // reports the missing name
        }
    }
    // The name when this reads a block variable.
    const scString* variableName() const { return mScope == scVariable ? &mName : nullptr; }

private:
    scString mName;
    eScope mScope = scVariable;
};

const scString* readName(const statement* st) {
    const auto* read = dynamic_cast<const getVariable*>(st);
    return read ? read->variableName() : nullptr;
}

// -------------------------------------------------------------------------------------------
// getvarptr / &getvar / getparameterptr / &getparameter / getglobalvarptr

class getVariableAddress : public scriptbasestatement {
public:
    static statement* createFrom(eScope scope, const std::vector<zt::string>& types,
                                 const std::vector<zt::string>& params, int) {
        if (types.size() != 1) {
            zt::assertMsg(u"getVariableAddress::createFrom: number of types != 1");
            throw false;
        }
        requireArguments(params, u"getVariableAddress::createFrom: number of parameters < 1");
        building<getVariableAddress> st(allocate<getVariableAddress>());
        st->mName = nameFrom(params[0], u"getVariablePointer::parse: error setting variablename %s");
        st->mScope = scope;
        return st.release();
    }
    statement* clone() const override { return new getVariableAddress(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        genericValue* address = addressOf(context, mScope, mName);
        if (result.isEmpty())
            result = genericValue(new genericValue::valueholder<genericValue*>(address));
        else if (!result.set(address))
            throw false;
    }

private:
    scString mName;
    eScope mScope = scVariable;
};

// -------------------------------------------------------------------------------------------

// The keywords of this library and what builds their statements. The most frequent first:
// every bare word in a script is a getvar.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"getvar", factory<&getVariable::createFrom, scVariable>},
    {u"setvar", factory<&setVariable::createFrom, scVariable>},
    {u"varexists", factory<&variableExists::createFrom, scVariable>},
    {u"globalvarexists", factory<&variableExists::createFrom, scGlobal>},
    {u"createvar", factory<&createVariable::createFrom, scVariable>},
    {u"createglobalvar", factory<&createVariable::createFrom, scGlobal>},
    {u"isnull", factory<&isnull::createFrom>},
    {u"isoftype", factory<&createIsOfType>},
    {u"setparameter", factory<&setVariable::createFrom, scParameter>},
    {u"setglobalvar", factory<&setVariable::createFrom, scGlobal>},
    {u"getparameter", factory<&getVariable::createFrom, scParameter>},
    {u"getglobalvar", factory<&getVariable::createFrom, scGlobal>},
    {u"getvarptr", factory<&getVariableAddress::createFrom, scVariable>},
    {u"&getvar", factory<&getVariableAddress::createFrom, scVariable>},
    {u"getparameterptr", factory<&getVariableAddress::createFrom, scParameter>},
    {u"&getparameter", factory<&getVariableAddress::createFrom, scParameter>},
    {u"getglobalvarptr", factory<&getVariableAddress::createFrom, scGlobal>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::varsModule(&dispatch);

const scString* modules::plainVariableRead(const valueProvider* provider) {
    const auto* call = dynamic_cast<const statementProvider*>(provider);
    return call ? readName(call->getStatement()) : nullptr;
}

} // namespace zt::script
