// Statements on host objects: typed reads and writes of fields, relations, transient data, field
// properties (enabled, constant, label), restrictions and change events.
//
// Every statement takes the object reference (an interfaceptr<unknown> in a value), asks it for
// the one host interface it needs and calls it; the interface pointers release their references
// when the statement ends, whichever way it ends. The "ctxt_" keywords build the same statements
// as their "obj_" twins.
#include "builtin_libraries.h"

#include <ztcondition.h>

#include <new>

namespace zt::script {

namespace {

using zt::intrface::interfaceptr;
using zt::intrface::unknown;
using unknownptr = interfaceptr<unknown>;

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptobject", line);
}


using zt::script::providerFrom;

// The object reference that value holds, or null.
const unknownptr* objectReference(const genericValue& value) { return value.constPtrTo<unknownptr>(); }

// ---------------------------------------------------------------------------------------------
// Positional statements

// Holds the object argument.
class methodstatement : public scriptbasestatement {
protected:
    // The object of the first argument; empty when the value is not an object reference.
    unknownptr getObject(codecontext& context) const {
        genericValue value;
        if (!mpObject->getValue(context, value)) execError(this, nullptr);
        const unknownptr* p = objectReference(value);
        return p ? *p : unknownptr();
    }
    // The interface I of the object argument; raises message when the object does not offer it.
    template <class I>
    interfaceptr<I> getInterface(codecontext& context, const char16_t* message) const {
        interfaceptr<I> object(getObject(context));
        if (!object) execError(this, message);
        return object;
    }

    clonePtr<valueProvider> mpObject;
};

// Holds the object and the name of a field, relation or transient data slot.
class fieldstatement : public methodstatement {
protected:
    zt::string getFieldName(codecontext& context, const char16_t* message = u"unable to retrieve name") const {
        genericValue value;
        zt::string name;
        if (!mpName->getValue(context, value) || !value.get(name)) execError(this, message);
        return name;
    }

    // args := object ',' name [',' ...]
    // Builds object and name providers from the first two texts (reported with message).
    void parseObjectAndName(const std::vector<zt::string>& params, int flags, const char16_t* message) {
        mpObject.reset(providerFrom(params[0], flags, message));
        mpName.reset(providerFrom(params[1], flags, message));
    }

    clonePtr<valueProvider> mpName;
};

// Evaluates an optional provider; false when absent or when it reports failure.
bool evaluate(const clonePtr<valueProvider>& provider, codecontext& context, genericValue& value) {
    return provider && provider->getValue(context, value);
}

// ---------------------------------------------------------------------------------------------
// Typed get: "obj_get<T>(object, field)"

template <class T>
class getFieldValue : public fieldstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"getFieldValue::parse: number of parameters < 2");
        clonePtr<getFieldValue> st(allocateStatement<getFieldValue>(__LINE__));
        st->parseObjectAndName(params, flags, u"getFieldValue::parse: error parsing %s");
        return st.release();
    }
    statement* clone() const override { return new getFieldValue(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        auto fields = getInterface<zt::intrface::fieldaccess>(context, u"unable to retrieve object");
        const zt::string name = getFieldName(context);
        result.replace(T());
        if (!fields->getField(name, *result.ptrTo<T>()))
            execError(this, u"error calling the objects get-method for field %s", name);
    }
};

// "obj_get<generic>": the host fills the result with a value of its choice.
class getGenericFieldValue : public fieldstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"getFieldValue::parse: number of parameters < 2");
        clonePtr<getGenericFieldValue> st(allocateStatement<getGenericFieldValue>(__LINE__));
        st->parseObjectAndName(params, flags, u"getFieldValue::parse: error parsing %s");
        return st.release();
    }
    statement* clone() const override { return new getGenericFieldValue(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        auto fields = getInterface<zt::intrface::fieldaccess>(context, u"unable to retrieve object");
        const zt::string name = getFieldName(context);
        // The host's success flag is not looked at: it leaves the result as it sees fit.
        fields->getField(name, result);
    }
};

