// Device watches on the simulated bus: each watch has a queue of changes that
// attaches and unplugs fill at once, carrying the device's description as it
// was attached. A device that comes and goes before the watch's thread looks
// is therefore still announced, arrival first.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>

#include "platform/sim/counts.h"
#include "platform/sim/faults.h"
#include "platform/sim/watch_feed.h"

namespace juxhid::platform {

struct DeviceWatch {
    std::deque<DeviceChange> pending;  // guarded by the bus mutex
    std::condition_variable changed;
};

}  // namespace juxhid::platform

namespace juxhid::sim {
namespace {

using platform::DeviceChange;
using platform::DeviceWatch;

// Every open watch. Guarded by the bus mutex.
std::vector<DeviceWatch*>& openWatches() {
    static std::vector<DeviceWatch*> watches;
    return watches;
}

DeviceChange changeOf(const SimDevice& device, bool arrived) {
    DeviceChange change{};
    change.arrived = arrived;
    change.attributes = platform::DeviceAttributes{device.vendorId, device.productId};
    change.caps = device.caps;
    const size_t length = std::min(device.path.size(), platform::kWatchPathBytes - 1);
    std::memcpy(change.path, device.path.data(), length);
    change.path[length] = '\0';
    return change;
}

void announce(const SimDevice& device, bool arrived) {
    for (DeviceWatch* watch : openWatches()) {
        watch->pending.push_back(changeOf(device, arrived));
        watch->changed.notify_all();
    }
}

}  // namespace

std::atomic<platform::StopEveryWatch> g_stopEveryWatch{nullptr};

void announceArrival(const SimDevice& device) { announce(device, true); }
void announceRemoval(const SimDevice& device) { announce(device, false); }

void stopWatchesForUnload() {
    if (platform::StopEveryWatch stop = g_stopEveryWatch.load()) stop();
}

}  // namespace juxhid::sim

namespace juxhid::platform {

// The bus's events cannot fail; the fault injector's "no list of present
// interfaces" stands in for a platform that gives no events either.
DeviceWatch* deviceWatchOpen(bool present, uint32_t* error) {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_LIST_OPEN, 0, &fault)) {
        *error = fault.error;
        return nullptr;
    }
    auto* watch = new DeviceWatch;
    sim::Bus& state = sim::bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    if (present) {
        for (const auto& device : state.attached) watch->pending.push_back(sim::changeOf(*device, true));
    }
    sim::openWatches().push_back(watch);
    return watch;
}

int32_t deviceWatchNext(DeviceWatch* watch, DeviceChange* change, uint32_t ms) {
    if (watch == nullptr) return kWaitFailed;
    std::unique_lock<std::mutex> hold(sim::bus().mutex);
    if (!watch->changed.wait_for(hold, std::chrono::milliseconds(ms),
                                 [&] { return !watch->pending.empty(); }))
        return kWaitTimeout;
    *change = watch->pending.front();
    watch->pending.pop_front();
    return kWaitAcquired;
}

void deviceWatchesStopAtUnload(StopEveryWatch stopEveryWatch) { sim::g_stopEveryWatch.store(stopEveryWatch); }

void deviceWatchClose(DeviceWatch* watch) {
    if (watch == nullptr) return;
    {
        std::lock_guard<std::mutex> hold(sim::bus().mutex);
        std::erase(sim::openWatches(), watch);
    }
    delete watch;
}

}  // namespace juxhid::platform
