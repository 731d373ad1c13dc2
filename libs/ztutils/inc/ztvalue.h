// The value model: genericValue with its holder family, the type conversion manager,
// interned name keys (scString) and name-to-value sets (genericSet).
#pragma once

#include "ztexport.h"
#include "ztstack.h"
#include "ztstring.h"
#include "zttypes.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace zt {

// ---------------------------------------------------------------------------------------------
// Type conversion

namespace typeconvert {

// One conversion from Src to Dst.
class ZTUTILS_API typeConverterBase {
public:
    virtual ~typeConverterBase();
    virtual const std::type_info& sourceType() const = 0;
    virtual const std::type_info& destinationType() const = 0;
    virtual bool convert(void* dst, const void* src, int flags, const char16_t* format) const = 0;
};

// A converter around a plain function.
template <class Src, class Dst>
class typeConverter : public typeConverterBase {
public:
    using function = bool (*)(Dst& dst, const Src& src);
    explicit typeConverter(function f) : mFunction(f) {}
    const std::type_info& sourceType() const override { return typeid(Src); }
    const std::type_info& destinationType() const override { return typeid(Dst); }
    bool convert(void* dst, const void* src, int, const char16_t*) const override {
        return mFunction(*static_cast<Dst*>(dst), *static_cast<const Src*>(src));
    }

private:
    function mFunction;
};

} // namespace typeconvert

// Process-wide registry of conversions between native types. Conversions between text and
// every scalar type, and between the numeric types and bool, are built in.
class ZTUTILS_API typeConversionManager {
public:
    static typeConversionManager& instance();

    // Converts src (of srcType) into dst (of dstType). False when there is no conversion,
    // when it fails, or when dst is null (a read-only target).
    bool convert(const std::type_info& dstType, void* dst, const std::type_info& srcType, const void* src,
                 int flags, const char16_t* format) const;
    bool canConvert(const std::type_info& dstType, const std::type_info& srcType) const;
    // Changes whenever a converter is added or removed: a result converted earlier still holds
    // while the generation is the same.
    std::uint64_t generation() const noexcept;
    // The same, read in place (literal operands ask on every execution).
    static std::uint64_t currentGeneration() noexcept { return sGeneration.load(std::memory_order_acquire); }
    // Whether every conversion between two of the built-in number types, and from one of them
    // to text, is still the built-in one (no host replaced or removed one): a reader may then
    // convert a number itself (a cast, appendDecimal).
    static bool numbersBuiltIn() noexcept { return sNumbersBuiltIn.load(std::memory_order_acquire); }

    // The converter registered for the pair, or null (lets a host put back one it replaced).
    const typeconvert::typeConverterBase* converter(const std::type_info& dstType,
                                                    const std::type_info& srcType) const;
    // Registers a converter (it must outlive its registration); replaces one for the same pair.
    void add(const typeconvert::typeConverterBase* converter);
    void remove(const typeconvert::typeConverterBase* converter);

    typeConversionManager(const typeConversionManager&) = delete;
    typeConversionManager& operator=(const typeConversionManager&) = delete;

private:
    typeConversionManager();
    ~typeConversionManager();
    struct impl;
    impl* mpImpl;
    static std::atomic<bool> sNumbersBuiltIn;
    static std::atomic<std::uint64_t> sGeneration;
};

// Text forms used by the conversion manager (also handy for callers).
ZTUTILS_API string toText(double v);
ZTUTILS_API string toText(float v);

// Appends the decimal digits of an integer (an arithmetic type, not bool), as its built-in
// conversion to text writes them.
template <class T>
void appendDecimal(string& dst, T v) {
    char digits[24] = {}; // (set: the compiler cannot see that to_chars writes what is read)
    const char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    // Widened through a buffer: appending the char range would build a temporary text first.
    char16_t wide[sizeof digits];
    const auto n = static_cast<std::size_t>(end - digits);
    for (std::size_t i = 0; i < n; ++i) wide[i] = static_cast<char16_t>(digits[i]);
    dst.append(wide, n);
}

