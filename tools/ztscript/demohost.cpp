// The demo host: JSON files as host objects (see demohost.h for the mapping).
#include "demohost.h"

#include <ztcondition.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <string_view>
#include <typeinfo>
#include <utility>

namespace ztscript_tool {

namespace {

namespace fs = std::filesystem;
using namespace zt::intrface;
using unknownptr = interfaceptr<unknown>;
using valueArray = std::vector<zt::genericValue>;

std::atomic<std::size_t> gLiveObjects{0};

// The JSON kind a field had in its file; decides how a whole floating value is written back.
enum class jsonKind { none, null, boolean, integer, floating, string, array };

class demoBase;

} // namespace

struct demoHost::state {
    std::ostream* messages = nullptr;
    std::set<demoBase*> live; // every object of this host that is still alive
    struct loadedFile {
        std::string name; // as passed to load
        fs::path path;    // absolute, for finding it again and for saving
        unknownptr object;
    };
    std::vector<loadedFile> files;
};

const char* severityWord(int severity) {
    switch (severity) {
    case 2: return "error";
    case 1: return "warning";
    default: return "info";
    }
}

namespace {

using hostState = std::shared_ptr<demoHost::state>;

// Reference counting and the host's register of live objects.
class demoBase {
public:
    explicit demoBase(hostState s) : mState(std::move(s)) {
        ++gLiveObjects;
        mState->live.insert(this);
    }
    virtual ~demoBase() {
        mState->live.erase(this);
        --gLiveObjects;
    }
    demoBase(const demoBase&) = delete;
    demoBase& operator=(const demoBase&) = delete;

    // Lets go of the references this object holds to others (breaks cycles when the host goes).
    virtual void dropReferences() = 0;

    std::uint32_t countUp() { return ++mRefs; }
    std::uint32_t countDown() {
        const std::uint32_t left = --mRefs;
        if (left == 0) delete this;
        return left;
    }

protected:
    const hostState& host() const { return mState; }

private:
    std::atomic<std::uint32_t> mRefs{0};
    hostState mState;
};

template <class I>
bool offer(I* self, std::u16string_view wanted, unknown*& out) {
    if (wanted != interfaceName<I>()) return false;
    out = self;
    return true;
}

// A snapshot of a relation's objects, walked with forwardIterator. Every getRelations call gets
// its own collection, so nested walks of the same relation do not disturb each other.
class demoCollection final : public demoBase, public forwardIterator {
public:
    demoCollection(hostState s, std::vector<unknownptr> elements)
        : demoBase(std::move(s)), mElements(std::move(elements)) {}

    std::uint32_t addRef() override { return countUp(); }
    std::uint32_t release() override { return countDown(); }
    int queryInterface(const char16_t* name, unknown*& out) const override {
        return const_cast<demoCollection*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, unknown*& out) override {
        out = nullptr;
        if (!name) return 0;
        const std::u16string_view wanted(name);
        if (wanted == interfaceName<unknown>()) out = static_cast<forwardIterator*>(this);
        else offer<forwardIterator>(this, wanted, out);
        if (!out) return 0;
        countUp();
        return 1;
    }

    void first(unknown*& out) override {
        mPosition = 0;
        current(out);
    }
    void next(unknown*& out) override {
        if (mPosition < mElements.size()) ++mPosition;
        current(out);
    }
    bool isEnd() override { return mPosition >= mElements.size(); }

    void dropReferences() override { mElements.clear(); }

private:
    ~demoCollection() override = default;
    void current(unknown*& out) {
        out = nullptr;
        if (mPosition < mElements.size() && mElements[mPosition].isValid()) {
            out = mElements[mPosition].get();
            out->addRef();
        }
    }

