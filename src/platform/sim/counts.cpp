#include "platform/sim/counts.h"

#include "juxhid_sim.h"
#include "platform/sim/process_objects.h"

namespace juxhid::sim {

namespace {
// Outlives the process's static objects: the library's unload still gives
// objects back among the exit handlers.
std::atomic<LiveCounts*> counts{nullptr};
}  // namespace

LiveCounts& liveCounts() { return processObject(counts); }

void releaseLiveCounts() { releaseProcessObject(counts); }

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