// "ctxt_getarray" and "obj_get<array>".
class getArrayFieldValue : public fieldstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"getArrayFieldValue::parse: number of parameters < 2");
        clonePtr<getArrayFieldValue> st(allocateStatement<getArrayFieldValue>(__LINE__));
        st->parseObjectAndName(params, flags, u"getArrayFieldValue::parse: error parsing %s");
        return st.release();
    }
    statement* clone() const override { return new getArrayFieldValue(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        auto arrays = getInterface<zt::intrface::arrayfieldaccess>(context, u"unable to retrieve object");
        const zt::string name = getFieldName(context);
        result.replace(std::vector<genericValue>());
        if (!arrays->getArrayField(name, *result.ptrTo<std::vector<genericValue>>()))
            execError(this, u"error calling the objects get-method for field %s", name);
    }
};

// ---------------------------------------------------------------------------------------------
// Typed set: "obj_set<T>(object, field, value [, even when the field is missing])"

template <class T>
class setFieldValue : public fieldstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 3) rejectStatement(u"setFieldValue::parse: number of parameters < 3");
        clonePtr<setFieldValue> st(allocateStatement<setFieldValue>(__LINE__));
        st->parseObjectAndName(params, flags, u"setFieldValue::parse: error parsing \"%s\"");
        st->mpValue.reset(providerFrom(params[2], flags, u"setFieldValue::parse: error parsing %s"));
        if (params.size() > 3)
            st->mpForce.reset(providerFrom(params[3], flags, u"setFieldValue::parse: error parsing %s"));
        return st.release();
    }
    statement* clone() const override { return new setFieldValue(*this); }

    void execute(codecontext& context, genericValue&) const override {
        auto fields = getInterface<zt::intrface::fieldaccess>(context, u"unable to retrieve object");
        const zt::string name = getFieldName(context);
        if (!fields->hasField(name) && !forced(context))
            execError(this, u"field \"%s\" not found within object", name);

        genericValue value;
        if (!mpValue->getValue(context, value)) execError(this, u"unable to retrieve value for field \"%s\" (1)", name);
        T typed{};
        if (const T* same = value.constPtrTo<T>()) typed = *same;
        else if (!value.get(typed)) execError(this, u"unable to retrieve value for field \"%s\" (2)", name);

        if (!store(*fields.get(), name, typed)) execError(this, u"error calling the objects set-method");
    }

private:
    // The optional fourth argument: true when it evaluates to a value that reads as true.
    bool forced(codecontext& context) const {
        genericValue value;
        bool force = false;
        return evaluate(mpForce, context, value) && value.get(force) && force;
    }

    static bool store(zt::intrface::fieldaccess& fields, const zt::string& name, const T& value) {
        if constexpr (std::is_same_v<T, int>)
            return fields.setField(name, zt::slong(value)); // there is no int setter
        else if constexpr (std::is_same_v<T, unknownptr>)
            return fields.setField(name, value.isValid()); // there is no object setter
        else
            return fields.setField(name, value);
    }

    clonePtr<valueProvider> mpValue;
    clonePtr<valueProvider> mpForce;
};

// ---------------------------------------------------------------------------------------------
// Relations

class relationstatement : public fieldstatement {
protected:
    // The relation interface and the relation's name, raising when the relation does not exist.
    interfaceptr<zt::intrface::relationaccess> existingRelation(codecontext& context, zt::string& name) const {
        auto relations = getInterface<zt::intrface::relationaccess>(context, u"unable to retrieve object");
        name = getFieldName(context);
        if (!relations->hasRelation(name)) execError(this, u"relation \"%s\" not found", name);
        return relations;
    }
};

// "obj_getrelation(object, relation [, deletion status])": the related object.
class getRelation : public relationstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"getRelation::createFrom: number of parameters < 2");
        clonePtr<getRelation> st(allocateStatement<getRelation>(__LINE__));
        st->parseObjectAndName(params, flags, u"getRelation::createFrom: error parsing \"%s\"");
        if (params.size() > 2)
            st->mpStatus.reset(providerFrom(params[2], flags, u"getRelation::createFrom: error parsing \"%s\""));
        return st.release();
    }
    statement* clone() const override { return new getRelation(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::string name;
        auto relations = existingRelation(context, name);
        if (mpStatus) {
            // Checked but not passed on: the host's getRelation takes only the name.
            genericValue value;
            zt::string status;
            if (!mpStatus->getValue(context, value) || !value.get(status))
                execError(this, u"Unable to retrieve deletionstatus");
        }
        unknown* raw = nullptr;
        const bool ok = relations->getRelation(name, raw);
        unknownptr related = unknownptr::adopt(raw); // the host handed out a reference
        if (!ok) execError(this, u"Error retrieving relation \"%s\"", name);
        result.replace(std::move(related));
    }

private:
    clonePtr<valueProvider> mpStatus;
};

