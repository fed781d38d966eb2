// A device watch: the host's callback and context, the platform's source of
// arrivals and removals, and the thread that turns the one into calls of the
// other. The table of watches (watch_table.cpp) hands out ids and stops
// them; the worker (watch_worker.cpp) runs each.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include "juxhid_watch.h"
#include "platform/platform.h"

namespace juxhid::watch {

struct Watch {
    int32_t id = 0;
    uint32_t vendorId = 0;
    JuxhidWatchCallback callback = nullptr;
    void* context = nullptr;
    platform::DeviceWatch* source = nullptr;  // read and closed by the worker only
    platform::Signal* started = nullptr;      // set once the host holds the id
    platform::Thread* thread = nullptr;
    // Set by StopDeviceWatch; the worker starts no callback once it is set.
    std::atomic<bool> stopping{false};
    // The table's (then the stopper's) reference, the worker's, and the
    // starter's until StartDeviceWatch returns (the first callback may stop
    // the watch and end the worker while the starter still sets `started`):
    // the last one to let go frees the watch, so a stop that gives up
    // waiting on a slow callback leaves the worker a live record.
    std::atomic<int> holders{3};
    // Paths announced as arrived and not yet as removed (worker only).
    std::set<std::string> present;
};

// The worker's routine: waits for the start signal, then announces changes
// until the watch is stopping; closes the source and lets go of the watch.
void runWatch(void* argument);

// Drops one holder; the last frees the watch and what it still holds.
void letGo(Watch* watch);

}  // namespace juxhid::watch