// ---------------------------------------------------------------------------------------------
// genericValue

class genericValue;

// Containers whose elements are values again (arrays and maps of scripts). Walks over such a
// value recurse once per level of nesting, so they check the stack before each level.
template <class T>
struct nestsValues : std::false_type {};
template <class A>
struct nestsValues<std::vector<genericValue, A>> : std::true_type {};
template <class K, class C, class A>
struct nestsValues<std::map<K, genericValue, C, A>> : std::true_type {};

// Throws valueNestingException (ztexception.h) for the walk named action.
[[noreturn]] ZTUTILS_API void throwValueNesting(const char16_t* action);

// Called by a walk over nested values before each level: fails with valueNestingException when
// the stack is running short.
inline void checkValueNesting(const char16_t* action) {
    if (stackIsShort()) throwValueNesting(action);
}

// Whether two type_info objects name the same type. Usually they are the same object; where
// they are not (one per module on Windows), the names decide, and names that differ in their
// first letter are told apart without comparing them whole.
ZTUTILS_API bool sameTypeByName(const std::type_info& a, const std::type_info& b) noexcept;
#if defined(__GNUC__) || defined(__clang__)
[[gnu::always_inline]]
#endif
inline bool sameType(const std::type_info& a, const std::type_info& b) noexcept {
    return &a == &b || (a.name()[0] == b.name()[0] && sameTypeByName(a, b));
}

class ZTUTILS_API genericValue {
public:
    class ZTUTILS_API holderbase {
    public:
        virtual ~holderbase();
        virtual holderbase* clone() const = 0;
        // A copy built at place (a genericValue's own storage) when the held value fits there,
        // else on the heap like clone().
        virtual holderbase* cloneInto(void* place) const {
            (void)place;
            return clone();
        }
        virtual bool assignTo(holderbase& target) const = 0;
        virtual bool assignFrom(const holderbase& source) = 0;
        virtual const std::type_info& type() const = 0;
        virtual void* valuePtr() = 0;
        virtual const void* constValuePtr() const = 0;
        virtual bool isReference() const = 0;
        // Whether this holder owns a container of values (see nestsValues).
        virtual bool nestsValues() const noexcept { return false; }
        // Moves the elements of an owned container that are containers themselves to out.
        virtual void takeNested(std::vector<genericValue>& out) { (void)out; }

        // Pooled storage for holders.
        static void* allocate(std::size_t size);
        static void deallocate(void* p) noexcept;
        static void* operator new(std::size_t size) { return allocate(size); }
        static void operator delete(void* p) noexcept { deallocate(p); }
        // Holders also live on the stack for short conversions.

        // The T of a genericValue::holder<T>; null for holders of other classes. Lets a holder
        // recognise one of its own kind without a dynamic cast.
        const std::type_info* holderType() const noexcept { return mpHolderType; }

    protected:
        holderbase() noexcept = default;
        explicit holderbase(const std::type_info* holderType) noexcept : mpHolderType(holderType) {}
        holderbase(const holderbase&) noexcept = default;
        holderbase& operator=(const holderbase&) noexcept = default;

    private:
        const std::type_info* mpHolderType = nullptr;
    };

    template <class T>
    class holder : public holderbase {
    public:
        holder() noexcept : holderbase(&typeid(T)) {}

        // h as a holder<T>, or null when it holds another type.
        static holder<T>* of(holderbase& h) noexcept {
            const std::type_info* t = h.holderType();
            return t && sameType(*t, typeid(T)) ? static_cast<holder<T>*>(&h) : nullptr;
        }
        static const holder<T>* of(const holderbase& h) noexcept { return of(const_cast<holderbase&>(h)); }