// "obj_getrelations(object, relation)": the host's object for all related objects.
class getRelations : public relationstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"getRelations::createFrom: number of parameters < 2");
        clonePtr<getRelations> st(allocateStatement<getRelations>(__LINE__));
        st->parseObjectAndName(params, flags, u"getRelations::createFrom: error parsing \"%s\"");
        return st.release();
    }
    statement* clone() const override { return new getRelations(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::string name;
        auto relations = existingRelation(context, name);
        unknown* raw = nullptr;
        const bool ok = relations->getRelations(name, raw);
        unknownptr related = unknownptr::adopt(raw);
        if (!ok) execError(this, u"Error retrieving relation \"%s\"", name);
        result.replace(std::move(related));
    }
};

// "obj_setrelation(object, relation, related object)".
class setRelation : public relationstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 2) rejectStatement(u"setRelation::createFrom: number of parameters < 2");
        clonePtr<setRelation> st(allocateStatement<setRelation>(__LINE__));
        st->parseObjectAndName(params, flags, u"setRelation::createFrom: error parsing \"%s\"");
        // Without a third text the statement raises "unable to retrieve relation" when run.
        if (params.size() > 2)
            st->mpRelated.reset(providerFrom(params[2], flags, u"setRelation::createFrom: error parsing \"%s\""));
        return st.release();
    }
    statement* clone() const override { return new setRelation(*this); }

    void execute(codecontext& context, genericValue&) const override {
        zt::string name;
        auto relations = existingRelation(context, name);
        genericValue value;
        const unknownptr* related = evaluate(mpRelated, context, value) ? objectReference(value) : nullptr;
        if (!related) execError(this, u"unable to retrieve relation");
        if (!relations->setRelation(name, const_cast<unknown*>(related->get())))
            execError(this, u"pObject->setRelation failed");
    }

private:
    clonePtr<valueProvider> mpRelated;
};

// ---------------------------------------------------------------------------------------------
// Transient data: script values parked on a host object

class transientstatement : public fieldstatement {
protected:
    template <class S>
    static statement* build(const std::vector<zt::string>& params, int flags, const char16_t* tooFew,
                            const char16_t* badText, int line) {
        if (params.size() < 2) rejectStatement(tooFew);
        clonePtr<S> st(allocateStatement<S>(line));
        st->parseObjectAndName(params, flags, badText);
        if (params.size() > 2) st->mpValue.reset(providerFrom(params[2], flags, badText));
        return st.release();
    }

    interfaceptr<zt::intrface::transientdataaccess> slots(codecontext& context, zt::string& name) const {
        auto data = getInterface<zt::intrface::transientdataaccess>(context, u"unable to retrieve object");
        name = getFieldName(context);
        return data;
    }

    clonePtr<valueProvider> mpValue; // only "settransientdata" uses it
};

class hasTransientData : public transientstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<hasTransientData>(params, flags, u"hasTransientData::createFrom: number of parameters < 2",
                                       u"hasTransientData::createFrom: error parsing \"%s\"", __LINE__);
    }
    statement* clone() const override { return new hasTransientData(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::string name;
        auto data = slots(context, name);
        result.replace(data->hasTransientData(name));
    }
};

class setTransientData : public transientstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<setTransientData>(params, flags, u"setTransientData::createFrom: number of parameters < 2",
                                       u"setTransientData::createFrom: error parsing \"%s\"", __LINE__);
    }
    statement* clone() const override { return new setTransientData(*this); }

    void execute(codecontext& context, genericValue&) const override {
        zt::string name;
        auto data = slots(context, name);
        unknownptr wrapped;
        if (mpValue) {
            genericValue value;
            if (!mpValue->getValue(context, value)) execError(this, u"unable to retrieve value");
            wrapped = unknownptr::adopt(zt::ifimpl::wrapValue(value));
        }
        // The host takes a reference of its own when it keeps the object; ours goes at the end.
        if (!data->setTransientData(name, wrapped.get())) execError(this, u"Error executing setTransientData");
    }
};

