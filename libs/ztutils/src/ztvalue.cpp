#include "ztvalue.h"
#include "ztthread.h"

#include "ztexception.h"

#include <atomic>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <typeindex>
#include <unordered_map>
#include <unordered_set>

namespace zt {

// ---------------------------------------------------------------------------------------------
// Holder storage. Holders are small and short-lived (one per value copy), so freed blocks are
// kept in per-thread lists by size class and handed out again. Each block carries its class in
// a header, so a block may be freed on any thread.

namespace {

// GCC announces the sanitizers with __SANITIZE_*__, clang only through __has_feature.
#if defined(__has_feature)
#  if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#    define ZT_SANITIZED_BUILD 1
#  endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(ZT_SANITIZED_BUILD)
constexpr bool kPooled = false; // let the sanitizers see every allocation
#else
constexpr bool kPooled = true;
#endif

constexpr std::size_t kHeader = alignof(std::max_align_t);
constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = 8; // blocks of 16 .. 128 bytes
constexpr unsigned kMaxKept = 4096;

// The free lists of one thread, on the heap: they are given back when the thread ends, through
// atThreadExit (see ztthread.h for why not by a thread_local destructor).
struct freeLists {
    void* head[kClasses];
    unsigned count[kClasses];
};

// Every holder allocation reaches these (ZT_FAST_TLS: see ztthread.h).
ZT_FAST_TLS thread_local freeLists* tlLists = nullptr;
ZT_FAST_TLS thread_local bool tlListsGone = false; // the thread is ending: no more pooling

void reapLists(void* lists) {
    auto* fl = static_cast<freeLists*>(lists);
#if !defined(_WIN32)
    // Destructors that run after this one may still free holders: without the lists. (Windows
    // has freed the thread's storage by now; what runs later starts from fresh, empty storage.)
    tlListsGone = true;
    tlLists = nullptr;
#endif
    for (std::size_t c = 0; c < kClasses; ++c) {
        while (fl->head[c]) {
            void* next = *static_cast<void**>(fl->head[c]);
            ::operator delete(fl->head[c]);
            fl->head[c] = next;
        }
    }
    delete fl;
}

// This thread's lists, made on first use; null once the thread is ending (or when there is no
// memory for them: blocks then come from the heap directly).
freeLists* threadLists() noexcept {
    if (freeLists* fl = tlLists) return fl;
    if (tlListsGone) return nullptr;
    auto* fl = new (std::nothrow) freeLists{};
    if (!fl) return nullptr;
    try {
        atThreadExit(&reapLists, fl);
    } catch (...) {
        delete fl;
        return nullptr;
    }
    tlLists = fl;
    return fl;
}

} // namespace

void* genericValue::holderbase::allocate(std::size_t size) {
    std::size_t cls = (size + kGranule - 1) / kGranule;
    if (cls == 0) cls = 1;
    unsigned char* p;
    freeLists* fl = kPooled && cls <= kClasses ? threadLists() : nullptr;
    if (!fl) {
        p = static_cast<unsigned char*>(::operator new(size + kHeader));
        *reinterpret_cast<std::size_t*>(p) = 0;
        return p + kHeader;
    }
    if (void* h = fl->head[cls - 1]) {
        fl->head[cls - 1] = *static_cast<void**>(h);
        --fl->count[cls - 1];
        p = static_cast<unsigned char*>(h);
    } else {
        p = static_cast<unsigned char*>(::operator new(cls * kGranule + kHeader));
    }
    *reinterpret_cast<std::size_t*>(p) = cls;
    return p + kHeader;
}

void genericValue::holderbase::deallocate(void* q) noexcept {
    if (!q) return;
    unsigned char* p = static_cast<unsigned char*>(q) - kHeader;
    std::size_t cls = *reinterpret_cast<std::size_t*>(p);
    freeLists* fl = cls != 0 ? threadLists() : nullptr;
    if (!fl || fl->count[cls - 1] >= kMaxKept) {
        ::operator delete(p);
        return;
    }
    *reinterpret_cast<void**>(p) = fl->head[cls - 1];
    fl->head[cls - 1] = p;
    ++fl->count[cls - 1];
}

bool sameTypeByName(const std::type_info& a, const std::type_info& b) noexcept { return a == b; }

genericValue::holderbase::~holderbase() = default;

void throwValueNesting(const char16_t* action) { throw valueNestingException(action); }

// ---------------------------------------------------------------------------------------------
// Text forms

namespace {

const char16_t* const kBlanks = u" \t";

// The ASCII content of a trimmed text; false when it holds anything else.
bool asciiTrimmed(const string& text, std::string& out) {
    size_t b = text.find_first_not_of(kBlanks);
    if (b == string::npos) return false;
    size_t e = text.find_last_not_of(kBlanks);
    out.clear();
    out.reserve(e - b + 1);
    for (size_t i = b; i <= e; ++i) {
        if (text[i] >= 0x80) return false;
        out += static_cast<char>(text[i]);
    }
    return true;
}

// Decimal integer with optional sign, blanks allowed at both ends.
bool parseInteger(const string& text, bool& negative, unsigned long long& magnitude) {
    std::string s;
    if (!asciiTrimmed(text, s)) return false;
    size_t i = 0;
    negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        i = 1;
    }
    if (i >= s.size()) return false;
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), magnitude, 10);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

