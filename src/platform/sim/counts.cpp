#include "platform/sim/counts.h"

#include "juxhid_sim.h"

namespace juxhid::sim {

// Never destroyed: the library's unload still gives objects back after the
// process's static objects are gone.
LiveCounts& liveCounts() {
    static LiveCounts* const counts = new LiveCounts;
    return *counts;
}

}  // namespace juxhid::sim

extern "C" JUXHID_API void JUXHID_CALL juxsim_counts(JuxsimCounts* counts) {
    if (counts == nullptr) return;
    const juxhid::sim::LiveCounts& live = juxhid::sim::liveCounts();
    counts->deviceLists = live.deviceLists.load();
    counts->handles = live.handles.load();
    counts->preparsed = live.preparsed.load();
    counts->locks = live.locks.load();
    counts->signals = live.signals.load();
    counts->threads = live.threads.load();
    counts->timers = live.timers.load();
    counts->allocations = live.allocations.load();
    counts->messageBoxes = live.messageBoxes.load();
}