class getTransientData : public transientstatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<getTransientData>(params, flags, u"getTransientData::createFrom: number of parameters < 2",
                                       u"getTransientData::createFrom: error parsing \"%s\"", __LINE__);
    }
    statement* clone() const override { return new getTransientData(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        zt::string name;
        auto data = slots(context, name);
        unknown* raw = nullptr;
        const bool ok = data->getTransientData(name, raw);
        unknownptr stored = unknownptr::adopt(raw);
        if (!ok) execError(this, u"Error executing getTransientData");
        if (!stored) {
            result.clear(); // a slot that holds nothing
            return;
        }
        // Only values that scripts stored can be read back; the host's own objects cannot.
        const genericValue* value = zt::ifimpl::wrappedValue(stored.get());
        if (!value) execError(this, nullptr);
        result = *value;
    }
};

// ---------------------------------------------------------------------------------------------
// Named-parameter statements

class namedObjectStatement : public zt::script::namedParameterStatement {
protected:
    template <class S, class... D>
    static statement* build(const char16_t* name, const std::vector<zt::string>& params, int flags, int line,
                            const D&... decls) {
        return namedParameterStatement::build<S>(u"ztscriptobject", line, name, params, flags, decls...);
    }

    // The interface I of parameter "this".
    template <class I>
    interfaceptr<I> thisAs(codecontext& context) const {
        genericValue value;
        const unknownptr* object = getParamValue(u"this", context, value) ? objectReference(value) : nullptr;
        if (!object) execError(this, u"Error retrieving this-pointer (1)");
        interfaceptr<I> wanted(*object);
        if (!wanted) execError(this, u"Error retrieving this-pointer (2)");
        return wanted;
    }

    zt::string fieldName(codecontext& context, const char16_t* parameter = u"fn") const {
        zt::string name;
        if (!readText(parameter, context, name)) execError(this, u"Error retrieving fieldname");
        return name;
    }

    // False (out unchanged) when the parameter is absent, fails or does not read as T.
    template <class T>
    bool read(const char16_t* parameter, codecontext& context, T& out) const {
        genericValue value;
        T read{};
        if (!getParamValue(parameter, context, value) || !value.get(read)) return false;
        out = std::move(read);
        return true;
    }
    bool readText(const char16_t* parameter, codecontext& context, zt::string& out) const {
        return read(parameter, context, out);
    }
};

// "obj_has(this, fname)", "ctxt_has".
class hasField : public namedObjectStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<hasField>(u"has", params, flags, __LINE__, u"this", true, u"fname", true, nullptr);
    }
    statement* clone() const override { return new hasField(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        genericValue value;
        const unknownptr* object = getParamValue(u"this", context, value) ? objectReference(value) : nullptr;
        interfaceptr<zt::intrface::fieldaccess> fields = object ? interfaceptr<zt::intrface::fieldaccess>(*object)
                                                                : interfaceptr<zt::intrface::fieldaccess>();
        if (!fields) execError(this, u"Error retrieving object");
        zt::string name;
        if (!readText(u"fname", context, name)) execError(this, u"Error retrieving fieldname");
        result.replace(fields->hasField(name));
    }
};

// obj_setenabled, obj_setdisabled, obj_setconstant: a switch with an optional bool (default true).
class obj_propertyswitch : public namedObjectStatement {
public:
    enum eKind { enabled, disabled, constant };

    template <class S>
    static statement* create(const char16_t* keyword, const std::vector<zt::string>& params, int flags) {
        return build<S>(keyword, params, flags, __LINE__, u"this", true, u"fn", true, S::kSwitch, false, nullptr);
    }

    void execute(codecontext& context, genericValue&) const override {
        auto properties = thisAs<zt::intrface::propertyaccess>(context);
        const zt::string name = fieldName(context);
        bool on = true;
        read(switchName(), context, on);
        switch (kind()) {
        case enabled: properties->setDisabled(name, !on); break;
        case disabled: properties->setDisabled(name, on); break;
        case constant: properties->setConstant(name, on); break;
        }
    }

protected:
    virtual eKind kind() const = 0;
    virtual const char16_t* switchName() const = 0;
};

