// Cleanups at the end of a thread.
#include "ztthread.h"

#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zt {

namespace {

using cleanupList = std::vector<std::pair<void (*)(void*), void*>>;

void runCleanups(cleanupList* list) {
    // Later registrations first; a cleanup may register another one, which then runs as well.
    while (!list->empty()) {
        const auto [cleanup, data] = list->back();
        list->pop_back();
        cleanup(data);
    }
    delete list;
}

#if defined(_WIN32)
// A fiber-local slot, whose callback the system calls with the slot's value when a thread ends,
// whatever has become of the thread-local storage by then.
DWORD cleanupSlot() {
    static const DWORD slot = FlsAlloc([](void* list) {
        if (list) runCleanups(static_cast<cleanupList*>(list));
    });
    return slot;
}

cleanupList& cleanups() {
    const DWORD slot = cleanupSlot();
    auto* list = static_cast<cleanupList*>(FlsGetValue(slot));
    if (!list) {
        list = new cleanupList;
        FlsSetValue(slot, list);
    }
    return *list;
}
#else
// glibc runs the destructors of thread_local variables while the thread's storage still exists.
struct cleanupsAtExit {
    cleanupList* list = new cleanupList;
    ~cleanupsAtExit() { runCleanups(list); }
};

cleanupList& cleanups() {
    thread_local cleanupsAtExit atExit;
    return *atExit.list;
}
#endif

} // namespace

void atThreadExit(void (*cleanup)(void*), void* data) { cleanups().emplace_back(cleanup, data); }

} // namespace zt
