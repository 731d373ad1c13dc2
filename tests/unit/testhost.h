// A test host: C++ objects that implement the host interfaces of zt::intrface, for tests that
// hand objects to scripts.
//
//   testhost::tracker host;                       // owns every object it creates
//   auto* rec = host.create<testhost::record>();  // reference count 0
//   rec->fields[u"name"] = zt::genericValue::of(zt::string(u"x"));
//   zt::genericValue ref = testhost::reference(rec);   // an object reference (count 1)
//   ...
//   EXPECT_EQ(host.references(), 0u);   // no leak once every value is gone
//   EXPECT_EQ(host.overReleases(), 0u); // no release below zero
//
// Objects are not freed when their count reaches zero: they are marked destroyed and kept until
// the tracker goes, so a release too many is counted instead of touching freed memory.
#pragma once

#include "testlib.h"

#include <ztscript.h>
#include <ztutils.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace testhost {

using zt::intrface::interfaceptr;
using zt::intrface::unknown;
using unknownptr = interfaceptr<unknown>;

class tracker;

// Reference counting shared by every test object.
class trackedObject {
public:
    virtual ~trackedObject() = default;
    std::uint32_t refCount() const { return mRefCount; }
    bool destroyed() const { return mDestroyed; }
    // Number of times the object reached zero references (more than 1 means it was revived).
    unsigned destructions() const { return mDestructions; }
    // Lets go of the references the object holds to others (called before the tracker frees
    // its objects).
    virtual void dropReferences() {}

protected:
    explicit trackedObject(tracker& owner) : mOwner(owner) {}
    std::uint32_t countUp();
    std::uint32_t countDown();

private:
    tracker& mOwner;
    std::uint32_t mRefCount = 0;
    bool mDestroyed = false;
    unsigned mDestructions = 0;
};

class tracker {
public:
    tracker() = default;
    ~tracker() {
        for (auto& o : mObjects) o->dropReferences();
    }
    tracker(const tracker&) = delete;
    tracker& operator=(const tracker&) = delete;

    template <class O, class... A>
    O* create(A&&... args) {
        auto object = std::make_unique<O>(*this, std::forward<A>(args)...);
        O* raw = object.get();
        mObjects.push_back(std::move(object));
        return raw;
    }

    // Sum of the reference counts of all objects: 0 when nothing holds a reference any more.
    std::uint64_t references() const {
        std::uint64_t n = 0;
        for (const auto& o : mObjects) n += o->refCount();
        return n;
    }
    // Releases of an object whose count was already zero.
    unsigned overReleases() const { return mOverReleases; }

private:
    friend class trackedObject;
    std::vector<std::unique_ptr<trackedObject>> mObjects;
    unsigned mOverReleases = 0;
};

inline std::uint32_t trackedObject::countUp() {
    mDestroyed = false;
    return ++mRefCount;
}

inline std::uint32_t trackedObject::countDown() {
    if (mRefCount == 0) {
        ++mOwner.mOverReleases;
        return 0;
    }
    if (--mRefCount == 0) {
        mDestroyed = true;
        ++mDestructions;
    }
    return mRefCount;
}

// An object implementing the interfaces I...; "zt::intrface::unknown" gives the first one's base.
template <class... I>
class hostObject : public trackedObject, public I... {
public:
    explicit hostObject(tracker& owner) : trackedObject(owner) {}

    std::uint32_t addRef() override { return countUp(); }
    std::uint32_t release() override { return countDown(); }
    int queryInterface(const char16_t* name, unknown*& out) const override {
        return const_cast<hostObject*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, unknown*& out) override {
        out = nullptr;
        const std::u16string_view wanted = name ? name : u"";
        if (wanted == zt::intrface::interfaceName<unknown>()) out = identity();
        else (match<I>(wanted, out) || ...);
        if (!out) return 0;
        addRef();
        return 1;
    }

    // The object's identity: its unknown pointer.
    unknown* identity() { return static_cast<std::tuple_element_t<0, std::tuple<I...>>*>(this); }

private:
    template <class T>
    bool match(std::u16string_view wanted, unknown*& out) {
        if (wanted != zt::intrface::interfaceName<T>()) return false;
        out = static_cast<T*>(this);
        return true;
    }
};

// An interface that the engine does not know: objects that offer nothing the engine asks for.
struct marker : unknown {
    virtual int tag() = 0;

protected:
    ~marker() = default;
};

class plainObject : public hostObject<marker> {
public:
    explicit plainObject(tracker& owner, int tagValue = 0) : hostObject(owner), mTag(tagValue) {}
    int tag() override { return mTag; }

private:
    int mTag;
};