class obj_setenabled : public obj_propertyswitch {
public:
    static constexpr const char16_t* kSwitch = u"enabled";
    statement* clone() const override { return new obj_setenabled(*this); }
    eKind kind() const override { return enabled; }
    const char16_t* switchName() const override { return kSwitch; }
};

class obj_setdisabled : public obj_propertyswitch {
public:
    static constexpr const char16_t* kSwitch = u"disabled";
    statement* clone() const override { return new obj_setdisabled(*this); }
    eKind kind() const override { return disabled; }
    const char16_t* switchName() const override { return kSwitch; }
};

class obj_setconstant : public obj_propertyswitch {
public:
    static constexpr const char16_t* kSwitch = u"const";
    statement* clone() const override { return new obj_setconstant(*this); }
    eKind kind() const override { return constant; }
    const char16_t* switchName() const override { return kSwitch; }
};

// obj_isenabled, obj_isdisabled, obj_isconstant.
class obj_propertytest : public namedObjectStatement {
public:
    enum eKind { enabled, disabled, constant };

    template <class S>
    static statement* create(const char16_t* keyword, const std::vector<zt::string>& params, int flags) {
        return build<S>(keyword, params, flags, __LINE__, u"this", true, u"fn", true, nullptr);
    }

    void execute(codecontext& context, genericValue& result) const override {
        auto properties = thisAs<zt::intrface::propertyaccess>(context);
        const zt::string name = fieldName(context);
        switch (kind()) {
        case enabled: result.replace(!properties->isDisabled(name)); break;
        case disabled: result.replace(properties->isDisabled(name)); break;
        case constant: result.replace(properties->isConstant(name)); break;
        }
    }

protected:
    virtual eKind kind() const = 0;
};

class obj_isenabled : public obj_propertytest {
public:
    statement* clone() const override { return new obj_isenabled(*this); }
    eKind kind() const override { return enabled; }
};

class obj_isdisabled : public obj_propertytest {
public:
    statement* clone() const override { return new obj_isdisabled(*this); }
    eKind kind() const override { return disabled; }
};

class obj_isconstant : public obj_propertytest {
public:
    statement* clone() const override { return new obj_isconstant(*this); }
    eKind kind() const override { return constant; }
};

class obj_setlabel : public namedObjectStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<obj_setlabel>(u"obj_setlabel", params, flags, __LINE__, u"this", true, u"fn", true, u"label",
                                   true, nullptr);
    }
    statement* clone() const override { return new obj_setlabel(*this); }

    void execute(codecontext& context, genericValue&) const override {
        auto properties = thisAs<zt::intrface::propertyaccess>(context);
        const zt::string name = fieldName(context);
        zt::string label; // a label that is not a text is passed as the empty text
        readText(u"label", context, label);
        properties->setLabel(name, label);
    }
};

// "obj_setlabelswitch(this, fn, label_on, label_off, enabled)": only the chosen label is read.
class obj_setlabelswitch : public namedObjectStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<obj_setlabelswitch>(u"obj_setlabelswitch", params, flags, __LINE__, u"this", true, u"fn", true,
                                         u"label_on", true, u"label_off", true, u"enabled", true, nullptr);
    }
    statement* clone() const override { return new obj_setlabelswitch(*this); }

    void execute(codecontext& context, genericValue&) const override {
        auto properties = thisAs<zt::intrface::propertyaccess>(context);
        const zt::string name = fieldName(context);
        bool on = false;
        read(u"enabled", context, on);
        zt::string label;
        readText(on ? u"label_on" : u"label_off", context, label);
        properties->setLabel(name, label);
    }
};

class obj_label : public namedObjectStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<obj_label>(u"obj_label", params, flags, __LINE__, u"this", true, u"fn", true, nullptr);
    }
    statement* clone() const override { return new obj_label(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        auto properties = thisAs<zt::intrface::propertyaccess>(context);
        const zt::string name = fieldName(context);
        zt::string label;
        properties->getLabel(label, name);
        result.replace(std::move(label));
    }
};

