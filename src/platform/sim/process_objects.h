// The simulated bus's process-long objects (the bus, the live counts, the
// armed faults, the last message box) are made on first use and kept across
// the library's own unloads, since a host's tests use them before the first
// load hook and after an unload. They are given back only when the shared
// library itself goes (dlclose or the process's exit), after the library's
// unload: a host that loads and unloads the simulated library again and
// again must not grow.
#pragma once

#include <atomic>

namespace juxhid::sim {

// The object behind `slot`, made on first use; a thread that loses the race
// to make it uses the winner's.
template <typename T>
T& processObject(std::atomic<T*>& slot) {
    T* object = slot.load(std::memory_order_acquire);
    if (object != nullptr) return *object;
    T* fresh = new T;
    if (slot.compare_exchange_strong(object, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;
    return *object;
}

// Gives the object back; a later use makes a new one.
template <typename T>
void releaseProcessObject(std::atomic<T*>& slot) {
    delete slot.exchange(nullptr, std::memory_order_acq_rel);
}

// Each owner's release, called once the library's unload has run.
void releaseBus();
void releaseLiveCounts();
void releaseFaults();
void releaseMessageBox();
void releaseReplays();
void releaseTimers();

}  // namespace juxhid::sim
