// Memory, locks, signals and pauses: the operating system's own, with the
// fault injector asked first and every object counted while the library
// holds it. None of these calls concerns a device.
#include "platform/os.h"
#include "platform/sim/counts.h"
#include "platform/sim/faults.h"

namespace juxhid::platform {
namespace {

bool faulted(JuxsimCall call, sim::FaultOutcome* outcome) { return sim::faultTakes(call, 0, outcome); }

bool faulted(JuxsimCall call) {
    sim::FaultOutcome ignored{};
    return faulted(call, &ignored);
}

os::Lock* osLock(Lock* lock) { return reinterpret_cast<os::Lock*>(lock); }
os::Signal* osSignal(Signal* signal) { return reinterpret_cast<os::Signal*>(signal); }

}  // namespace

void* allocate(size_t bytes) {
    if (faulted(JUXSIM_CALL_ALLOCATE)) return nullptr;
    void* block = os::allocate(bytes);
    if (block != nullptr) ++sim::liveCounts().allocations;
    return block;
}

void release(void* block) {
    if (block == nullptr) return;
    --sim::liveCounts().allocations;
    os::release(block);
}

Lock* lockCreate() {
    if (faulted(JUXSIM_CALL_LOCK_CREATE)) return nullptr;
    os::Lock* lock = os::lockCreate();
    if (lock != nullptr) ++sim::liveCounts().locks;
    return reinterpret_cast<Lock*>(lock);
}

int32_t lockWait(Lock* lock, uint32_t ms) {
    sim::FaultOutcome fault{};
    // A faulted wait answers its outcome at once and acquires nothing.
    if (faulted(JUXSIM_CALL_LOCK_WAIT, &fault)) return static_cast<int32_t>(fault.error);
    return os::lockWait(osLock(lock), ms);
}

bool lockRelease(Lock* lock) {
    // A faulted release still releases: only its answer is a failure.
    const bool fails = faulted(JUXSIM_CALL_LOCK_RELEASE);
    const bool released = os::lockRelease(osLock(lock));
    return released && !fails;
}

void lockClose(Lock* lock) {
    if (lock == nullptr) return;
    --sim::liveCounts().locks;
    os::lockClose(osLock(lock));
}

Signal* signalCreate() {
    if (faulted(JUXSIM_CALL_SIGNAL_CREATE)) return nullptr;
    os::Signal* signal = os::signalCreate();
    if (signal != nullptr) ++sim::liveCounts().signals;
    return reinterpret_cast<Signal*>(signal);
}

void signalSet(Signal* signal) { os::signalSet(osSignal(signal)); }
void signalReset(Signal* signal) { os::signalReset(osSignal(signal)); }
bool signalIsSet(Signal* signal) { return os::signalIsSet(osSignal(signal)); }

int32_t signalWait(Signal* signal, uint32_t ms) { return os::signalWait(osSignal(signal), ms); }

int32_t signalWaitEither(Signal* first, Signal* second, uint32_t ms) {
    return os::signalWaitEither(osSignal(first), osSignal(second), ms);
}

void signalClose(Signal* signal) {
    if (signal == nullptr) return;
    --sim::liveCounts().signals;
    os::signalClose(osSignal(signal));
}

void sleepMs(uint32_t ms) { os::sleepMs(ms); }

}  // namespace juxhid::platform
