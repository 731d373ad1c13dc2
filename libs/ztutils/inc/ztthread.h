// Objects that belong to one thread and end with it.
//
// A thread_local variable whose type has a destructor cannot be trusted on every platform: with
// mingw-w64 the thread's thread-local storage is freed before the destructors of such variables
// run, so they would work on freed memory. The libraries therefore keep per-thread objects on
// the heap, reached through a plain pointer, and end them through atThreadExit.
#pragma once

#include "ztexport.h"

// ZT_FAST_TLS: the initial-exec model for thread-local variables on hot paths. It spares the call
// that a shared library's thread-local variables otherwise cost on each access.
#if defined(__GNUC__) || defined(__clang__)
#  define ZT_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#  define ZT_FAST_TLS
#endif

namespace zt {

// Runs cleanup(data) when the calling thread ends, after every cleanup registered later on that
// thread. cleanup must not touch other thread_local variables of the thread.
ZTUTILS_API void atThreadExit(void (*cleanup)(void*), void* data);

// The calling thread's own T, made on first use (value-initialised) and destroyed when the
// thread ends. Tag tells apart several objects of the same type.
template <class T, class Tag = T>
T& threadOwned() {
    ZT_FAST_TLS thread_local T* instance = nullptr; // a plain pointer: nothing to destroy at thread exit
    if (!instance) {
        instance = new T();
        atThreadExit([](void* p) { delete static_cast<T*>(p); }, instance);
    }
    return *instance;
}

} // namespace zt