template <class T>
bool textToInt(T& dst, const string& src) {
    using R = rep_t<T>;
    bool negative;
    unsigned long long mag;
    if (!parseInteger(src, negative, mag)) return false;
    if constexpr (std::is_signed_v<R>) {
        unsigned long long limit = negative ? static_cast<unsigned long long>(std::numeric_limits<R>::max()) + 1
                                            : static_cast<unsigned long long>(std::numeric_limits<R>::max());
        if (mag > limit) return false;
        dst = negative ? static_cast<R>(0 - mag) : static_cast<R>(mag);
    } else {
        if (negative && mag != 0) return false;
        if (mag > std::numeric_limits<R>::max()) return false;
        dst = static_cast<R>(mag);
    }
    return true;
}

template <class T>
bool textToFloat(T& dst, const string& src) {
    std::string s;
    if (!asciiTrimmed(src, s)) return false;
    const char* b = s.data();
    if (*b == '+') ++b;
    T v{};
    auto r = std::from_chars(b, s.data() + s.size(), v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // overflow gives infinity, underflow zero, as strtod does
        double d = std::strtod(s.c_str(), nullptr);
        v = static_cast<T>(d);
    } else if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        return false;
    }
    dst = v;
    return true;
}

template <class T>
string floatText(T v) {
    if (std::isnan(v)) return u"nan";
    if (std::isinf(v)) return v < 0 ? u"-inf" : u"inf";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return string(std::string(buf, r.ptr));
}

template <class T>
bool intToText(string& dst, const T& src) {
    dst.clear();
    appendDecimal(dst, static_cast<rep_t<T>>(src));
    return true;
}

bool textToBool(bool& dst, const string& src) {
    std::string s;
    if (!asciiTrimmed(src, s)) return false;
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (s == "true" || s == "1") dst = true;
    else if (s == "false" || s == "0") dst = false;
    else return false;
    return true;
}

// Numeric to numeric: fails when the value does not fit; floating values going to an integer
// type are cut toward zero.
template <class D, class S>
bool numToNum(D& dst, const S& src) {
    using DR = rep_t<D>;
    using SR = rep_t<S>;
    SR v = static_cast<SR>(src);
    if constexpr (std::is_same_v<DR, bool>) {
        dst = v != 0;
        return true;
    } else if constexpr (std::is_same_v<SR, bool>) {
        dst = static_cast<DR>(v ? 1 : 0);
        return true;
    } else if constexpr (std::is_floating_point_v<DR>) {
        if constexpr (std::is_floating_point_v<SR>) {
            if (std::isfinite(v) && std::fabs(static_cast<long double>(v)) > std::numeric_limits<DR>::max()) return false;
        }
        dst = static_cast<DR>(v);
        return true;
    } else if constexpr (std::is_floating_point_v<SR>) {
        if (std::isnan(v)) return false;
        long double t = std::trunc(static_cast<long double>(v));
        if (t < static_cast<long double>(std::numeric_limits<DR>::min()) ||
            t > static_cast<long double>(std::numeric_limits<DR>::max()))
            return false;
        dst = static_cast<DR>(t);
        return true;
    } else {
        if (!std::in_range<DR>(v)) return false;
        dst = static_cast<DR>(v);
        return true;
    }
}

struct pairKey {
    std::type_index dst;
    std::type_index src;
    bool operator==(const pairKey& o) const { return dst == o.dst && src == o.src; }
};
struct pairHash {
    size_t operator()(const pairKey& k) const { return k.dst.hash_code() * 31 + k.src.hash_code(); }
};

} // namespace