// obj_triggerfieldchange, obj_triggerfieldinfochange.
class obj_trigger : public namedObjectStatement {
public:
    template <class S>
    static statement* create(const char16_t* keyword, const std::vector<zt::string>& params, int flags) {
        return build<S>(keyword, params, flags, __LINE__, u"this", true, u"fn", true, nullptr);
    }
    void execute(codecontext& context, genericValue&) const override {
        auto events = thisAs<zt::intrface::triggerEvents>(context);
        const zt::string name = fieldName(context);
        if (infoChange()) events->triggerFieldInfoChange(name);
        else events->triggerFieldChange(name);
    }

protected:
    virtual bool infoChange() const = 0;
};

class obj_triggerfieldchange : public obj_trigger {
public:
    statement* clone() const override { return new obj_triggerfieldchange(*this); }
    bool infoChange() const override { return false; }
};

class obj_triggerfieldinfochange : public obj_trigger {
public:
    statement* clone() const override { return new obj_triggerfieldinfochange(*this); }
    bool infoChange() const override { return true; }
};

// "obj_setrestriction(this, fn, restriction)": a condition text; one that does not parse clears
// the restriction (the host receives a null condition).
class obj_setrestriction : public namedObjectStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<obj_setrestriction>(u"obj_setrestriction", params, flags, __LINE__, u"this", true, u"fn", true,
                                         u"restriction", true, nullptr);
    }
    statement* clone() const override { return new obj_setrestriction(*this); }

    void execute(codecontext& context, genericValue&) const override {
        auto restrictions = thisAs<zt::intrface::restrictionsaccess>(context);
        const zt::string name = fieldName(context);
        zt::string text;
        if (!readText(u"restriction", context, text)) execError(this, u"Error retrieving restriction");
        const zt::intrface::conditionPtr restriction(zt::conditions::condition::parse(text));
        restrictions->setRestriction(name, restriction);
    }
};

// "obj_isfieldvalid(this, fn)": whether the field's value meets its restriction (true without one).
class obj_isfieldvalid : public namedObjectStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        return build<obj_isfieldvalid>(u"obj_isfieldvalid", params, flags, __LINE__, u"this", true, u"fn", true,
                                       nullptr);
    }
    statement* clone() const override { return new obj_isfieldvalid(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        auto restrictions = thisAs<zt::intrface::restrictionsaccess>(context);
        interfaceptr<zt::intrface::fieldaccess> fields(restrictions);
        if (!fields) execError(this, u"Error retrieving this-pointer (3)");
        const zt::string name = fieldName(context);
        zt::intrface::conditionPtr restriction;
        restrictions->getRestriction(restriction, name);
        if (!restriction) {
            result.replace(true);
            return;
        }
        genericValue value;
        fields->getField(name, value); // an unreadable field is tested as the empty value
        result.replace(restriction->isTrue(value));
    }
};

// ---------------------------------------------------------------------------------------------
// Dispatch

// The statement S of the native type of a field type code; the value types have the codes of
// eScriptType.
template <template <class> class S>
statement* typedStatement(std::uint32_t fieldType, const std::vector<zt::string>& params, int flags) {
    switch (fieldType) {
    case stBool: return S<bool>::createFrom(params, flags);
    case stShort: return S<short>::createFrom(params, flags);
    case stInt: return S<int>::createFrom(params, flags);
    case stLong: return S<zt::slong>::createFrom(params, flags);
    case stUShort: return S<unsigned short>::createFrom(params, flags);
    case stUInt: return S<unsigned int>::createFrom(params, flags);
    case stULong: return S<zt::ulong>::createFrom(params, flags);
    case stFloat: return S<float>::createFrom(params, flags);
    case stDouble: return S<double>::createFrom(params, flags);
    case stString: return S<zt::string>::createFrom(params, flags);
    case stDate: return S<zt::date>::createFrom(params, flags);
    case stTime: return S<zt::time>::createFrom(params, flags);
    case stTimestamp: return S<zt::timestamp>::createFrom(params, flags);
    default: return nullptr;
    }
}

// Field type codes of parseFieldType beyond the value types (which share the codes of
// eScriptType up to stTimestamp).
constexpr std::uint32_t kRefType = 14;
constexpr std::uint32_t kArrayType = 15;

