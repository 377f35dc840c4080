#include "core/lifecycle.h"

#include "cluster/cluster.h"
#include "core/registry.h"
#include "modules/async.h"
#include "platform/platform.h"

namespace orq::lifecycle {

void load() {
    registry::create();
    cluster::create();
    async::create_queue();
    async::create_worker_lock();
    settings::set_cluster_enable(false);
    settings::load();
}

void unload() {
    async::stop_worker();
    {
        platform::Guard g(registry::lock());
        registry::close_all_locked();
        async::clear_queue_and_callback();
    }
    async::destroy_worker_lock();
    async::destroy_queue();
    cluster::destroy();
    registry::destroy();
}

}  // namespace orq::lifecycle

#if !defined(_WIN32)
// On POSIX the shared object's constructor and destructor run at dlopen and
// dlclose (and at process exit).
__attribute__((constructor)) static void orq_load() { orq::lifecycle::load(); }
__attribute__((destructor)) static void orq_unload() { orq::lifecycle::unload(); }
#else
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// On Windows the DLL's entry point loads at process attach and unloads at
// process detach (FreeLibrary or process exit); thread attach and detach do
// nothing. It always reports success, and no exception leaves it.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    try {
        if (reason == DLL_PROCESS_ATTACH)
            orq::lifecycle::load();
        else if (reason == DLL_PROCESS_DETACH)
            orq::lifecycle::unload();
    } catch (...) {
    }
    return TRUE;
}
#endif