// The text of a value in call logs: its text form, "empty", "ref" or "nullref".
inline std::string callText(const zt::genericValue& value) {
    if (value.isEmpty()) return "empty";
    if (const unknownptr* p = value.constPtrTo<unknownptr>()) return p->isValid() ? "ref" : "nullref";
    zt::string text;
    return value.get(text) ? text.toUtf8() : "?";
}

// A host record: fields, array fields, properties, events, relations, transient data, messages
// and restrictions.
//
// Every call of an interface operation is logged in calls, for example "hasField(a)",
// "getField<int>(a)", "setField<long>(a,5)", "setDisabled(a,true)", "getRelation(owner)".
// An operation named in failing returns false (after logging) without doing anything.
// Interfaces named in withheld ("zt::intrface::propertyaccess") are not offered.
class record : public hostObject<zt::intrface::fieldaccess, zt::intrface::arrayfieldaccess,
                                 zt::intrface::propertyaccess, zt::intrface::triggerEvents,
                                 zt::intrface::relationaccess, zt::intrface::transientdataaccess,
                                 zt::intrface::messagesaccess, zt::intrface::restrictionsaccess> {
public:
    explicit record(tracker& owner) : hostObject(owner) {}

    struct message {
        zt::string id;
        int severity;
        zt::string text;      // resolved when the message was added
        zt::locString source; // as the engine passed it
    };

    std::vector<std::string> calls;
    std::set<std::string> failing;
    std::vector<std::u16string> withheld;
    std::map<zt::string, zt::intrface::conditionPtr> restrictions;

    // The calls logged so far, separated by blanks; clears the log.
    std::string takeCalls() {
        std::string s;
        for (const auto& c : calls) s += (s.empty() ? "" : " ") + c;
        calls.clear();
        return s;
    }

    int queryInterface(const char16_t* name, unknown*& out) override {
        const std::u16string_view wanted = name ? name : u"";
        if (std::find(withheld.begin(), withheld.end(), wanted) == withheld.end()) return hostObject::queryInterface(name, out);
        out = nullptr;
        return 0;
    }
    using hostObject::queryInterface;

    std::map<zt::string, zt::genericValue> fields;
    std::map<zt::string, std::vector<zt::genericValue>> arrayFields;
    std::map<zt::string, bool> disabled, constant;
    std::map<zt::string, zt::string> labels;
    std::map<zt::string, unknownptr> relations;
    std::map<zt::string, unknownptr> relationLists;
    std::map<zt::string, unknownptr> transientData;
    std::vector<message> messages;

    void dropReferences() override {
        relations.clear();
        relationLists.clear();
        transientData.clear();
        fields.clear();
        arrayFields.clear();
        restrictions.clear();
    }

    // fieldaccess
    bool hasField(const zt::string& name) override {
        if (!log("hasField", name)) return false;
        return fields.count(name) != 0;
    }
    bool getField(const zt::string& name, zt::genericValue& out) override {
        if (!log("getField<generic>", name)) return false;
        auto it = fields.find(name);
        if (it == fields.end()) return false;
        out = it->second;
        return true;
    }
    bool getField(const zt::string& name, zt::timestamp& out) override { return read("timestamp", name, out); }
    bool getField(const zt::string& name, zt::time& out) override { return read("time", name, out); }
    bool getField(const zt::string& name, zt::date& out) override { return read("date", name, out); }
    bool getField(const zt::string& name, zt::string& out) override { return read("string", name, out); }
    bool getField(const zt::string& name, double& out) override { return read("double", name, out); }
    bool getField(const zt::string& name, float& out) override { return read("float", name, out); }
    bool getField(const zt::string& name, zt::ulong& out) override { return read("ulong", name, out); }
    bool getField(const zt::string& name, unsigned int& out) override { return read("uint", name, out); }
    bool getField(const zt::string& name, unsigned short& out) override { return read("ushort", name, out); }
    bool getField(const zt::string& name, zt::slong& out) override { return read("long", name, out); }
    bool getField(const zt::string& name, int& out) override { return read("int", name, out); }
    bool getField(const zt::string& name, short& out) override { return read("short", name, out); }
    bool getField(const zt::string& name, bool& out) override { return read("bool", name, out); }
    bool setField(const zt::string& name, const zt::timestamp& value) override { return write("timestamp", name, value); }
    bool setField(const zt::string& name, const zt::time& value) override { return write("time", name, value); }
    bool setField(const zt::string& name, const zt::date& value) override { return write("date", name, value); }
    bool setField(const zt::string& name, const zt::string& value) override { return write("string", name, value); }
    bool setField(const zt::string& name, double value) override { return write("double", name, value); }
    bool setField(const zt::string& name, float value) override { return write("float", name, value); }
    bool setField(const zt::string& name, zt::ulong value) override { return write("ulong", name, value); }
    bool setField(const zt::string& name, unsigned int value) override { return write("uint", name, value); }
    bool setField(const zt::string& name, unsigned short value) override { return write("ushort", name, value); }
    bool setField(const zt::string& name, zt::slong value) override { return write("long", name, value); }
    bool setField(const zt::string& name, short value) override { return write("short", name, value); }
    bool setField(const zt::string& name, bool value) override { return write("bool", name, value); }

    // arrayfieldaccess
    bool getArrayField(const zt::string& name, std::vector<zt::genericValue>& out) override {
        if (!log("getArrayField", name)) return false;
        auto it = arrayFields.find(name);
        if (it == arrayFields.end()) return false;
        out = it->second;
        return true;
    }

    // propertyaccess
    bool setDisabled(const zt::string& name, bool value) override {
        if (!log("setDisabled", name, value ? "true" : "false")) return false;
        disabled[name] = value;
        return true;
    }
    bool isDisabled(const zt::string& name) override {
        if (!log("isDisabled", name)) return false;
        return disabled[name];
    }
    bool setConstant(const zt::string& name, bool value) override {
        if (!log("setConstant", name, value ? "true" : "false")) return false;
        constant[name] = value;
        return true;
    }
    bool isConstant(const zt::string& name) override {
        if (!log("isConstant", name)) return false;
        return constant[name];
    }
    bool setLabel(const zt::string& name, const zt::string& label) override {
        if (!log("setLabel", name, label.toUtf8())) return false;
        labels[name] = label;
        return true;
    }
    void getLabel(zt::string& out, const zt::string& name) override {
        log("getLabel", name);
        out = labels[name];
    }

    // triggerEvents
    void triggerFieldChange(const zt::string& name) override { log("triggerFieldChange", name); }
    void triggerFieldInfoChange(const zt::string& name) override { log("triggerFieldInfoChange", name); }

    // relationaccess: objects handed out carry a reference for the caller.
    bool hasRelation(const zt::string& name) override {
        if (!log("hasRelation", name)) return false;
        return relations.count(name) != 0 || relationLists.count(name) != 0;
    }
    bool getRelation(const zt::string& name, unknown*& out) override {
        out = nullptr;
        if (!log("getRelation", name)) return false;
        return handOut(relations, name, out);
    }
    bool setRelation(const zt::string& name, unknown* object) override {
        if (!log("setRelation", name, object ? "ref" : "null")) return false;
        relations[name] = unknownptr(static_cast<const unknown*>(object));
        return true;
    }
    bool getRelations(const zt::string& name, unknown*& out) override {
        out = nullptr;
        if (!log("getRelations", name)) return false;
        return handOut(relationLists, name, out);
    }

    // transientdataaccess: the record takes its own reference of what it keeps.
    bool hasTransientData(const zt::string& name) override {
        if (!log("hasTransientData", name)) return false;
        return transientData.count(name) != 0;
    }
    bool setTransientData(const zt::string& name, unknown* object) override {
        if (!log("setTransientData", name, object ? "ref" : "null")) return false;
        if (!object) {
            transientData.erase(name);
            return true;
        }
        object->addRef();
        transientData[name] = unknownptr::adopt(object);
        return true;
    }
    bool getTransientData(const zt::string& name, unknown*& out) override {
        out = nullptr;
        if (!log("getTransientData", name)) return false;
        return handOut(transientData, name, out);
    }

    // messagesaccess
    bool addMessage(const zt::string& id, int severity, const zt::locString& text) override {
        if (!log("addMessage", id, std::to_string(severity))) return false;
        messages.push_back({id, severity, text.text(), text});
        return true;
    }
    bool removeMessage(const zt::string& id) override {
        if (!log("removeMessage", id)) return false;
        std::erase_if(messages, [&](const message& m) { return m.id == id; });
        return true;
    }

    // restrictionsaccess
    void setRestriction(const zt::string& name, const zt::intrface::conditionPtr& restriction) override {
        log("setRestriction", name, restriction ? "condition" : "null");
        if (restriction) restrictions[name] = restriction;
        else restrictions.erase(name);
    }
    void getRestriction(zt::intrface::conditionPtr& out, const zt::string& name) override {
        log("getRestriction", name);
        auto it = restrictions.find(name);
        out = it == restrictions.end() ? nullptr : it->second;
    }

private:
    // Logs "op(name[,extra])"; false when op is one of the failing operations.
    bool log(const std::string& op, const zt::string& name, const std::string& extra = std::string()) {
        calls.push_back(op + "(" + name.toUtf8() + (extra.empty() ? "" : "," + extra) + ")");
        const std::string base = op.substr(0, op.find('<'));
        return failing.count(op) == 0 && failing.count(base) == 0;
    }
    template <class T>
    bool read(const char* type, const zt::string& name, T& out) {
        if (!log(std::string("getField<") + type + ">", name)) return false;
        auto it = fields.find(name);
        return it != fields.end() && it->second.get(out);
    }
    template <class T>
    bool write(const char* type, const zt::string& name, const T& value) {
        zt::genericValue v = zt::genericValue::of(value);
        if (!log(std::string("setField<") + type + ">", name, callText(v))) return false;
        fields[name] = std::move(v);
        return true;
    }
    static bool handOut(std::map<zt::string, unknownptr>& slots, const zt::string& name, unknown*& out) {
        out = nullptr;
        auto it = slots.find(name);
        if (it == slots.end()) return false;
        if (it->second.isValid()) {
            out = it->second.get();
            out->addRef();
        }
        return true;
    }
};