    std::vector<unknownptr> mElements;
    std::size_t mPosition = 0;
};

bool isIntegral(const std::type_info& t) {
    return t == typeid(int) || t == typeid(short) || t == typeid(unsigned short) || t == typeid(unsigned int) ||
           t == typeid(zt::slong) || t == typeid(zt::ulong) || t == typeid(zt::uint64);
}
bool isFloating(const std::type_info& t) { return t == typeid(double) || t == typeid(float); }
bool isNumber(const zt::genericValue& v) { return !v.isEmpty() && (isIntegral(v.type()) || isFloating(v.type())); }

// v as a number field holds it: floating values as they are, integers as int when they fit,
// anything else read as an int or else as a double. False when v is no number.
bool toNumber(const zt::genericValue& v, zt::genericValue& out) {
    if (v.isEmpty()) return false;
    if (isFloating(v.type())) {
        out = v;
        return true;
    }
    int i = 0;
    if (v.get(i)) {
        out.replace(i);
        return true;
    }
    if (isIntegral(v.type())) { // does not fit an int: kept as it is
        out = v;
        return true;
    }
    double d = 0;
    if (v.get(d)) {
        out.replace(d);
        return true;
    }
    return false;
}

// A value as JSON. loaded is the kind the field had in its file: a whole floating value of a
// field that was an integer is written as an integer again. Values nested too deeply for the
// stack throw zt::valueNestingException.
json toJson(const zt::genericValue& v, jsonKind loaded) {
    if (v.isEmpty()) return nullptr;
    if (const auto* a = v.constPtrTo<valueArray>()) {
        zt::checkValueNesting(u"write as JSON");
        json array = json::array();
        for (const zt::genericValue& e : *a) array.push_back(toJson(e, jsonKind::none));
        return array;
    }
    if (const auto* s = v.constPtrTo<zt::string>()) return s->toUtf8();
    if (const auto* b = v.constPtrTo<bool>()) return *b;
    if (isFloating(v.type())) {
        double d = 0;
        // A float goes through its shortest text, so that 0.1f is written as 0.1.
        if (const auto* f = v.constPtrTo<float>()) d = std::stod(zt::toText(*f).toUtf8());
        else d = *v.constPtrTo<double>();
        if (!std::isfinite(d)) return nullptr; // JSON has no text for these
        if (loaded == jsonKind::integer && d == std::trunc(d) && std::fabs(d) < 9.0e18)
            return static_cast<std::int64_t>(d);
        return d;
    }
    if (const auto* u = v.constPtrTo<zt::uint64>()) return *u;
    if (isIntegral(v.type())) {
        double d = 0;
        v.get(d);
        return static_cast<std::int64_t>(d);
    }
    zt::string text;
    if (zt::script::valueToDisplayText(v, text)) return text.toUtf8();
    return nullptr;
}

// A scalar JSON value as a field value.
zt::genericValue scalarValue(const json& j, jsonKind& kind) {
    switch (j.type()) {
    case json::value_t::string: kind = jsonKind::string; return zt::genericValue::of(zt::string::fromUtf8(j.get_ref<const std::string&>()));
    case json::value_t::boolean: kind = jsonKind::boolean; return zt::genericValue::of(j.get<bool>());
    case json::value_t::number_integer: {
        kind = jsonKind::integer;
        const std::int64_t i = j.get<std::int64_t>();
        if (i >= INT_MIN && i <= INT_MAX) return zt::genericValue::of(static_cast<int>(i));
        return zt::genericValue::of(static_cast<double>(i));
    }
    case json::value_t::number_unsigned: {
        kind = jsonKind::integer;
        const std::uint64_t u = j.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(INT_MAX)) return zt::genericValue::of(static_cast<int>(u));
        return zt::genericValue::of(static_cast<double>(u));
    }
    case json::value_t::number_float: kind = jsonKind::floating; return zt::genericValue::of(j.get<double>());
    default: kind = jsonKind::null; return zt::genericValue();
    }
}

bool isScalar(const json& j) { return !j.is_object() && !j.is_array(); }

// What dump shows for a value or a relation nested too deeply to be shown.
const char* const kTooDeep = "<nested too deeply>";

// A value as dump shows it: as toJson, or kTooDeep.
json shownJson(const zt::genericValue& v, jsonKind loaded) {
    try {
        return toJson(v, loaded);
    } catch (const zt::valueNestingException&) {
        return kTooDeep;
    }
}

class demoObject final : public demoBase,
                         public fieldaccess,
                         public arrayfieldaccess,
                         public propertyaccess,
                         public triggerEvents,
                         public restrictionsaccess,
                         public relationaccess,
                         public transientdataaccess,
                         public messagesaccess {
public:
    enum class memberKind { field, relation, collection };
    struct member {
        zt::string name;
        memberKind kind = memberKind::field;
        zt::genericValue value;            // field: scalar, or valueArray for an array field
        jsonKind loaded = jsonKind::none;  // field: its kind in the file (none: added later)
        unknownptr current;                // relation: the related object now (may be empty)
        unknownptr loadedObject;           // relation: the object loaded for it
        std::vector<unknownptr> elements;  // collection
    };
    struct properties {
        zt::string name;
        bool disabled = false;
        bool constant = false;
        zt::string label;
        conditionPtr restriction;
    };
    struct message {
        zt::string id;
        int severity = 0;
        zt::locString text;
    };

    explicit demoObject(hostState s) : demoBase(std::move(s)) {}

    unknown* identity() { return static_cast<fieldaccess*>(this); }

    // unknown
    std::uint32_t addRef() override { return countUp(); }
    std::uint32_t release() override { return countDown(); }
    int queryInterface(const char16_t* name, unknown*& out) const override {
        return const_cast<demoObject*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, unknown*& out) override {
        out = nullptr;
        if (!name) return 0;
        const std::u16string_view w(name);
        if (w == interfaceName<unknown>()) out = identity();
        else
            offer<fieldaccess>(this, w, out) || offer<arrayfieldaccess>(this, w, out) ||
                offer<propertyaccess>(this, w, out) || offer<triggerEvents>(this, w, out) ||
                offer<restrictionsaccess>(this, w, out) || offer<relationaccess>(this, w, out) ||
                offer<transientdataaccess>(this, w, out) || offer<messagesaccess>(this, w, out);
        if (!out) return 0;
        countUp();
        return 1;
    }

    // fieldaccess
    bool hasField(const zt::string& name) override { return findField(name) != nullptr; }
    bool getField(const zt::string& name, zt::genericValue& out) override {
        if (const member* m = findField(name)) {
            out = m->value;
            return true;
        }
        out.clear();
        return false;
    }
    bool getField(const zt::string& name, zt::timestamp& out) override { return read(name, out); }
    bool getField(const zt::string& name, zt::time& out) override { return read(name, out); }
    bool getField(const zt::string& name, zt::date& out) override { return read(name, out); }
    bool getField(const zt::string& name, zt::string& out) override { return read(name, out); }
    bool getField(const zt::string& name, double& out) override { return read(name, out); }
    bool getField(const zt::string& name, float& out) override { return read(name, out); }
    bool getField(const zt::string& name, zt::ulong& out) override { return read(name, out); }
    bool getField(const zt::string& name, unsigned int& out) override { return read(name, out); }
    bool getField(const zt::string& name, unsigned short& out) override { return read(name, out); }
    bool getField(const zt::string& name, zt::slong& out) override { return read(name, out); }
    bool getField(const zt::string& name, int& out) override { return read(name, out); }
    bool getField(const zt::string& name, short& out) override { return read(name, out); }
    bool getField(const zt::string& name, bool& out) override { return read(name, out); }
    bool setField(const zt::string& name, const zt::timestamp& v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, const zt::time& v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, const zt::date& v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, const zt::string& v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, double v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, float v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, zt::ulong v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, unsigned int v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, unsigned short v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, zt::slong v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, short v) override { return store(name, zt::genericValue::of(v)); }
    bool setField(const zt::string& name, bool v) override { return store(name, zt::genericValue::of(v)); }

    // arrayfieldaccess
    bool getArrayField(const zt::string& name, std::vector<zt::genericValue>& out) override {
        if (name == u"#messages") {
            out.clear();
            for (const message& m : mMessages)
                out.push_back(zt::genericValue::of(
                    zt::string(zt::string::fromUtf8(severityWord(m.severity)) + u" " + m.id + u": " + m.text.text())));
            return true;
        }
        if (name == u"#events") {
            out.clear();
            for (const zt::string& e : mEvents) out.push_back(zt::genericValue::of(e));
            return true;
        }
        const member* m = findField(name);
        const valueArray* a = m ? m->value.constPtrTo<valueArray>() : nullptr;
        if (!a) return false;
        out = *a;
        return true;
    }

    // propertyaccess: every name starts enabled, not constant and labelled with itself.
    bool setDisabled(const zt::string& name, bool disabled) override {
        props(name).disabled = disabled;
        return true;
    }
    bool isDisabled(const zt::string& name) override {
        const properties* p = findProps(name);
        return p && p->disabled;
    }
    bool setConstant(const zt::string& name, bool constant) override {
        props(name).constant = constant;
        return true;
    }
    bool isConstant(const zt::string& name) override {
        const properties* p = findProps(name);
        return p && p->constant;
    }
    bool setLabel(const zt::string& name, const zt::string& label) override {
        props(name).label = label;
        return true;
    }
    void getLabel(zt::string& out, const zt::string& name) override {
        const properties* p = findProps(name);
        out = p ? p->label : name;
    }

    // triggerEvents
    void triggerFieldChange(const zt::string& name) override { mEvents.push_back(u"change " + name); }
    void triggerFieldInfoChange(const zt::string& name) override { mEvents.push_back(u"infochange " + name); }

    // restrictionsaccess: an empty pointer removes the restriction.
    void setRestriction(const zt::string& name, const conditionPtr& restriction) override {
        props(name).restriction = restriction;
    }
    void getRestriction(conditionPtr& out, const zt::string& name) override {
        const properties* p = findProps(name);
        out = p ? p->restriction : conditionPtr();
    }

    // relationaccess: objects handed out carry a reference for the caller.
    bool hasRelation(const zt::string& name) override {
        const member* m = find(name);
        return m && (m->kind != memberKind::field || isEmptyArray(*m));
    }
    bool getRelation(const zt::string& name, unknown*& out) override {
        out = nullptr;
        member* m = find(name);
        if (!m || m->kind != memberKind::relation) return false;
        if (m->current.isValid()) {
            out = m->current.get();
            out->addRef();
        }
        return true;
    }
    bool setRelation(const zt::string& name, unknown* object) override {
        member* m = find(name);
        if (!m || m->kind != memberKind::relation) return false;
        if (object) object->addRef();
        m->current = unknownptr::adopt(object);
        return true;
    }
    bool getRelations(const zt::string& name, unknown*& out) override {
        out = nullptr;
        member* m = find(name);
        if (!m) return false;
        std::vector<unknownptr> elements;
        if (m->kind == memberKind::collection) elements = m->elements;
        else if (m->kind == memberKind::relation) {
            if (m->current.isValid()) elements.push_back(m->current);
        } else if (!isEmptyArray(*m))
            return false;
        auto* c = new demoCollection(host(), std::move(elements));
        out = static_cast<forwardIterator*>(c);
        out->addRef();
        return true;
    }

    // transientdataaccess: the object keeps its own reference of what it is given.
    bool hasTransientData(const zt::string& name) override { return findTransient(name) != nullptr; }
    bool setTransientData(const zt::string& name, unknown* object) override {
        if (!object) {
            std::erase_if(mTransient, [&](const auto& slot) { return slot.first == name; });
            return true;
        }
        object->addRef();
        unknownptr held = unknownptr::adopt(object);
        if (unknownptr* slot = findTransient(name)) *slot = std::move(held);
        else mTransient.emplace_back(name, std::move(held));
        return true;
    }
    bool getTransientData(const zt::string& name, unknown*& out) override {
        out = nullptr;
        unknownptr* slot = findTransient(name);
        if (!slot) return false;
        if (slot->isValid()) {
            out = slot->get();
            out->addRef();
        }
        return true;
    }

    // messagesaccess: a message replaces an earlier one of the same id.
    bool addMessage(const zt::string& id, int severity, const zt::locString& text) override {
        auto it = std::find_if(mMessages.begin(), mMessages.end(), [&](const message& m) { return m.id == id; });
        if (it != mMessages.end()) *it = {id, severity, text};
        else mMessages.push_back({id, severity, text});
        if (std::ostream* out = host()->messages) {
            *out << "message " << severityWord(severity) << " " << id.toUtf8() << ": " << text.text().toUtf8()
                 << std::endl;
        }
        return true;
    }
    bool removeMessage(const zt::string& id) override {
        return std::erase_if(mMessages, [&](const message& m) { return m.id == id; }) != 0;
    }

    void dropReferences() override {
        for (member& m : mMembers) {
            m.current.reset();
            m.loadedObject.reset();
            m.elements.clear();
        }
        mTransient.clear();
    }

    // Loading
    void addField(const zt::string& name, zt::genericValue value, jsonKind kind) {
        member m;
        m.name = name;
        m.value = std::move(value);
        m.loaded = kind;
        mMembers.push_back(std::move(m));
        props(name);
    }
    void addRelation(const zt::string& name, unknownptr object) {
        member m;
        m.name = name;
        m.kind = memberKind::relation;
        m.current = object;
        m.loadedObject = std::move(object);
        mMembers.push_back(std::move(m));
    }
    void addCollection(const zt::string& name, std::vector<unknownptr> elements) {
        member m;
        m.name = name;
        m.kind = memberKind::collection;
        m.elements = std::move(elements);
        mMembers.push_back(std::move(m));
    }

    json dump(std::vector<const demoObject*>& path) const;
    json saved() const;

private:
    ~demoObject() override = default;

    member* find(const zt::string& name) {
        for (member& m : mMembers)
            if (m.name == name) return &m;
        return nullptr;
    }
    member* findField(const zt::string& name) {
        member* m = find(name);
        return m && m->kind == memberKind::field ? m : nullptr;
    }
    static bool isEmptyArray(const member& m) {
        const valueArray* a = m.value.constPtrTo<valueArray>();
        return a && a->empty();
    }
    properties& props(const zt::string& name) {
        for (properties& p : mProps)
            if (p.name == name) return p;
        properties p;
        p.name = name;
        p.label = name;
        mProps.push_back(std::move(p));
        return mProps.back();
    }
    const properties* findProps(const zt::string& name) const {
        for (const properties& p : mProps)
            if (p.name == name) return &p;
        return nullptr;
    }
    unknownptr* findTransient(const zt::string& name) {
        for (auto& slot : mTransient)
            if (slot.first == name) return &slot.second;
        return nullptr;
    }

    template <class T>
    bool read(const zt::string& name, T& out) {
        const member* m = findField(name);
        return m && !m->value.isEmpty() && m->value.get(out);
    }

    // A field keeps its kind: text, true/false, number. A field without a value, of another
    // kind (dates), or a new one takes the value as given (numbers as a number field holds them).
    bool store(const zt::string& name, const zt::genericValue& v) {
        member* m = find(name);
        if (!m) {
            member added;
            added.name = name;
            if (!isNumber(v) || !toNumber(v, added.value)) added.value = v;
            mMembers.push_back(std::move(added));
            props(name);
            return true;
        }
        if (m->kind != memberKind::field) return false;
        zt::genericValue& field = m->value;
        if (field.is<valueArray>()) return false;
        if (field.is<zt::string>()) {
            zt::string s;
            if (!v.get(s)) return false;
            field.replace(std::move(s));
        } else if (field.is<bool>()) {
            bool b = false;
            if (!v.get(b)) return false;
            field.replace(b);
        } else if (isNumber(field)) {
            zt::genericValue n;
            if (!toNumber(v, n)) return false;
            field = std::move(n);
        } else if (!isNumber(v) || !toNumber(v, field)) {
            field = v;
        }
        return true;
    }

    std::vector<member> mMembers;
    std::vector<properties> mProps;
    std::vector<std::pair<zt::string, unknownptr>> mTransient;
    std::vector<message> mMessages;
    std::vector<zt::string> mEvents;
};

demoObject* demoObjectOf(const unknown* p) {
    return p ? dynamic_cast<demoObject*>(const_cast<unknown*>(p)) : nullptr;
}

demoObject* demoObjectOf(const zt::genericValue& reference) {
    const unknownptr* p = reference.constPtrTo<unknownptr>();
    return p ? demoObjectOf(p->get()) : nullptr;
}

json demoObject::dump(std::vector<const demoObject*>& path) const {
    path.push_back(this);
    json fields = json::object();
    json relations = json::object();
    auto related = [&](const unknownptr& p) -> json {
        if (!p.isValid()) return nullptr;
        const demoObject* o = demoObjectOf(p.get());
        if (!o) return "<object>";
        if (std::find(path.begin(), path.end(), o) != path.end()) return "<cycle>";
        if (zt::stackIsShort()) return kTooDeep;
        return o->dump(path);
    };
    for (const member& m : mMembers) {
        switch (m.kind) {
        case memberKind::field: fields[m.name.toUtf8()] = shownJson(m.value, m.loaded); break;
        case memberKind::relation: relations[m.name.toUtf8()] = related(m.current); break;
        case memberKind::collection: {
            json list = json::array();
            for (const unknownptr& e : m.elements) list.push_back(related(e));
            relations[m.name.toUtf8()] = std::move(list);
            break;
        }
        }
    }
    json properties = json::object();
    json restrictions = json::object();
    for (const auto& p : mProps) {
        properties[p.name.toUtf8()] = {{"label", p.label.toUtf8()}, {"enabled", !p.disabled}, {"constant", p.constant}};
        if (p.restriction) {
            // The condition has no text form: shown is whether the field's value meets it.
            static const zt::genericValue none;
            const zt::genericValue* value = &none;
            for (const member& m : mMembers)
                if (m.name == p.name && m.kind == memberKind::field) value = &m.value;
            restrictions[p.name.toUtf8()] = {{"valid", p.restriction->isTrue(*value)}};
        }
    }
    json messages = json::array();
    for (const message& m : mMessages)
        messages.push_back({{"id", m.id.toUtf8()}, {"severity", severityWord(m.severity)}, {"text", m.text.text().toUtf8()}});

    json out = json::object();
    out["fields"] = std::move(fields);
    out["properties"] = std::move(properties);
    out["restrictions"] = std::move(restrictions);
    out["messages"] = std::move(messages);
    out["relations"] = std::move(relations);
    if (!mEvents.empty()) {
        json events = json::array();
        for (const zt::string& e : mEvents) events.push_back(e.toUtf8());
        out["events"] = std::move(events);
    }
    if (!mTransient.empty()) {
        json transient = json::object();
        for (const auto& [name, object] : mTransient) {
            const zt::genericValue* v = zt::ifimpl::wrappedValue(object.get());
            transient[name.toUtf8()] = v ? shownJson(*v, jsonKind::none) : json("<object>");
        }
        out["transient"] = std::move(transient);
    }
    path.pop_back();
    return out;
}

json demoObject::saved() const {
    json out = json::object();
    for (const member& m : mMembers) {
        switch (m.kind) {
        case memberKind::field: out[m.name.toUtf8()] = toJson(m.value, m.loaded); break;
        case memberKind::relation: {
            const demoObject* o = demoObjectOf(m.loadedObject.get());
            out[m.name.toUtf8()] = o ? o->saved() : json(nullptr);
            break;
        }
        case memberKind::collection: {
            json list = json::array();
            for (const unknownptr& e : m.elements) {
                const demoObject* o = demoObjectOf(e.get());
                list.push_back(o ? o->saved() : json(nullptr));
            }
            out[m.name.toUtf8()] = std::move(list);
            break;
        }
        }
    }
    return out;
}

// Builds the object of a JSON object; where names the member path for error messages.
unknownptr build(const hostState& state, const json& document, const std::string& where) {
    auto* object = new demoObject(state);
    object->addRef();
    unknownptr result = unknownptr::adopt(object->identity());
    for (const auto& [key, value] : document.items()) {
        const zt::string name = zt::string::fromUtf8(key);
        const std::string path = where.empty() ? key : where + "." + key;
        if (value.is_object()) {
            object->addRelation(name, build(state, value, path));
        } else if (value.is_array()) {
            bool scalars = true, objects = true;
            for (const json& e : value) {
                scalars = scalars && isScalar(e);
                objects = objects && e.is_object();
            }
            if (scalars) {
                valueArray elements;
                jsonKind kind = jsonKind::none;
                for (const json& e : value) elements.push_back(scalarValue(e, kind));
                object->addField(name, zt::genericValue::of(std::move(elements)), jsonKind::array);
            } else if (objects) {
                std::vector<unknownptr> elements;
                for (size_t i = 0; i < value.size(); ++i)
                    elements.push_back(build(state, value[i], path + "[" + std::to_string(i) + "]"));
                object->addCollection(name, std::move(elements));
            } else {
                throw demoError("member \"" + path + "\": an array holds either objects or values, not both, and no arrays");
            }
        } else {
            jsonKind kind = jsonKind::none;
            zt::genericValue v = scalarValue(value, kind);
            object->addField(name, std::move(v), kind);
        }
    }
    return result;
}

std::string scalarText(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// One line for an object or array of values, when it is short enough; else empty.
std::string inlineText(const json& j) {
    constexpr std::size_t kLineLimit = 100;
    if (!j.is_structured()) return scalarText(j);
    std::string out(1, j.is_object() ? '{' : '[');
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
        if (it->is_structured()) return std::string();
        if (!first) out += ", ";
        first = false;
        if (j.is_object()) out += scalarText(json(it.key())) + ": ";
        out += scalarText(*it);
        if (out.size() > kLineLimit) return std::string();
    }
    out += j.is_object() ? '}' : ']';
    return out;
}

// Keeps its open objects and arrays in a list rather than recursing: a field's value may nest
// as deeply as the stack of the walk that made the JSON allowed.
void formatInto(std::string& out, const json& value) {
    struct level {
        const json* j;
        json::const_iterator next;
    };
    std::vector<level> open;
    auto start = [&](const json& j) {
        const std::string one = inlineText(j);
        if (!one.empty()) {
            out += one;
            return;
        }
        out += j.is_object() ? "{\n" : "[\n";
        open.push_back({&j, j.begin()}); // not inline: holds at least one member
    };
    start(value);
    while (!open.empty()) {
        level& l = open.back();
        const std::size_t depth = open.size() - 1;
        if (l.next == l.j->end()) {
            out += "\n" + std::string(2 * depth, ' ') + (l.j->is_object() ? "}" : "]");
            open.pop_back();
            continue;
        }
        if (l.next != l.j->begin()) out += ",\n";
        out += std::string(2 * (depth + 1), ' ');
        if (l.j->is_object()) out += scalarText(json(l.next.key())) + ": ";
        const json& member = *l.next;
        ++l.next;
        start(member);
    }
}

zt::genericValue referenceTo(const unknownptr& object) {
    return zt::genericValue(new zt::genericValue::valueholder<unknownptr>(object));
}

} // namespace