        bool assignTo(holderbase& target) const override {
            if (holder<T>* same = of(target)) {
                same->set(*constPtr());
                return true;
            }
            return typeConversionManager::instance().convert(target.type(), target.valuePtr(), type(),
                                                             constValuePtr(), 0, nullptr);
        }
        bool assignFrom(const holderbase& source) override {
            if (const holder<T>* same = of(source)) {
                set(*same->constPtr());
                return true;
            }
            return typeConversionManager::instance().convert(type(), valuePtr(), source.type(),
                                                             source.constValuePtr(), 0, nullptr);
        }
        const std::type_info& type() const override { return typeid(T); }
        virtual T* ptr() = 0;
        virtual const T* constPtr() const = 0;
        virtual void set(const T& value) = 0;
    };

    template <class T>
    class valueholder final : public holder<T> {
    public:
        explicit valueholder(const T& v) : mValue(v) {}
        explicit valueholder(T&& v) : mValue(std::move(v)) {}
        ~valueholder() override {
            if constexpr (zt::nestsValues<T>::value) dismantle(mValue);
        }
        // Copying nested containers recurses once per level (through the elements' clone).
        holderbase* clone() const override {
            if constexpr (zt::nestsValues<T>::value) checkValueNesting(u"copy");
            return new valueholder<T>(mValue);
        }
        holderbase* cloneInto(void* place) const override {
            if constexpr (fitsInline<T>) return ::new (place) valueholder<T>(mValue);
            else return clone();
        }
        void* valuePtr() override { return &mValue; }
        const void* constValuePtr() const override { return &mValue; }
        bool isReference() const override { return false; }
        bool nestsValues() const noexcept override { return zt::nestsValues<T>::value; }
        void takeNested(std::vector<genericValue>& out) override {
            if constexpr (zt::nestsValues<T>::value) moveNested(mValue, out);
        }
        T* ptr() override { return &mValue; }
        const T* constPtr() const override { return &mValue; }
        void set(const T& v) override {
            if (&v != &mValue) mValue = v;
        }

    private:
        T mValue;
    };

    template <class T>
    class ptrholder final : public holder<T> {
    public:
        explicit ptrholder(T* p) : mp(p) {}
        holderbase* clone() const override { return new ptrholder<T>(mp); }
        void* valuePtr() override { return mp; }
        const void* constValuePtr() const override { return mp; }
        bool isReference() const override { return true; }
        T* ptr() override { return mp; }
        const T* constPtr() const override { return mp; }
        void set(const T& v) override {
            if (mp && mp != &v) *mp = v;
        }

    private:
        T* mp;
    };

    template <class T>
    class constptrholder final : public holder<T> {
    public:
        explicit constptrholder(const T* p) : mp(p) {}
        holderbase* clone() const override { return new constptrholder<T>(mp); }
        void* valuePtr() override { return nullptr; }
        const void* constValuePtr() const override { return mp; }
        bool isReference() const override { return true; }
        T* ptr() override { throw false; }
        const T* constPtr() const override { return mp; }
        void set(const T&) override {}

    private:
        const T* mp;
    };

    genericValue() noexcept {} // (the inline storage stays unset until a value needs it)
    genericValue(const genericValue& other) { mpHolder = other.mpHolder ? other.mpHolder->cloneInto(mInline) : nullptr; }
    genericValue(genericValue&& other) noexcept { take(other); }
    // Takes ownership of a holder allocated with new.
    explicit genericValue(holderbase* h) noexcept : mpHolder(h) {}
    template <class T>
    static genericValue of(const T& v) {
        genericValue g;
        g.emplace<T>(v);
        return g;
    }
    ~genericValue() { destroyHolder(); }

    genericValue& operator=(const genericValue& other) {
        if (this == &other) return *this;
        if (other.mpHolder && other.holdsInline()) {
            // Values stored inline copy without failing: the old one can go first.
            destroyHolder();
            mpHolder = other.mpHolder->cloneInto(mInline);
        } else {
            holderbase* copy = other.mpHolder ? other.mpHolder->clone() : nullptr;
            destroyHolder();
            mpHolder = copy;
        }
        return *this;
    }
    genericValue& operator=(genericValue&& other) noexcept {
        if (this != &other) {
            destroyHolder();
            take(other);
        }
        return *this;
    }

