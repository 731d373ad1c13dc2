// The host-object kit: a base class that offers every host interface of ztinterfaces.h with
// sensible defaults, so that a host object is a class with its fields and little else.
//
//     class invoice : public zt::script::hostObject {
//     public:
//         double amount = 0;
//         zt::string customer;
//         invoice() {
//             bindField(u"amount", amount);        // scripts read and write the member
//             bindField(u"customer", customer);
//         }
//     };
//
//     auto inv = zt::script::makeHostObject<invoice>();   // the host's reference
//     std::vector<zt::genericValue> args{inv.value()};     // a script's object argument
//     ... executeFunction(..., args, result) ...
//     inv->messages(), inv->label(u"amount"), inv->amount  // what the script left
//
// What the defaults do:
// - Fields: a bound field reads and writes its member, converting through the type conversion
//   manager (a script's obj_set<string>(o, "amount", "12.5") stores 12.5 into a double member; a
//   value that does not convert makes the setter fail). Other names are free fields that the
//   object holds itself: setValue() makes one, and a script makes one with obj_set's create
//   flag. Override readField / writeField / hasField for fields kept elsewhere.
// - Array fields: a field whose value is a std::vector<zt::genericValue> (bound or free).
// - Properties: every field starts enabled, not constant, and labelled with its own name; the
//   object keeps what scripts set (label(), isDisabled(), isConstant()).
// - Messages: kept in messages(), in the order added; a message replaces one with its id.
// - Relations: setRelationObject() declares one (null: declared, pointing at nothing); scripts
//   read it and may point it elsewhere. Collections of related objects (getRelations) are
//   refused unless a class overrides getRelations.
// - Transient data and restrictions: kept per name.
// - Change events (triggerFieldChange, triggerFieldInfoChange): ignored unless overridden.
//
// Objects are reference-counted and delete themselves when the last reference goes; hold them
// through hostRef (makeHostObject gives one). The count is thread-safe; the fields are not: an
// object is used by one call at a time, or the host guards it.
#pragma once

#include "ztscript.h"

#include <ztdatetime.h>

#include <atomic>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace zt::script {

