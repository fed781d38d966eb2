#include "interface/slot_references.h"

#include <new>
#include <thread>

#include "frame/library_state.h"
#include "interface/reader_worker.h"

namespace juxhid {
namespace {

// The guard is held for a pointer copy and a counter increment, never across
// a call: a waiter spins for nanoseconds, and yields in case the holder was
// preempted.
void lockRow(InterfaceEntry& row) {
    while (row.guard.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
}
void unlockRow(InterfaceEntry& row) { row.guard.store(false, std::memory_order_release); }

template <typename Handle, typename Close>
void closeIfSet(Handle* handle, Close close) {
    if (handle != nullptr) close(handle);
}

// Runs on whichever thread let go last: nobody else can reach the record any
// more, so nothing here waits.
void releaseEverything(InterfaceSlot* slot) {
    if (slot->readRing.exists()) slot->readRing.destroy();
    if (slot->writeRing.exists()) slot->writeRing.destroy();
    releaseReaderScratch(*slot);
    closeIfSet(slot->readLock, platform::lockClose);
    closeIfSet(slot->dataSignal, platform::signalClose);
    closeIfSet(slot->errorSignal, platform::signalClose);
    closeIfSet(slot->readHandle, platform::deviceClose);
    closeIfSet(slot->writeHandle, platform::deviceClose);
    closeIfSet(slot->readerThread.load(), platform::threadRelease);
    closeIfSet(slot->callbackThread.load(), platform::threadRelease);
    delete slot;
}

}  // namespace

InterfaceSlot* createSlot() {
    InterfaceSlot* slot = new (std::nothrow) InterfaceSlot{};
    if (slot != nullptr) slot->references.store(1);
    return slot;
}

void retainSlot(InterfaceSlot* slot) { slot->references.fetch_add(1, std::memory_order_relaxed); }

void releaseSlot(InterfaceSlot* slot) {
    if (slot->references.fetch_sub(1, std::memory_order_acq_rel) == 1) releaseEverything(slot);
}

InterfaceSlot* acquireSlot(int32_t index) {
    if (!isSlotIndex(index)) return nullptr;
    InterfaceEntry& row = state().interfaces[index];
    lockRow(row);
    InterfaceSlot* slot = row.current;
    if (slot != nullptr) retainSlot(slot);
    unlockRow(row);
    return slot;
}

void publishSlot(int32_t index, InterfaceSlot* slot) {
    InterfaceEntry& row = state().interfaces[index];
    lockRow(row);
    row.current = slot;
    unlockRow(row);
}

InterfaceSlot* detachSlot(int32_t index) {
    InterfaceEntry& row = state().interfaces[index];
    lockRow(row);
    InterfaceSlot* slot = row.current;
    row.current = nullptr;
    unlockRow(row);
    return slot;
}

}  // namespace juxhid