// A host collection walked with forwardIterator; the elements may be null.
class collection : public hostObject<zt::intrface::forwardIterator> {
public:
    explicit collection(tracker& owner) : hostObject(owner) {}

    std::vector<unknownptr> elements;
    unsigned firstCalls = 0, nextCalls = 0, isEndCalls = 0;
    unsigned failAtNext = 0; // next() throws on that call (0: never)

    void dropReferences() override { elements.clear(); }

    void add(unknown* element) { elements.push_back(unknownptr(static_cast<const unknown*>(element))); }
    void addNull() { elements.emplace_back(); }

    void first(unknown*& out) override {
        ++firstCalls;
        mPosition = 0;
        current(out);
    }
    void next(unknown*& out) override {
        ++nextCalls;
        if (failAtNext && nextCalls == failAtNext) throw std::runtime_error("host failure");
        if (mPosition < elements.size()) ++mPosition;
        current(out);
    }
    bool isEnd() override {
        ++isEndCalls;
        return mPosition >= elements.size();
    }

private:
    void current(unknown*& out) {
        out = nullptr;
        if (mPosition < elements.size() && elements[mPosition].isValid()) {
            out = elements[mPosition].get();
            out->addRef();
        }
    }
    size_t mPosition = 0;
};

// An object reference value for a script (takes one reference through the object's query).
inline zt::genericValue reference(unknown* object) {
    return zt::genericValue(
        new zt::genericValue::valueholder<unknownptr>(unknownptr(static_cast<const unknown*>(object))));
}
template <class O>
zt::genericValue reference(O* object) {
    return reference(object->identity());
}