class hostObject : public intrface::fieldaccess,
                   public intrface::arrayfieldaccess,
                   public intrface::propertyaccess,
                   public intrface::triggerEvents,
                   public intrface::restrictionsaccess,
                   public intrface::relationaccess,
                   public intrface::transientdataaccess,
                   public intrface::messagesaccess {
public:
    struct message {
        zt::string id;
        int severity = 0;     // 2 error, 1 warning, 0 information
        zt::locString text;   // text.text() gives it in the current language
    };

    hostObject() = default;
    hostObject(const hostObject&) = delete;
    hostObject& operator=(const hostObject&) = delete;

    // --- What the host uses

    // Scripts read and write member under name (member must outlive the object's use).
    template <class T>
    void bindField(const zt::string& name, T& member) {
        bound b{name, &member, &readAs<T>, &writeAs<T>};
        for (bound& existing : mBound)
            if (existing.name == name) {
                existing = b;
                return;
            }
        mBound.push_back(b);
    }
    // Sets a field: a bound one converts value into its member, any other name becomes (or
    // stays) a free field holding value. False when the value does not convert.
    bool setValue(const zt::string& name, const zt::genericValue& value) { return writeField(name, value); }
    // The field's value; an empty value when there is no such field.
    zt::genericValue value(const zt::string& name) {
        zt::genericValue out;
        readField(name, out);
        return out;
    }

    const std::vector<message>& messages() const { return mMessages; }
    // The field's label: the one a script set, else the name itself.
    zt::string label(const zt::string& name) const {
        const fieldState* s = state(name);
        return s && s->labelled ? s->label : name;
    }
    // Declares a relation and points it at object (which may be null); the object keeps a
    // reference.
    void setRelationObject(const zt::string& name, intrface::unknown* object) {
        slotFor(mRelations, name) = intrface::interfaceptr<intrface::unknown>(static_cast<const intrface::unknown*>(object));
    }
    // The object as a script value (one more reference, held by the value).
    zt::genericValue value() {
        return zt::genericValue(new zt::genericValue::valueholder<intrface::interfaceptr<intrface::unknown>>(
            intrface::interfaceptr<intrface::unknown>(identity())));
    }
    // The object's identity: the pointer that queryInterface hands out for "unknown".
    intrface::unknown* identity() { return static_cast<intrface::fieldaccess*>(this); }
    std::uint32_t references() const { return mReferences.load(); }

    // --- Field access: override these three for fields kept elsewhere

    // The value of the field; false when there is none.
    virtual bool readField(const zt::string& name, zt::genericValue& out) {
        if (const bound* b = boundField(name)) return b->read(b->member, out);
        if (const zt::genericValue* v = freeField(name)) {
            out = *v;
            return true;
        }
        return false;
    }
    // Stores value (converted to the field's type where it has one); false when it does not fit.
    virtual bool writeField(const zt::string& name, const zt::genericValue& value) {
        if (const bound* b = boundField(name)) return b->write(b->member, value);
        for (auto& f : mFree)
            if (f.first == name) {
                f.second = value;
                return true;
            }
        mFree.emplace_back(name, value);
        return true;
    }
    bool hasField(const zt::string& name) override { return boundField(name) || freeField(name); }

    // --- The interfaces (the engine calls these)

    std::uint32_t addRef() override { return ++mReferences; }
    std::uint32_t release() override {
        const std::uint32_t left = --mReferences;
        if (left == 0) delete this;
        return left;
    }
    int queryInterface(const char16_t* name, intrface::unknown*& out) const override {
        return const_cast<hostObject*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, intrface::unknown*& out) override {
        out = nullptr;
        const std::u16string_view wanted(name ? name : u"");
        if (wanted == intrface::interfaceName<intrface::unknown>()) out = identity();
        else if (!offer<intrface::fieldaccess>(wanted, out) && !offer<intrface::arrayfieldaccess>(wanted, out) &&
                 !offer<intrface::propertyaccess>(wanted, out) && !offer<intrface::triggerEvents>(wanted, out) &&
                 !offer<intrface::restrictionsaccess>(wanted, out) && !offer<intrface::relationaccess>(wanted, out) &&
                 !offer<intrface::transientdataaccess>(wanted, out) && !offer<intrface::messagesaccess>(wanted, out))
            return 0;
        out->addRef();
        return 1;
    }

    bool getField(const zt::string& name, zt::genericValue& out) override { return readField(name, out); }
    bool getField(const zt::string& name, zt::timestamp& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, zt::time& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, zt::date& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, zt::string& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, double& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, float& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, zt::ulong& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, unsigned int& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, unsigned short& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, zt::slong& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, int& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, short& out) override { return readTyped(name, out); }
    bool getField(const zt::string& name, bool& out) override { return readTyped(name, out); }
    bool setField(const zt::string& name, const zt::timestamp& v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, const zt::time& v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, const zt::date& v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, const zt::string& v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, double v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, float v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, zt::ulong v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, unsigned int v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, unsigned short v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, zt::slong v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, short v) override { return writeField(name, of(v)); }
    bool setField(const zt::string& name, bool v) override { return writeField(name, of(v)); }

    bool getArrayField(const zt::string& name, std::vector<zt::genericValue>& out) override {
        zt::genericValue v;
        const auto* array = readField(name, v) ? v.constPtrTo<std::vector<zt::genericValue>>() : nullptr;
        if (!array) return false;
        out = *array;
        return true;
    }

    bool setDisabled(const zt::string& name, bool disabled) override {
        stateFor(name).disabled = disabled;
        return true;
    }
    bool isDisabled(const zt::string& name) override {
        const fieldState* s = state(name);
        return s && s->disabled;
    }
    bool setConstant(const zt::string& name, bool constant) override {
        stateFor(name).constant = constant;
        return true;
    }
    bool isConstant(const zt::string& name) override {
        const fieldState* s = state(name);
        return s && s->constant;
    }
    bool setLabel(const zt::string& name, const zt::string& text) override {
        fieldState& s = stateFor(name);
        s.label = text;
        s.labelled = true;
        return true;
    }
    void getLabel(zt::string& out, const zt::string& name) override { out = label(name); }

    void triggerFieldChange(const zt::string&) override {}
    void triggerFieldInfoChange(const zt::string&) override {}

    void setRestriction(const zt::string& name, const intrface::conditionPtr& restriction) override {
        slotFor(mRestrictions, name) = restriction;
    }
    void getRestriction(intrface::conditionPtr& out, const zt::string& name) override {
        const intrface::conditionPtr* r = find(mRestrictions, name);
        out = r ? *r : nullptr;
    }

    bool hasRelation(const zt::string& name) override { return find(mRelations, name) != nullptr; }
    bool getRelation(const zt::string& name, intrface::unknown*& out) override { return handOut(mRelations, name, out); }
    bool setRelation(const zt::string& name, intrface::unknown* object) override {
        if (!hasRelation(name)) return false;
        setRelationObject(name, object);
        return true;
    }
    bool getRelations(const zt::string&, intrface::unknown*& out) override {
        out = nullptr;
        return false;
    }

    bool hasTransientData(const zt::string& name) override { return find(mTransient, name) != nullptr; }
    bool setTransientData(const zt::string& name, intrface::unknown* object) override {
        if (!object) {
            std::erase_if(mTransient, [&](const auto& e) { return e.first == name; });
            return true;
        }
        slotFor(mTransient, name) = intrface::interfaceptr<intrface::unknown>(static_cast<const intrface::unknown*>(object));
        return true;
    }
    bool getTransientData(const zt::string& name, intrface::unknown*& out) override {
        return handOut(mTransient, name, out);
    }

    bool addMessage(const zt::string& id, int severity, const zt::locString& text) override {
        for (message& m : mMessages)
            if (m.id == id) {
                m = message{id, severity, text};
                return true;
            }
        mMessages.push_back(message{id, severity, text});
        return true;
    }
    bool removeMessage(const zt::string& id) override {
        std::erase_if(mMessages, [&](const message& m) { return m.id == id; });
        return true;
    }

protected:
    virtual ~hostObject() = default;

private:
    struct bound {
        zt::string name;
        void* member;
        bool (*read)(const void* member, zt::genericValue& out);
        bool (*write)(void* member, const zt::genericValue& value);
    };
    struct fieldState {
        zt::string name;
        zt::string label;
        bool labelled = false;
        bool disabled = false;
        bool constant = false;
    };
    template <class V>
    using slots = std::vector<std::pair<zt::string, V>>;

    template <class T>
    static bool readAs(const void* member, zt::genericValue& out) {
        out.replace(*static_cast<const T*>(member));
        return true;
    }
    template <class T>
    static bool writeAs(void* member, const zt::genericValue& value) {
        T converted{};
        if (!value.get(converted)) return false;
        *static_cast<T*>(member) = std::move(converted);
        return true;
    }
    template <class T>
    static zt::genericValue of(const T& v) {
        return zt::genericValue::of(v);
    }
    template <class T>
    bool readTyped(const zt::string& name, T& out) {
        zt::genericValue v;
        return readField(name, v) && v.get(out);
    }
    template <class I>
    bool offer(std::u16string_view wanted, intrface::unknown*& out) {
        if (wanted != intrface::interfaceName<I>()) return false;
        out = static_cast<I*>(this);
        return true;
    }

    const bound* boundField(const zt::string& name) const {
        for (const bound& b : mBound)
            if (b.name == name) return &b;
        return nullptr;
    }
    const zt::genericValue* freeField(const zt::string& name) const { return find(mFree, name); }
    const fieldState* state(const zt::string& name) const {
        for (const fieldState& s : mStates)
            if (s.name == name) return &s;
        return nullptr;
    }
    fieldState& stateFor(const zt::string& name) {
        for (fieldState& s : mStates)
            if (s.name == name) return s;
        mStates.emplace_back();
        mStates.back().name = name;
        return mStates.back();
    }
    template <class V>
    static const V* find(const slots<V>& list, const zt::string& name) {
        for (const auto& e : list)
            if (e.first == name) return &e.second;
        return nullptr;
    }
    template <class V>
    static V& slotFor(slots<V>& list, const zt::string& name) {
        for (auto& e : list)
            if (e.first == name) return e.second;
        list.emplace_back(name, V());
        return list.back().second;
    }
    // Hands out the slot's object with a reference for the caller (null for an empty slot).
    static bool handOut(const slots<intrface::interfaceptr<intrface::unknown>>& list, const zt::string& name,
                        intrface::unknown*& out) {
        out = nullptr;
        const auto* p = find(list, name);
        if (!p) return false;
        if (p->isValid()) {
            out = const_cast<intrface::unknown*>(p->get());
            out->addRef();
        }
        return true;
    }

    std::atomic<std::uint32_t> mReferences{0};
    std::vector<bound> mBound;
    slots<zt::genericValue> mFree;
    std::vector<fieldState> mStates;
    std::vector<message> mMessages;
    slots<intrface::interfaceptr<intrface::unknown>> mRelations;
    slots<intrface::interfaceptr<intrface::unknown>> mTransient;
    slots<intrface::conditionPtr> mRestrictions;
};