demoHost::demoHost() : mState(std::make_shared<state>()) {}

demoHost::~demoHost() {
    mState->files.clear();
    // Whatever is still alive may hold the others in a cycle (a relation or transient data
    // back to an object): let every object drop its references, then release them.
    std::vector<demoBase*> rest(mState->live.begin(), mState->live.end());
    for (demoBase* o : rest) o->countUp();
    for (demoBase* o : rest) o->dropReferences();
    for (demoBase* o : rest) o->countDown();
    mState->messages = nullptr;
}

void demoHost::setMessageStream(std::ostream* out) { mState->messages = out; }

zt::genericValue demoHost::load(const std::string& path, const std::string& givenName) {
    const std::string& name = givenName.empty() ? path : givenName;
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(path), ec).lexically_normal();
    for (const state::loadedFile& f : mState->files)
        if (f.path == absolute) return referenceTo(f.object);

    std::ifstream in(absolute, std::ios::binary);
    if (!in) throw demoError("\"" + name + "\": cannot read the file");
    json document;
    try {
        document = json::parse(in);
    } catch (const json::exception& e) {
        throw demoError("\"" + name + "\": " + e.what());
    }
    if (!document.is_object()) throw demoError("\"" + name + "\": the file must hold one JSON object");
    unknownptr object;
    try {
        object = build(mState, document, std::string());
    } catch (const demoError& e) {
        throw demoError("\"" + name + "\": " + e.what());
    }
    mState->files.push_back({name, absolute, object});
    return referenceTo(object);
}