// The object that a script value refers to (null when it is none or the null reference).
inline const unknown* referenced(const zt::genericValue& value) {
    const unknownptr* p = value.constPtrTo<unknownptr>();
    return p ? p->get() : nullptr;
}

// A script context with host objects as its variables: "rec" (a record), "other" (a plain
// object tagged 7) and "list" (an empty array). run() checks that a statement gives back every
// reference it took.
struct scene {
    tracker host; // first: the objects outlive the references that the context holds
    zt::script::scriptcontext context;
    record* rec = host.create<record>();
    plainObject* other = host.create<plainObject>(7);

    scene() {
        context.createVariable(zt::scString(u"rec"), reference(rec));
        context.createVariable(zt::scString(u"other"), reference(other));
        context.createVariable(zt::scString(u"list"), zt::genericValue::of(std::vector<zt::genericValue>()));
    }
    ~scene() { EXPECT_EQ(host.overReleases(), 0u); }

    // Parses and runs text; the references the host holds are the same afterwards, but for one
    // of the result's own and kept more (fewer when negative) that the host keeps.
    zt::genericValue run(const zt::string& text, int kept = 0) {
        const auto before = host.references();
        zt::genericValue result;
        try {
            result = testlib::run(text, context);
        } catch (...) {
            EXPECT_EQ(host.references(), before) << "after the failure of " << text.toUtf8();
            throw;
        }
        const auto held = referenced(result) ? 1u : 0u;
        EXPECT_EQ(host.references(), before + held + kept) << text.toUtf8();
        return result;
    }
    // The failure's messages, one per line ("" when text runs through).
    std::string error(const zt::string& text) {
        try {
            run(text);
        } catch (const zt::exception& e) {
            return testlib::chainText(e);
        }
        return "";
    }
};

} // namespace testhost
