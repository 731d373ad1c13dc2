// Host object interfaces.
//
// Scripts reach the host's objects through reference-counted interfaces that are looked up by
// name at run time. Every interface derives from zt::intrface::unknown; the host implements
// them, the engine only calls them. The order of the virtual operations of each interface is
// part of the contract between host and engine and must not change: operations that the engine
// never calls still keep their place (the "reserved" members below, which have harmless
// defaults so that a host need not implement them).
//
// An object reference in a script is a genericValue holding an interfaceptr<unknown> (script
// type name "unknownptr").
//
// Names of fields, relations and transient data slots are passed as zt::string.
#pragma once

#include <ztexception.h>
#include <ztstring.h>
#include <zttypes.h>
#include <ztvalue.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <typeinfo>
#include <utility>
#include <vector>

#if !defined(ZTSCRIPT_API)
#  if defined(_WIN32)
#    if defined(ZTSCRIPT_BUILD)
#      define ZTSCRIPT_API __declspec(dllexport)
#    else
#      define ZTSCRIPT_API __declspec(dllimport)
#    endif
#  else
#    define ZTSCRIPT_API __attribute__((visibility("default")))
#  endif
#endif

namespace zt {
// Provided by the date/time and condition parts of the utility library (ztdatetime.h,
// ztcondition.h); the interfaces only pass them by reference.
class date;
class time;
class timestamp;
namespace conditions {
class condition;
}
} // namespace zt

namespace zt::intrface {

// ---------------------------------------------------------------------------------------------
// The root interface

struct unknown {
    // 1: increments the reference count and returns the new count.
    virtual std::uint32_t addRef() = 0;
    // 2: decrements the count and returns the new count; at zero the object destroys itself.
    virtual std::uint32_t release() = 0;
    // 3, 4: out receives the requested interface with one reference for the caller, or null.
    // Non-zero on success, zero when the interface is not offered. out is set to null first.
    virtual int queryInterface(const char16_t* name, unknown*& out) const = 0;
    virtual int queryInterface(const char16_t* name, unknown*& out) = 0;

protected:
    // Objects are destroyed through release(), never through a pointer to an interface.
    ~unknown() = default;
};

// The name by which an interface type is asked for: the fully qualified type name,
// for example "zt::intrface::fieldaccess" (computed once per type).
ZTSCRIPT_API zt::string interfaceNameFromTypeName(const char* runtimeTypeName);

template <class T>
const char16_t* interfaceName() {
    static const zt::string name = interfaceNameFromTypeName(typeid(T).name());
    return name.c_str();
}

// ---------------------------------------------------------------------------------------------
// Smart pointers owning one reference

class ZTSCRIPT_API const_interfaceptrbase {
protected:
    // The interface of that name of p (const query), with one reference; null when p is null or
    // does not offer it.
    static unknown* query(const unknown* p, const char16_t* name);
    static void addRef(const unknown* p);
    static void release(const unknown* p);
};

class ZTSCRIPT_API interfaceptrbase {
protected:
    // The interface of that name of p (non-const query), with one reference; null when p is null
    // or does not offer it.
    static unknown* query(unknown* p, const char16_t* name);
    // The same through the const query.
    static unknown* queryConst(const unknown* p, const char16_t* name);
    static void addRef(unknown* p);
    static void release(unknown* p);
};

template <class T>
class interfaceptr : public interfaceptrbase {
public:
    interfaceptr() noexcept = default;
    interfaceptr(std::nullptr_t) noexcept {}
    // Asks p (const query) for T; a null p gives an empty pointer.
    explicit interfaceptr(const unknown* p) : mp(fromUnknown(queryConst(p, interfaceName<T>()))) {}
    interfaceptr(const interfaceptr& o) noexcept : mp(o.mp) {
        if (mp) interfaceptrbase::addRef(mp);
    }
    interfaceptr(interfaceptr&& o) noexcept : mp(o.mp) { o.mp = nullptr; }
    // Asks the object that o refers to (non-const query) for T; o keeps its own reference.
    template <class U>
    explicit interfaceptr(const interfaceptr<U>& o)
        : mp(o.isValid() ? fromUnknown(interfaceptrbase::query(const_cast<U*>(o.get()), interfaceName<T>()))
                         : nullptr) {}
    ~interfaceptr() { reset(); }