string toText(double v) { return floatText(v); }
string toText(float v) { return floatText(v); }

typeconvert::typeConverterBase::~typeConverterBase() = default;

// ---------------------------------------------------------------------------------------------
// typeConversionManager

std::atomic<bool> typeConversionManager::sNumbersBuiltIn{true};
std::atomic<std::uint64_t> typeConversionManager::sGeneration{1};

struct typeConversionManager::impl {
    mutable std::shared_mutex lock;
    std::unordered_map<pairKey, const typeconvert::typeConverterBase*, pairHash> converters;
    std::vector<std::unique_ptr<typeconvert::typeConverterBase>> builtIns;
    // The built-in conversions between two number types and from a number to text, checked
    // after a change of one of them.
    std::vector<std::pair<pairKey, const typeconvert::typeConverterBase*>> numberConversions;
    std::vector<std::type_index> numberTypes;

    template <class S, class D>
    const typeconvert::typeConverterBase* builtIn(bool (*f)(D&, const S&)) {
        auto c = std::make_unique<typeconvert::typeConverter<S, D>>(f);
        const typeconvert::typeConverterBase* added = c.get();
        converters[pairKey{typeid(D), typeid(S)}] = added;
        builtIns.push_back(std::move(c));
        return added;
    }
    bool numbersAreBuiltIn() const {
        return std::all_of(numberConversions.begin(), numberConversions.end(), [&](const auto& n) {
            auto it = converters.find(n.first);
            return it != converters.end() && it->second == n.second;
        });
    }
    // Called after the conversion for key changed.
    void changed(const pairKey& key) {
        sGeneration.fetch_add(1, std::memory_order_acq_rel);
        const auto isNumber = [&](std::type_index t) {
            return std::find(numberTypes.begin(), numberTypes.end(), t) != numberTypes.end();
        };
        if (isNumber(key.src) && (isNumber(key.dst) || key.dst == typeid(string)))
            sNumbersBuiltIn.store(numbersAreBuiltIn(), std::memory_order_release);
    }

    template <class N>
    void textForms() {
        const typeconvert::typeConverterBase* written;
        if constexpr (std::is_same_v<N, bool>) {
            written = builtIn<bool, string>([](string& d, const bool& s) {
                d = s ? u"true" : u"false";
                return true;
            });
            builtIn<string, bool>(&textToBool);
        } else if constexpr (std::is_floating_point_v<N>) {
            written = builtIn<N, string>([](string& d, const N& s) {
                d = floatText(s);
                return true;
            });
            builtIn<string, N>(&textToFloat<N>);
        } else {
            written = builtIn<N, string>(&intToText<N>);
            builtIn<string, N>(&textToInt<N>);
        }
        numberConversions.emplace_back(pairKey{typeid(string), typeid(N)}, written);
    }

    template <class D, class... S>
    void fromAll() {
        (
            [&] {
                if constexpr (!std::is_same_v<D, S>)
                    numberConversions.emplace_back(pairKey{typeid(D), typeid(S)}, builtIn<S, D>(&numToNum<D, S>));
            }(),
            ...);
    }

    template <class... N>
    void numerics() {
        numberTypes = {typeid(N)...};
        (textForms<N>(), ...);
        (fromAll<N, N...>(), ...);
    }
};

typeConversionManager::typeConversionManager() : mpImpl(new impl) {
    mpImpl->numerics<bool, short, unsigned short, int, unsigned int, slong, ulong, float, double, uint64>();
}

typeConversionManager::~typeConversionManager() { delete mpImpl; }

typeConversionManager& typeConversionManager::instance() {
    // Never destroyed: values converted during static destruction still find it.
    static typeConversionManager* manager = new typeConversionManager;
    return *manager;
}

namespace {
// The converters a thread looked up last, by the addresses of the two type descriptions: most
// conversions of a script repeat, and the shared lookup hashes type names under a lock.
struct converterCacheEntry {
    const std::type_info* dst = nullptr;
    const std::type_info* src = nullptr;
    const typeconvert::typeConverterBase* converter = nullptr;
    std::uint64_t generation = 0;
};
constexpr std::size_t kConverterCacheSize = 64;
ZT_FAST_TLS thread_local converterCacheEntry tlConverterCache[kConverterCacheSize];
} // namespace

