// Armed faults are consulted in the order they were armed; a call that one
// of them fails is not seen by the later ones. A disarmed fault keeps its
// firing count, so a test can still ask for it after juxsim_fault_clear.
#include "platform/sim/faults.h"

#include "platform/platform.h"
#include "platform/sim/process_objects.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace juxhid::sim {
namespace {

struct ArmedFault {
    JuxsimFault fault;
    std::thread::id armingThread;
    int32_t seen = 0;   // matching calls so far
    int32_t fired = 0;  // of which failed
    bool armed = true;
};

struct FaultTable {
    std::mutex mutex;
    std::vector<ArmedFault> faults;  // index + 1 is the fault id
    std::atomic<int32_t> armedCount{0};  // lets calls skip the mutex when nothing is armed
};

std::atomic<FaultTable*> instance{nullptr};

FaultTable& table() { return processObject(instance); }

thread_local JuxsimThread threadClass = JUXSIM_THREAD_ANY;

bool isWellFormed(const JuxsimFault& fault) {
    if (fault.call < JUXSIM_CALL_LIST_OPEN || fault.call >= JUXSIM_CALL_END_) return false;
    if (fault.thread < JUXSIM_THREAD_ANY || fault.thread > JUXSIM_THREAD_TIMER) return false;
    if (fault.device < 0 || fault.skip < 0 || fault.count == 0 || fault.count < -1) return false;
    if (fault.call == JUXSIM_CALL_LOCK_WAIT)
        return fault.error == static_cast<uint32_t>(platform::kWaitTimeout) ||
               fault.error == static_cast<uint32_t>(platform::kWaitFailed);
    return true;
}

bool threadMatches(const ArmedFault& armed) {
    switch (armed.fault.thread) {
        case JUXSIM_THREAD_ANY:
            return true;
        case JUXSIM_THREAD_ARMING:
            return std::this_thread::get_id() == armed.armingThread;
        default:
            return armed.fault.thread == threadClass;
    }
}

bool matches(const ArmedFault& armed, JuxsimCall call, int32_t device) {
    return armed.armed && armed.fault.call == call &&
           (armed.fault.device == 0 || armed.fault.device == device) && threadMatches(armed);
}

// One matching call: lets it through while skipping, fails it while the
// count lasts. True when it fails.
bool consider(ArmedFault& armed) {
    ++armed.seen;
    if (armed.seen <= armed.fault.skip) return false;
    ++armed.fired;
    if (armed.fault.count != -1 && armed.fired >= armed.fault.count) {
        armed.armed = false;
        table().armedCount.fetch_sub(1);
    }
    return true;
}

}  // namespace

bool faultTakes(JuxsimCall call, int32_t device, FaultOutcome* outcome) {
    FaultTable& faults = table();
    if (faults.armedCount.load() == 0) return false;
    std::lock_guard<std::mutex> hold(faults.mutex);
    for (ArmedFault& armed : faults.faults) {
        if (!matches(armed, call, device) || !consider(armed)) continue;
        *outcome = FaultOutcome{armed.fault.error, armed.fault.shortCount};
        return true;
    }
    return false;
}

void tagCurrentThread(JuxsimThread role) { threadClass = role; }

JuxsimThread currentThreadClass() { return threadClass; }

void releaseFaults() { releaseProcessObject(instance); }

}  // namespace juxhid::sim

using juxhid::sim::table;

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_fault_arm(const JuxsimFault* fault) {
    if (fault == nullptr || !juxhid::sim::isWellFormed(*fault)) return -1;
    auto& faults = table();
    std::lock_guard<std::mutex> hold(faults.mutex);
    faults.faults.push_back({*fault, std::this_thread::get_id()});
    faults.armedCount.fetch_add(1);
    return static_cast<int32_t>(faults.faults.size());
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_fault_fired(int32_t fault) {
    auto& faults = table();
    std::lock_guard<std::mutex> hold(faults.mutex);
    if (fault <= 0 || static_cast<size_t>(fault) > faults.faults.size()) return -1;
    return faults.faults[static_cast<size_t>(fault) - 1].fired;
}

extern "C" JUXHID_API void JUXHID_CALL juxsim_fault_clear(void) {
    auto& faults = table();
    std::lock_guard<std::mutex> hold(faults.mutex);
    for (auto& armed : faults.faults) armed.armed = false;
    faults.armedCount.store(0);
}