    interfaceptr& operator=(const interfaceptr& o) noexcept {
        if (o.mp) interfaceptrbase::addRef(o.mp);
        T* old = mp;
        mp = o.mp;
        if (old) interfaceptrbase::release(old);
        return *this;
    }
    interfaceptr& operator=(interfaceptr&& o) noexcept {
        if (this != &o) {
            T* old = mp;
            mp = o.mp;
            o.mp = nullptr;
            if (old) interfaceptrbase::release(old);
        }
        return *this;
    }

    // Takes over a reference that the caller holds (no addRef).
    static interfaceptr adopt(T* p) noexcept {
        interfaceptr r;
        r.mp = p;
        return r;
    }
    // Gives up the reference to the caller.
    T* detach() noexcept {
        T* p = mp;
        mp = nullptr;
        return p;
    }
    void reset() noexcept {
        T* old = mp;
        mp = nullptr;
        if (old) interfaceptrbase::release(old);
    }

    bool isValid() const noexcept { return mp != nullptr; }
    explicit operator bool() const noexcept { return mp != nullptr; }
    T* get() noexcept { return mp; }
    const T* get() const noexcept { return mp; }
    T* operator->() noexcept { return mp; }
    const T* operator->() const noexcept { return mp; }

    // Identity of the referenced interfaces.
    friend bool operator==(const interfaceptr& a, const interfaceptr& b) noexcept { return a.mp == b.mp; }
    friend bool operator!=(const interfaceptr& a, const interfaceptr& b) noexcept { return a.mp != b.mp; }

private:
    static T* fromUnknown(unknown* p) noexcept { return static_cast<T*>(p); }

    T* mp = nullptr;
};

template <class T>
class const_interfaceptr : public const_interfaceptrbase {
public:
    const_interfaceptr() noexcept = default;
    const_interfaceptr(std::nullptr_t) noexcept {}
    // Asks p (const query) for T; a null p gives an empty pointer.
    explicit const_interfaceptr(const unknown* p) : mp(static_cast<const T*>(query(p, interfaceName<T>()))) {}
    const_interfaceptr(const const_interfaceptr& o) noexcept : mp(o.mp) {
        if (mp) const_interfaceptrbase::addRef(mp);
    }
    const_interfaceptr(const_interfaceptr&& o) noexcept : mp(o.mp) { o.mp = nullptr; }
    // Asks the object that o refers to (const query) for T.
    template <class U>
    explicit const_interfaceptr(const interfaceptr<U>& o)
        : mp(o.isValid() ? static_cast<const T*>(query(o.get(), interfaceName<T>())) : nullptr) {}
    ~const_interfaceptr() { reset(); }

    const_interfaceptr& operator=(const const_interfaceptr& o) noexcept {
        if (o.mp) const_interfaceptrbase::addRef(o.mp);
        const T* old = mp;
        mp = o.mp;
        if (old) const_interfaceptrbase::release(old);
        return *this;
    }
    const_interfaceptr& operator=(const_interfaceptr&& o) noexcept {
        if (this != &o) {
            const T* old = mp;
            mp = o.mp;
            o.mp = nullptr;
            if (old) const_interfaceptrbase::release(old);
        }
        return *this;
    }

    void reset() noexcept {
        const T* old = mp;
        mp = nullptr;
        if (old) const_interfaceptrbase::release(old);
    }