bool typeConversionManager::convert(const std::type_info& dstType, void* dst, const std::type_info& srcType,
                                    const void* src, int flags, const char16_t* format) const {
    if (!dst || !src) return false;
    const std::uint64_t generation = currentGeneration();
    const auto slot = ((reinterpret_cast<std::uintptr_t>(&dstType) >> 4) * 31 +
                       (reinterpret_cast<std::uintptr_t>(&srcType) >> 4)) %
                      kConverterCacheSize;
    converterCacheEntry& cached = tlConverterCache[slot];
    if (cached.dst == &dstType && cached.src == &srcType && cached.generation == generation)
        return cached.converter->convert(dst, src, flags, format);

    const typeconvert::typeConverterBase* c = nullptr;
    {
        std::shared_lock guard(mpImpl->lock);
        auto it = mpImpl->converters.find(pairKey{dstType, srcType});
        if (it == mpImpl->converters.end()) return false;
        c = it->second;
    }
    cached = {&dstType, &srcType, c, generation};
    return c->convert(dst, src, flags, format);
}

std::uint64_t typeConversionManager::generation() const noexcept {
    return currentGeneration();
}

const typeconvert::typeConverterBase* typeConversionManager::converter(const std::type_info& dstType,
                                                                      const std::type_info& srcType) const {
    std::shared_lock guard(mpImpl->lock);
    auto it = mpImpl->converters.find(pairKey{dstType, srcType});
    return it == mpImpl->converters.end() ? nullptr : it->second;
}

bool typeConversionManager::canConvert(const std::type_info& dstType, const std::type_info& srcType) const {
    std::shared_lock guard(mpImpl->lock);
    return mpImpl->converters.count(pairKey{dstType, srcType}) != 0;
}

void typeConversionManager::add(const typeconvert::typeConverterBase* converter) {
    if (!converter) return;
    const pairKey key{converter->destinationType(), converter->sourceType()};
    std::unique_lock guard(mpImpl->lock);
    mpImpl->converters[key] = converter;
    mpImpl->changed(key);
}

void typeConversionManager::remove(const typeconvert::typeConverterBase* converter) {
    if (!converter) return;
    std::unique_lock guard(mpImpl->lock);
    const pairKey key{converter->destinationType(), converter->sourceType()};
    auto it = mpImpl->converters.find(key);
    if (it != mpImpl->converters.end() && it->second == converter) {
        mpImpl->converters.erase(it);
        mpImpl->changed(key);
    }
}

// ---------------------------------------------------------------------------------------------
// scString

namespace {
struct internTable {
    std::mutex lock;
    std::unordered_set<string> texts;
};
internTable& interned() {
    static internTable* table = new internTable; // never destroyed: keys outlive static destruction
    return *table;
}
const string& emptyText() {
    static const string* e = new string;
    return *e;
}
} // namespace

scString::scString(const zt::string& text) {
    if (text.empty()) return;
    internTable& t = interned();
    std::lock_guard guard(t.lock);
    mp = &*t.texts.insert(text).first;
}

scString::scString(const char16_t* text) : scString(zt::string(text ? text : u"")) {}

const zt::string& scString::string() const { return mp ? *mp : emptyText(); }

// ---------------------------------------------------------------------------------------------
// genericSet

genericSet::genericSet(const genericSet& other) {
    try {
        for (const entry* e : other.mEntries) mEntries.push_back(new entry{e->name, e->value});
    } catch (...) {
        clear();
        throw;
    }
}

genericSet& genericSet::operator=(const genericSet& other) {
    if (this != &other) {
        genericSet copy(other);
        std::swap(mEntries, copy.mEntries);
    }
    return *this;
}


bool genericSet::setGenericValue(const scString& name, const zt::genericValue& value, bool replace) {
    if (zt::genericValue* v = genericValue(name)) {
        if (replace) *v = value;
        return true;
    }
    mEntries.push_back(new entry{name, value});
    return true;
}

bool genericSet::erase(const scString& name) {
    for (size_t i = 0; i < mEntries.size(); ++i) {
        if (mEntries[i]->name == name) {
            delete mEntries[i];
            mEntries[i] = mEntries.back();
            mEntries.pop_back();
            return true;
        }
    }
    return false;
}

void genericSet::clear() {
    for (entry* e : mEntries) delete e;
    mEntries.clear();
}

} // namespace zt
