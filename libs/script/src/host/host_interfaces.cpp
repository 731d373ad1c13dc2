// Host object interfaces: interface names, the smart pointers' helpers, script values as
// objects, and the conversion of object references to bool.
#include "ztinterfaces.h"
#include "ztscript.h"

#include <ztutils.h>

#include <cstdlib>
#include <memory>
#if defined(__GNUC__) || defined(__clang__)
#  include <cxxabi.h>
#endif

namespace zt::intrface {

zt::string interfaceNameFromTypeName(const char* runtimeTypeName) {
    std::string name = runtimeTypeName ? runtimeTypeName : "";
#if defined(__GNUC__) || defined(__clang__)
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                     std::free);
    if (status == 0 && demangled) name = demangled.get();
#endif
    // A name of the form "struct zt::intrface::fieldaccess" names the type after its keyword.
    const size_t blank = name.find(' ');
    if (blank != std::string::npos) name.erase(0, blank + 1);
    return zt::string::fromUtf8(name);
}

unknown* const_interfaceptrbase::query(const unknown* p, const char16_t* name) {
    unknown* out = nullptr;
    if (p && !p->queryInterface(name, out)) out = nullptr;
    return out;
}

void const_interfaceptrbase::addRef(const unknown* p) { const_cast<unknown*>(p)->addRef(); }
void const_interfaceptrbase::release(const unknown* p) { const_cast<unknown*>(p)->release(); }

unknown* interfaceptrbase::query(unknown* p, const char16_t* name) {
    unknown* out = nullptr;
    if (p && !p->queryInterface(name, out)) out = nullptr;
    return out;
}

unknown* interfaceptrbase::queryConst(const unknown* p, const char16_t* name) {
    unknown* out = nullptr;
    if (p && !p->queryInterface(name, out)) out = nullptr;
    return out;
}

void interfaceptrbase::addRef(unknown* p) { p->addRef(); }
void interfaceptrbase::release(unknown* p) { p->release(); }

} // namespace zt::intrface

namespace zt::ifimpl {

unknownImpl::~unknownImpl() = default;

std::uint32_t unknownImpl::addRef() { return zt::interlockedIncrement(mRefCount); }

std::uint32_t unknownImpl::release() {
    const std::uint32_t left = zt::interlockedDecrement(mRefCount);
    if (left == 0) delete this;
    return left;
}

gvObjectImpl::~gvObjectImpl() = default;

int gvObjectImpl::queryInterface(const char16_t* name, intrface::unknown*& out) {
    out = nullptr;
    // The whole name, terminator included, must match.
    static const std::u16string_view unknownName = u"zt::intrface::unknown";
    if (!name || std::u16string_view(name) != unknownName) return 0;
    out = this;
    return static_cast<int>(addRef());
}

intrface::unknown* wrapValue(const zt::genericValue& value) {
    intrface::unknown* object = new intrfaceImpl<gvObjectImpl>(value);
    intrface::unknown* out = nullptr;
    object->queryInterface(u"zt::intrface::unknown", out);
    return out;
}

const zt::genericValue* wrappedValue(const intrface::unknown* o) {
    if (auto* v = dynamic_cast<const gvObjectImpl*>(o)) return &v->value();
    return nullptr;
}

} // namespace zt::ifimpl

namespace {

using unknownptr = zt::intrface::interfaceptr<zt::intrface::unknown>;

bool objectReferenceToBool(bool& dst, const unknownptr& src) {
    dst = src.isValid();
    return true;
}

// Registered for as long as the library is loaded: an object reference can stand wherever a
// condition is expected.
struct objectReferenceConverter {
    zt::typeconvert::typeConverter<unknownptr, bool> converter{&objectReferenceToBool};
    objectReferenceConverter() {
        zt::typeConversionManager::instance().add(&converter);
        zt::script::registerScriptTypeName(typeid(unknownptr), u"unknownptr");
    }
    ~objectReferenceConverter() { zt::typeConversionManager::instance().remove(&converter); }
} gObjectReferenceConverter;

} // namespace