    bool isEmpty() const noexcept { return mpHolder == nullptr; }
    // Native type of the value; meaningful only when not empty.
    const std::type_info& type() const { return mpHolder ? mpHolder->type() : typeid(void); }
    template <class T>
    bool is() const {
        return mpHolder && sameType(heldType(), typeid(T));
    }

    // Reads the value as T (converting when needed). False when empty or not convertible.
    template <class T>
    bool get(T& out) const {
        if (!mpHolder) return false;
        if (const holder<T>* same = holder<T>::of(*mpHolder)) {
            out = *valueIn(*same);
            return true;
        }
        ptrholder<T> target(&out);
        return mpHolder->assignTo(target);
    }

    // Writes v keeping the held type (converting into it); an empty value takes T.
    template <class T>
    bool set(const T& v) {
        if (!mpHolder) {
            emplace<T>(v);
            return true;
        }
        if (holder<T>* same = holder<T>::of(*mpHolder)) {
            if constexpr (fitsInline<T>) {
                if (holdsInline()) {
                    static_cast<valueholder<T>*>(same)->set(v);
                    return true;
                }
            }
            same->set(v);
            return true;
        }
        constptrholder<T> source(&v);
        return mpHolder->assignFrom(source);
    }

    // Replaces the content with a T (the previous type is dropped).
    template <class T>
    void replace(const T& v) {
        if constexpr (fitsInline<T>) {
            const T copy = v; // v may live in the holder that goes
            destroyHolder();
            mpHolder = nullptr;
            emplace<T>(copy);
        } else {
            holderbase* h = new valueholder<T>(v);
            destroyHolder();
            mpHolder = h;
        }
    }
    template <class T>
    void replace(T&& v) requires(!std::is_lvalue_reference_v<T>) {
        using V = std::decay_t<T>;
        if constexpr (fitsInline<V>) {
            replace<V>(static_cast<const V&>(v));
        } else {
            holderbase* h = new valueholder<V>(std::move(v));
            destroyHolder();
            mpHolder = h;
        }
    }

    // Direct access to a value of exactly type T, or null.
    template <class T>
    T* ptrTo() {
        if (!mpHolder || !sameType(heldType(), typeid(T))) return nullptr;
        if constexpr (fitsInline<T>)
            if (holdsInline()) return static_cast<valueholder<T>*>(mpHolder)->ptr();
        return static_cast<T*>(mpHolder->valuePtr());
    }
    template <class T>
    const T* constPtrTo() const {
        if (!mpHolder || !sameType(heldType(), typeid(T))) return nullptr;
        if constexpr (fitsInline<T>)
            if (holdsInline()) return static_cast<const valueholder<T>*>(mpHolder)->constPtr();
        return static_cast<const T*>(mpHolder->constValuePtr());
    }
    // The value of h, which this value holds. A holder built inline is a valueholder, whose
    // class is final: its value is read without a virtual call.
    template <class T>
    const T* valueIn(const holder<T>& h) const noexcept {
        if constexpr (fitsInline<T>)
            if (holdsInline()) return static_cast<const valueholder<T>&>(h).constPtr();
        return h.constPtr();
    }

    void clear() noexcept {
        destroyHolder();
        mpHolder = nullptr;
    }
    void swap(genericValue& other) noexcept {
        genericValue held(std::move(other));
        other = std::move(*this);
        *this = std::move(held);
    }

    holderbase* getHolder() noexcept { return mpHolder; }
    const holderbase* getHolder() const noexcept { return mpHolder; }
    // Gives up the holder (the caller owns it, allocated with new).
    holderbase* releaseHolder() {
        if (mpHolder && holdsInline()) {
            holderbase* h = mpHolder->clone();
            clear();
            return h;
        }
        holderbase* h = mpHolder;
        mpHolder = nullptr;
        return h;
    }

private:
    // The held type, without a virtual call for the engine's own holders. Only while not empty.
    const std::type_info& heldType() const {
        const std::type_info* t = mpHolder->holderType();
        return t ? *t : mpHolder->type();
    }