    bool isValid() const noexcept { return mp != nullptr; }
    explicit operator bool() const noexcept { return mp != nullptr; }
    const T* get() const noexcept { return mp; }
    const T* operator->() const noexcept { return mp; }

private:
    const T* mp = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Host interfaces. Slot numbers count from 1 and include the four slots of unknown.

// Named fields of typed values.
struct fieldaccess : unknown {
    virtual bool hasField(const zt::string& name) = 0;                                 // 5
    virtual bool getField(const zt::string& name, zt::genericValue& out) = 0;          // 6
    virtual bool getField(const zt::string& name, zt::timestamp& out) = 0;             // 7
    virtual bool getField(const zt::string& name, zt::time& out) = 0;                  // 8
    virtual bool getField(const zt::string& name, zt::date& out) = 0;                  // 9
    virtual bool getField(const zt::string& name, zt::string& out) = 0;                // 10
    virtual bool getField(const zt::string& name, double& out) = 0;                    // 11
    virtual bool getField(const zt::string& name, float& out) = 0;                     // 12
    virtual bool getField(const zt::string& name, zt::ulong& out) = 0;                 // 13
    virtual bool getField(const zt::string& name, unsigned int& out) = 0;              // 14
    virtual bool getField(const zt::string& name, unsigned short& out) = 0;            // 15
    virtual bool getField(const zt::string& name, zt::slong& out) = 0;                 // 16
    virtual bool getField(const zt::string& name, int& out) = 0;                       // 17
    virtual bool getField(const zt::string& name, short& out) = 0;                     // 18
    virtual bool getField(const zt::string& name, bool& out) = 0;                      // 19
    virtual bool reservedFieldaccess20() { return false; }                             // 20
    virtual bool setField(const zt::string& name, const zt::timestamp& value) = 0;     // 21
    virtual bool setField(const zt::string& name, const zt::time& value) = 0;          // 22
    virtual bool setField(const zt::string& name, const zt::date& value) = 0;          // 23
    virtual bool setField(const zt::string& name, const zt::string& value) = 0;        // 24
    virtual bool setField(const zt::string& name, double value) = 0;                   // 25
    virtual bool setField(const zt::string& name, float value) = 0;                    // 26
    virtual bool setField(const zt::string& name, zt::ulong value) = 0;                // 27
    virtual bool setField(const zt::string& name, unsigned int value) = 0;             // 28
    virtual bool setField(const zt::string& name, unsigned short value) = 0;           // 29
    virtual bool setField(const zt::string& name, zt::slong value) = 0;                // 30
    virtual bool setField(const zt::string& name, short value) = 0;                    // 31
    virtual bool setField(const zt::string& name, bool value) = 0;                     // 32

protected:
    ~fieldaccess() = default;
};

// Fields that hold arrays.
struct arrayfieldaccess : unknown {
    virtual bool getArrayField(const zt::string& name, std::vector<zt::genericValue>& out) = 0; // 5

protected:
    ~arrayfieldaccess() = default;
};

// Display and editing properties of a field. The engine ignores the results of the setters.
struct propertyaccess : unknown {
    virtual bool setDisabled(const zt::string& name, bool disabled) = 0;        // 5
    virtual bool isDisabled(const zt::string& name) = 0;                        // 6
    virtual bool setConstant(const zt::string& name, bool constant) = 0;        // 7
    virtual bool isConstant(const zt::string& name) = 0;                        // 8
    virtual bool setLabel(const zt::string& name, const zt::string& label) = 0; // 9
    virtual void getLabel(zt::string& out, const zt::string& name) = 0;         // 10

protected:
    ~propertyaccess() = default;
};

// Change notifications.
struct triggerEvents : unknown {
    virtual void triggerFieldChange(const zt::string& name) = 0;     // 5
    virtual void triggerFieldInfoChange(const zt::string& name) = 0; // 6

protected:
    ~triggerEvents() = default;
};

// A parsed field restriction; null means that the field has no restriction.
// The same shared pointer as zt::conditions::conditionPtr (ztcondition.h).
using conditionPtr = std::shared_ptr<zt::conditions::condition>;

// Field restrictions.
struct restrictionsaccess : unknown {
    // 5 to 32: the host's own operations; the engine never calls them.
    virtual void reservedRestrictions5() {}
    virtual void reservedRestrictions6() {}
    virtual void reservedRestrictions7() {}
    virtual void reservedRestrictions8() {}
    virtual void reservedRestrictions9() {}
    virtual void reservedRestrictions10() {}
    virtual void reservedRestrictions11() {}
    virtual void reservedRestrictions12() {}
    virtual void reservedRestrictions13() {}
    virtual void reservedRestrictions14() {}
    virtual void reservedRestrictions15() {}
    virtual void reservedRestrictions16() {}
    virtual void reservedRestrictions17() {}
    virtual void reservedRestrictions18() {}
    virtual void reservedRestrictions19() {}
    virtual void reservedRestrictions20() {}
    virtual void reservedRestrictions21() {}
    virtual void reservedRestrictions22() {}
    virtual void reservedRestrictions23() {}
    virtual void reservedRestrictions24() {}
    virtual void reservedRestrictions25() {}
    virtual void reservedRestrictions26() {}
    virtual void reservedRestrictions27() {}
    virtual void reservedRestrictions28() {}
    virtual void reservedRestrictions29() {}
    virtual void reservedRestrictions30() {}
    virtual void reservedRestrictions31() {}
    virtual void reservedRestrictions32() {}
    virtual void setRestriction(const zt::string& name, const conditionPtr& restriction) = 0; // 33
    virtual void getRestriction(conditionPtr& out, const zt::string& name) = 0;              // 34

protected:
    ~restrictionsaccess() = default;
};

// Relations to other objects. Objects handed out carry one reference for the caller.
struct relationaccess : unknown {
    virtual bool hasRelation(const zt::string& name) = 0;                  // 5
    virtual bool getRelation(const zt::string& name, unknown*& out) = 0;   // 6
    virtual bool setRelation(const zt::string& name, unknown* object) = 0; // 7
    virtual bool reservedRelations8() { return false; }                    // 8
    virtual bool getRelations(const zt::string& name, unknown*& out) = 0;  // 9

protected:
    ~relationaccess() = default;
};

// Named slots where scripts park values on a host object. A host that keeps an object handed to
// setTransientData takes its own reference; a null object clears the slot.
struct transientdataaccess : unknown {
    virtual bool hasTransientData(const zt::string& name) = 0;                  // 5
    virtual bool setTransientData(const zt::string& name, unknown* object) = 0; // 6
    virtual bool getTransientData(const zt::string& name, unknown*& out) = 0;   // 7

protected:
    ~transientdataaccess() = default;
};

// Messages attached to an object. Severity: 2 error, 1 warning, 0 anything else.
struct messagesaccess : unknown {
    virtual bool addMessage(const zt::string& id, int severity, const zt::locString& text) = 0; // 5
    virtual bool removeMessage(const zt::string& id) = 0;                                      // 6

protected:
    ~messagesaccess() = default;
};

// A host collection walked by for_each: first(), then while !isEnd(): use the element, release
// it, next(). Elements are handed out with one reference for the caller (null when none).
struct forwardIterator : unknown {
    virtual void first(unknown*& out) = 0; // 5
    virtual void next(unknown*& out) = 0;  // 6
    virtual bool isEnd() = 0;              // 7

protected:
    ~forwardIterator() = default;
};

} // namespace zt::intrface

namespace zt::ifimpl {

// The reference count of an engine-side object. release() deletes the object at zero.
class ZTSCRIPT_API unknownImpl : public intrface::unknown {
public:
    std::uint32_t addRef() override;
    std::uint32_t release() override;
    // The current count (for tests and diagnostics).
    std::uint32_t refCount() const noexcept { return mRefCount.load(); }

protected:
    unknownImpl() = default;
    unknownImpl(const unknownImpl&) = delete;
    unknownImpl& operator=(const unknownImpl&) = delete;
    virtual ~unknownImpl();

private:
    std::atomic<std::uint32_t> mRefCount{0};
};

// A script value as an object: owns one genericValue and offers only "zt::intrface::unknown".
class ZTSCRIPT_API gvObjectImpl : public unknownImpl {
public:
    int queryInterface(const char16_t* name, unknown*& out) override;
    using unknownImpl::queryInterface;

    zt::genericValue& value() noexcept { return mValue; }
    const zt::genericValue& value() const noexcept { return mValue; }

protected:
    explicit gvObjectImpl(const zt::genericValue& value) : mValue(value) {}
    ~gvObjectImpl() override;

private:
    zt::genericValue mValue;
};

// The concrete class of an implementation: its const query forwards to the non-const one.
template <class Impl>
class intrfaceImpl final : public Impl {
public:
    template <class... A>
    explicit intrfaceImpl(A&&... args) : Impl(std::forward<A>(args)...) {}
    int queryInterface(const char16_t* name, intrface::unknown*& out) const override {
        return const_cast<intrfaceImpl*>(this)->queryInterface(name, out);
    }
    int queryInterface(const char16_t* name, intrface::unknown*& out) override {
        return Impl::queryInterface(name, out);
    }

private:
    ~intrfaceImpl() override = default;
};

// Wraps a copy of value into a new object; the pointer carries the first reference.
ZTSCRIPT_API intrface::unknown* wrapValue(const zt::genericValue& value);
// The value owned by o when o is a wrapped script value, else null.
ZTSCRIPT_API const zt::genericValue* wrappedValue(const intrface::unknown* o);

} // namespace zt::ifimpl