zt::genericValue demoHost::fromJson(const json& document) {
    if (!document.is_object()) throw demoError("a host object is made from a JSON object");
    return referenceTo(build(mState, document, std::string()));
}

json demoHost::dump() const {
    json out = json::array();
    for (const state::loadedFile& f : mState->files) {
        std::vector<const demoObject*> path;
        json entry = json::object();
        entry["file"] = f.name;
        json state = demoObjectOf(f.object.get())->dump(path);
        for (auto it = state.begin(); it != state.end(); ++it) entry[it.key()] = std::move(it.value());
        out.push_back(std::move(entry));
    }
    return out;
}

json demoHost::dumpObject(const zt::genericValue& reference) {
    const demoObject* o = demoObjectOf(reference);
    if (!o) return nullptr;
    std::vector<const demoObject*> path;
    return o->dump(path);
}

void demoHost::save() const {
    for (const state::loadedFile& f : mState->files) {
        const std::string text = format(demoObjectOf(f.object.get())->saved());
        // The whole file is replaced at once, through a link, keeping its mode and owner.
        if (!zt::replaceFileContent(zt::string(f.path.u16string()), text))
            throw demoError("\"" + f.name + "\": cannot write the file");
    }
}

json demoHost::savedForm(const zt::genericValue& reference) {
    const demoObject* o = demoObjectOf(reference);
    return o ? o->saved() : json(nullptr);
}

std::string demoHost::format(const json& value) {
    std::string out;
    formatInto(out, value);
    out += '\n';
    return out;
}

std::size_t demoHost::liveObjects() { return gLiveObjects.load(); }

} // namespace ztscript_tool