    static genericValue& valueOf(genericValue& element) noexcept { return element; }
    template <class K>
    static genericValue& valueOf(std::pair<const K, genericValue>& element) noexcept {
        return element.second;
    }

    // Moves the elements of c that own containers of values to out.
    template <class C>
    static void moveNested(C& c, std::vector<genericValue>& out) {
        for (auto& element : c) {
            genericValue& v = valueOf(element);
            if (v.mpHolder && v.mpHolder->nestsValues()) out.push_back(std::move(v));
        }
    }

    // Destroying nested containers would recurse once per level: the nested ones are taken out
    // and destroyed one after the other, each after its own nested ones were taken out.
    template <class C>
    static void dismantle(C& c) noexcept {
        std::vector<genericValue> pending; // allocates only when something is nested
        try {
            moveNested(c, pending);
            while (!pending.empty()) {
                genericValue last(std::move(pending.back()));
                pending.pop_back();
                last.mpHolder->takeNested(pending);
            }
        } catch (...) {
            // no memory for the list: what is left in it goes the recursive way
        }
    }

    // Holders of small values that copy as plain bytes (the numbers, bool, dates and times,
    // pointers) are built inside the value itself: such values need no allocation.
    static constexpr std::size_t kInlineSize = 3 * sizeof(void*);
    template <class T>
    static constexpr bool fitsInline = std::is_trivially_copyable_v<T> && sizeof(valueholder<T>) <= kInlineSize &&
                                       alignof(valueholder<T>) <= alignof(void*);

    bool holdsInline() const noexcept {
        return static_cast<const void*>(mpHolder) == static_cast<const void*>(mInline);
    }
    // An inline holder holds plain bytes and its destructor does nothing: its storage is simply
    // reused, so only allocated holders are destroyed.
    void destroyHolder() noexcept {
        if (mpHolder && !holdsInline()) delete mpHolder;
    }
    template <class T>
    void emplace(const T& v) {
        if constexpr (fitsInline<T>) mpHolder = ::new (static_cast<void*>(mInline)) valueholder<T>(v);
        else mpHolder = new valueholder<T>(v);
    }
    // Takes other's holder, leaving other empty (values stored inline are copied over).
    void take(genericValue& other) noexcept {
        if (other.mpHolder && other.holdsInline()) {
            mpHolder = other.mpHolder->cloneInto(mInline);
            other.destroyHolder();
        } else {
            mpHolder = other.mpHolder;
        }
        other.mpHolder = nullptr;
    }

    alignas(void*) unsigned char mInline[kInlineSize];
    holderbase* mpHolder = nullptr;
};

// ---------------------------------------------------------------------------------------------
// scString: interned name key. Equal texts give the same key; keys compare by pointer.

class ZTUTILS_API scString {
public:
    scString() noexcept = default;
    explicit scString(const zt::string& text);
    explicit scString(const char16_t* text);
    static scString createFrom(const zt::string& text) { return scString(text); }

    const zt::string& string() const;
    const char16_t* c_str() const { return string().c_str(); }
    bool empty() const noexcept { return mp == nullptr; }

    bool operator==(const scString& o) const noexcept { return mp == o.mp; }
    bool operator!=(const scString& o) const noexcept { return mp != o.mp; }
    bool operator<(const scString& o) const noexcept { return mp < o.mp; }
    const void* key() const noexcept { return mp; }

private:
    const zt::string* mp = nullptr;
};

// ---------------------------------------------------------------------------------------------
// genericSet: names to values. Addresses of stored values stay valid until the name is erased
// or the set is destroyed (value pointers of scripts rely on it).