zt::string firstType(const std::vector<zt::string>& types) {
    if (types.empty()) return zt::string();
    zt::string type = types[0];
    return type.trim().toLower();
}

statement* createGet(const std::vector<zt::string>& types, const std::vector<zt::string>& params, int flags) {
    const zt::string type = firstType(types);
    if (type == u"generic") return getGenericFieldValue::createFrom(params, flags);
    const std::uint32_t fieldType = type.empty() ? stString : parseFieldType(type);
    if (fieldType == kArrayType) return getArrayFieldValue::createFrom(params, flags);
    return typedStatement<getFieldValue>(fieldType, params, flags);
}

statement* createSet(const std::vector<zt::string>& types, const std::vector<zt::string>& params, int flags) {
    const zt::string type = firstType(types);
    const std::uint32_t fieldType = type.empty() ? stString : parseFieldType(type);
    if (fieldType == kRefType) return setFieldValue<unknownptr>::createFrom(params, flags);
    return typedStatement<setFieldValue>(fieldType, params, flags);
}

// What builds an object statement; it also gets the whole keyword, which some statements name
// in their parse errors.
using objectFactory = statement* (*)(const zt::string& keyword, const modules::argumentTexts& types,
                                     const modules::argumentTexts& params, int flags);

template <auto F>
statement* plain(const zt::string&, const modules::argumentTexts& types, const modules::argumentTexts& params,
                 int flags) {
    return modules::factory<F>(types, params, flags);
}

template <class S>
statement* namedByKeyword(const zt::string& keyword, const modules::argumentTexts&,
                          const modules::argumentTexts& params, int flags) {
    return S::template create<S>(keyword.c_str(), params, flags);
}

// The keywords, without their prefix "obj_" or "ctxt_": those of both families, those only with
// "ctxt_" and those only with "obj_".
constexpr modules::keywordEntry<objectFactory> kBothFamilies[] = {
    {u"has", plain<&hasField::createFrom>},
    {u"get", plain<&createGet>},
    {u"set", plain<&createSet>},
    {u"hastransientdata", plain<&hasTransientData::createFrom>},
    {u"gettransientdata", plain<&getTransientData::createFrom>},
    {u"settransientdata", plain<&setTransientData::createFrom>},
};

constexpr modules::keywordEntry<objectFactory> kContextOnly[] = {
    {u"getarray", plain<&getArrayFieldValue::createFrom>},
};

constexpr modules::keywordEntry<objectFactory> kObjectOnly[] = {
    {u"getrelation", plain<&getRelation::createFrom>},
    {u"getrelations", plain<&getRelations::createFrom>},
    {u"setrelation", plain<&setRelation::createFrom>},
    {u"setenabled", namedByKeyword<obj_setenabled>},
    {u"setdisabled", namedByKeyword<obj_setdisabled>},
    {u"setconstant", namedByKeyword<obj_setconstant>},
    {u"isenabled", namedByKeyword<obj_isenabled>},
    {u"isdisabled", namedByKeyword<obj_isdisabled>},
    {u"isconstant", namedByKeyword<obj_isconstant>},
    {u"setlabel", plain<&obj_setlabel::createFrom>},
    {u"setlabelswitch", plain<&obj_setlabelswitch::createFrom>},
    {u"label", plain<&obj_label::createFrom>},
    {u"triggerfieldchange", namedByKeyword<obj_triggerfieldchange>},
    {u"triggerfieldinfochange", namedByKeyword<obj_triggerfieldinfochange>},
    {u"setrestriction", plain<&obj_setrestriction::createFrom>},
    {u"isfieldvalid", plain<&obj_isfieldvalid::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    std::u16string_view name;
    if (keyword.startsWith(u"obj_")) name = std::u16string_view(keyword).substr(4);
    else if (keyword.startsWith(u"ctxt_")) name = std::u16string_view(keyword).substr(5);
    else return nullptr;
    const bool isObj = keyword[0] == u'o';

    objectFactory build = modules::lookupKeyword(kBothFamilies, name);
    if (!build) build = isObj ? modules::lookupKeyword(kObjectOnly, name) : modules::lookupKeyword(kContextOnly, name);
    return build ? build(keyword, types, params, flags) : nullptr;
}

} // namespace

scriptModule modules::objectModule(&dispatch);

} // namespace zt::script
