// The watch's own thread. It owns the platform's source of changes and the
// set of paths it announced, so that a path arrives once, goes once, and
// never goes before it came: the platform may repeat itself (an arrival seen
// both in the listing of present devices and as an event) or tell of a
// removal for an interface this watch never announced.
#include <cstring>

#include "watch/watch.h"

namespace juxhid::watch {
namespace {

// How long the worker waits for a change before it looks at the stop flag:
// the bound of a stop that finds no callback running.
constexpr uint32_t kPollMs = 50;

bool waitForStart(Watch& watch) {
    while (!watch.stopping.load()) {
        if (platform::signalWait(watch.started, kPollMs) == platform::kWaitAcquired) return true;
    }
    return false;
}

// True when the change is news for this watch, and records it.
bool takeChange(Watch& watch, const platform::DeviceChange& change) {
    if (change.attributes.vendorId != watch.vendorId) return false;
    if (change.arrived) return watch.present.insert(change.path).second;
    return watch.present.erase(change.path) == 1;
}

JuxhidWatchEvent eventOf(const platform::DeviceChange& change) {
    JuxhidWatchEvent event{};
    event.Kind = change.arrived ? JUXHID_WATCH_ARRIVED : JUXHID_WATCH_REMOVED;
    event.VendorID = change.attributes.vendorId;
    event.ProductID = change.attributes.productId;
    event.UsagePage = change.caps.usagePage;
    event.Usage = change.caps.usage;
    event.InputReportByteLength = change.caps.inputReportByteLength;
    event.OutputReportByteLength = change.caps.outputReportByteLength;
    event.Path = change.path;
    return event;
}

void announce(Watch& watch, platform::DeviceChange& change) {
    change.path[platform::kWatchPathBytes - 1] = '\0';
    if (!takeChange(watch, change)) return;
    // Checked as late as possible: a stop that has set the flag sees no
    // callback start after it.
    if (watch.stopping.load()) return;
    const JuxhidWatchEvent event = eventOf(change);
    watch.callback(&event, watch.context);
}

void announceUntilStopped(Watch& watch) {
    platform::DeviceChange change{};
    while (!watch.stopping.load()) {
        const int32_t outcome = platform::deviceWatchNext(watch.source, &change, kPollMs);
        if (outcome == platform::kWaitAcquired) {
            announce(watch, change);
        } else if (outcome == platform::kWaitFailed) {
            // A broken source answers at once: do not spin on it.
            platform::sleepMs(kPollMs);
        }
    }
}

}  // namespace

void runWatch(void* argument) {
    Watch* watch = static_cast<Watch*>(argument);
    if (waitForStart(*watch)) announceUntilStopped(*watch);
    letGo(watch);
}

void letGo(Watch* watch) {
    if (watch->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (watch->source != nullptr) platform::deviceWatchClose(watch->source);
    if (watch->started != nullptr) platform::signalClose(watch->started);
    delete watch;
}

}  // namespace juxhid::watch
