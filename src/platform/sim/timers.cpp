// One-shot timers through the OS layer's timer service. The bus keeps the
// library's routine per pending id and hands the service a trampoline of
// its own, which tags the timer thread (so faults can aim at pacing ticks)
// and keeps the count of ticks not yet over right.
#include <atomic>
#include <mutex>
#include <unordered_map>

#include "platform/os.h"
#include "platform/sim/counts.h"
#include "platform/sim/faults.h"
#include "platform/sim/process_objects.h"

namespace juxhid::platform {
namespace {

struct PendingTimers {
    std::mutex mutex;
    std::unordered_map<uint32_t, TimerRoutine> routines;
};

std::atomic<PendingTimers*> instance{nullptr};

PendingTimers& pending() { return sim::processObject(instance); }

void runTagged(uint32_t timerId) {
    TimerRoutine routine = nullptr;
    {
        // Waits, if need be, until the schedule that made this id has
        // recorded it.
        std::lock_guard<std::mutex> hold(pending().mutex);
        const auto found = pending().routines.find(timerId);
        if (found == pending().routines.end()) return;
        routine = found->second;
        pending().routines.erase(found);
    }
    {
        sim::ThreadTag tag(JUXSIM_THREAD_TIMER);
        routine(timerId);
    }
    // A timer counts until its routine has returned: a count of zero then
    // means no tick is still deciding what to do next.
    std::lock_guard<std::mutex> hold(pending().mutex);
    --sim::liveCounts().timers;
}

}  // namespace

uint32_t timerSchedule(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine) {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_TIMER_SCHEDULE, 0, &fault)) return 0;
    if (routine == nullptr) return 0;
    // Held across the schedule: a short delay may fire before the id is
    // recorded, and the trampoline must find it.
    std::lock_guard<std::mutex> hold(pending().mutex);
    const uint32_t id = os::timerSchedule(delayMs, resolutionMs, runTagged);
    if (id != 0) {
        pending().routines[id] = routine;
        ++sim::liveCounts().timers;
    }
    return id;
}

bool timerCancel(uint32_t timerId) {
    if (!os::timerCancel(timerId)) return false;
    std::lock_guard<std::mutex> hold(pending().mutex);
    if (pending().routines.erase(timerId) != 0) --sim::liveCounts().timers;
    return true;
}

// The service drops whatever was still pending, and so does the count.
void timerShutdown() {
    os::timerShutdown();
    std::lock_guard<std::mutex> hold(pending().mutex);
    sim::liveCounts().timers -= static_cast<int32_t>(pending().routines.size());
    pending().routines.clear();
}

}  // namespace juxhid::platform

namespace juxhid::sim {

// The timer thread takes the pending table's lock after every routine, so
// the service is stopped (its thread joined) before the table goes; after
// the library's unload it is stopped already and this returns at once.
void releaseTimers() {
    os::timerShutdown();
    releaseProcessObject(platform::instance);
}

}  // namespace juxhid::sim