class ZTUTILS_API genericSet {
public:
    genericSet() = default;
    genericSet(const genericSet& other);
    genericSet& operator=(const genericSet& other);
    genericSet(genericSet&&) noexcept = default;
    // Takes other's entries; the entries held before are destroyed.
    genericSet& operator=(genericSet&& other) noexcept {
        if (this != &other) {
            clear();
            mEntries = std::move(other.mEntries);
        }
        return *this;
    }
    ~genericSet() {
        if (!mEntries.empty()) clear(); // most blocks end without a variable of their own
    }

    // The stored value, or null when the name is absent.
    zt::genericValue* genericValue(const scString& name) noexcept {
        for (entry* e : mEntries)
            if (e->name == name) return &e->value;
        return nullptr;
    }
    const zt::genericValue* genericValue(const scString& name) const noexcept {
        for (const entry* e : mEntries)
            if (e->name == name) return &e->value;
        return nullptr;
    }
    // Stores a copy of value under name. With replace true an existing value is replaced;
    // with replace false an existing value is kept as it is. Returns true when the name holds
    // a value afterwards.
    bool setGenericValue(const scString& name, const zt::genericValue& value, bool replace);
    // Removes name; true when it was present.
    bool erase(const scString& name);
    void clear();
    size_t size() const noexcept { return mEntries.size(); }
    bool empty() const noexcept { return mEntries.empty(); }

    template <class F>
    void forEach(F&& f) const {
        for (const entry* e : mEntries) f(e->name, e->value);
    }

private:
    struct entry {
        scString name;
        zt::genericValue value;
        static void* operator new(std::size_t size) { return genericValue::holderbase::allocate(size); }
        static void operator delete(void* p) noexcept { genericValue::holderbase::deallocate(p); }
    };

    // The entries' addresses. Most sets (a block's variables, a call's parameters) hold a few
    // names and live briefly: the first ones are kept inside the set, without an allocation.
    class entryList {
    public:
        entryList() noexcept = default;
        entryList(entryList&& other) noexcept { take(other); }
        entryList& operator=(entryList&& other) noexcept {
            if (this != &other) {
                release();
                take(other);
            }
            return *this;
        }
        entryList(const entryList&) = delete;
        entryList& operator=(const entryList&) = delete;
        ~entryList() { release(); }

        entry** begin() noexcept { return mpData; }
        entry** end() noexcept { return mpData + mSize; }
        entry* const* begin() const noexcept { return mpData; }
        entry* const* end() const noexcept { return mpData + mSize; }
        size_t size() const noexcept { return mSize; }
        bool empty() const noexcept { return mSize == 0; }
        entry*& operator[](size_t i) noexcept { return mpData[i]; }
        entry*& back() noexcept { return mpData[mSize - 1]; }
        void push_back(entry* e) {
            if (mSize == mCapacity) grow();
            mpData[mSize++] = e;
        }
        void pop_back() noexcept { --mSize; }
        void clear() noexcept { mSize = 0; }

    private:
        static constexpr size_t kInline = 4;
        void grow() {
            const size_t capacity = mCapacity * 2;
            entry** data = new entry*[capacity];
            std::copy(mpData, mpData + mSize, data);
            release();
            mpData = data;
            mCapacity = capacity;
        }
        void release() noexcept {
            if (mpData != mInline) delete[] mpData;
            mpData = mInline;
            mCapacity = kInline;
        }
        void take(entryList& other) noexcept {
            mSize = other.mSize;
            if (other.mpData == other.mInline) {
                std::copy(other.mInline, other.mInline + other.mSize, mInline);
                mpData = mInline;
                mCapacity = kInline;
            } else {
                mpData = other.mpData;
                mCapacity = other.mCapacity;
                other.mpData = other.mInline;
                other.mCapacity = kInline;
            }
            other.mSize = 0;
        }

        entry* mInline[kInline];
        entry** mpData = mInline;
        size_t mSize = 0;
        size_t mCapacity = kInline;
    };
    entryList mEntries;
};

} // namespace zt