// The host's reference to one of its objects (T derives from hostObject).
template <class T>
class hostRef {
public:
    hostRef() noexcept = default;
    // Takes a reference of its own.
    explicit hostRef(T* object) noexcept : mp(object) {
        if (mp) mp->addRef();
    }
    hostRef(const hostRef& o) noexcept : hostRef(o.mp) {}
    hostRef(hostRef&& o) noexcept : mp(std::exchange(o.mp, nullptr)) {}
    hostRef& operator=(hostRef o) noexcept {
        std::swap(mp, o.mp);
        return *this;
    }
    ~hostRef() {
        if (mp) mp->release();
    }

    T* get() const noexcept { return mp; }
    T* operator->() const noexcept { return mp; }
    T& operator*() const noexcept { return *mp; }
    explicit operator bool() const noexcept { return mp != nullptr; }
    // The object as a script value (an object reference).
    zt::genericValue value() const { return mp ? mp->value() : zt::genericValue(); }

private:
    T* mp = nullptr;
};

template <class T, class... A>
hostRef<T> makeHostObject(A&&... args) {
    return hostRef<T>(new T(std::forward<A>(args)...));
}

// The host object a script value refers to, when it is one of class T; null otherwise.
template <class T>
T* hostObjectOf(const zt::genericValue& value) {
    const auto* ref = value.constPtrTo<intrface::interfaceptr<intrface::unknown>>();
    if (!ref || !ref->isValid()) return nullptr;
    return dynamic_cast<T*>(const_cast<intrface::unknown*>(ref->get()));
}

} // namespace zt::script
