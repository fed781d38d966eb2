// Unloading a library with watches still running, as a host that forgot to
// stop them does: the unload stops them, so no watch thread runs the
// unmapped library's code and no callback comes afterwards.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "juxhid_sim.h"
#include "juxhid_status.h"
#include "juxhid_watch.h"

// The bus's objects outlive unloads by design (see the dlclose test).
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "detect_leaks=0";
}

namespace {

std::atomic<int> g_events{0};

void JUXHID_CALL countEvent(const JuxhidWatchEvent*, void*) {
    g_events.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

template <typename Function>
Function symbol(void* library, const char* name) {
    return reinterpret_cast<Function>(::dlsym(library, name));
}

TEST(WatchUnload, UnloadingStopsTheWatchesLeftRunning) {
    struct Case {
        const char* path;
        bool simulated;
    };
    for (const Case& c : {Case{JUXHID_SIM_LIBRARY_PATH, true}, Case{JUXHID_WATCH_LIBRARY_PATH, false}}) {
        void* library = ::dlopen(c.path, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << ::dlerror();
        auto start = symbol<decltype(&StartDeviceWatch)>(library, "StartDeviceWatch");
        ASSERT_NE(start, nullptr) << c.path;
        for (int i = 0; i < 3; ++i) {
            int32_t id = 0;
            ASSERT_EQ(start(0x1A2B, JUXHID_WATCH_PRESENT, countEvent, nullptr, &id), JUXHID_OK) << c.path;
        }
        if (c.simulated) {
            auto attach = symbol<decltype(&juxsim_attach)>(library, "juxsim_attach");
            JuxsimDeviceInfo info{0x1A2B, 1, 0xFF00, 1, 9, 9, nullptr};
            for (int i = 0; i < 20; ++i) attach(&info);
            while (g_events.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Callbacks are running or queued while the library goes.
        ASSERT_EQ(::dlclose(library), 0) << ::dlerror();
        const int afterUnload = g_events.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_LE(g_events.load(), afterUnload + 0) << c.path << ": a callback came after the unload";
    }
}

}  // namespace
