#include "icu.h"

#if !defined(_WIN32)

#include "ztexception.h"

#include <dlfcn.h>

// The headers rename every function to its versioned symbol (u_tolower -> u_tolower_72):
// stringified after expansion, a name gives the symbol to look up.
#define ZT_ICU_TEXT(x) #x
#define ZT_ICU_SYMBOL(x) ZT_ICU_TEXT(x)
#define ZT_ICU_LIBRARY "libicuuc.so." ZT_ICU_SYMBOL(U_ICU_VERSION_MAJOR_NUM)

namespace zt::icu {

namespace {

template <class F>
void find(void* library, const char* symbol, F& out) {
    out = reinterpret_cast<F>(::dlsym(library, symbol));
    if (!out) throw unexpectedErrorException(u"ICU: %s not found in " ZT_ICU_LIBRARY, string(symbol));
}

functions load() {
    void* library = ::dlopen(ZT_ICU_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = ::dlerror();
        throw unexpectedErrorException(u"ICU: " ZT_ICU_LIBRARY " cannot be loaded (%s)", string(reason ? reason : ""));
    }
    // Never closed: the functions serve until the process ends.
    functions f{};
    find(library, ZT_ICU_SYMBOL(u_tolower), f.toLower);
    find(library, ZT_ICU_SYMBOL(u_toupper), f.toUpper);
    find(library, ZT_ICU_SYMBOL(ucnv_open), f.open);
    find(library, ZT_ICU_SYMBOL(ucnv_close), f.close);
    find(library, ZT_ICU_SYMBOL(ucnv_reset), f.reset);
    find(library, ZT_ICU_SYMBOL(ucnv_toUChars), f.toUChars);
    find(library, ZT_ICU_SYMBOL(ucnv_setToUCallBack), f.setToUCallBack);
    find(library, ZT_ICU_SYMBOL(UCNV_TO_U_CALLBACK_STOP), f.callbackStop);
    find(library, ZT_ICU_SYMBOL(u_strFromUTF8), f.fromUtf8);
    find(library, ZT_ICU_SYMBOL(u_strFromUTF8WithSub), f.fromUtf8WithSub);
    return f;
}

} // namespace

const functions& get() {
    static const functions loaded = load(); // a failed load throws and is tried again next time
    return loaded;
}

} // namespace zt::icu

#endif
