#include "interface/teardown.h"

#include "frame/library_state.h"
#include "input/callback_worker.h"
#include "interface/reader_worker.h"
#include "juxhid.h"
#include "output/pacing.h"

namespace juxhid {
namespace {

constexpr uint32_t kCloseWaitPerWorkerMs = 100;
constexpr uint32_t kCleanupErrorWaitMs = 500;
constexpr uint32_t kEndedWaitSliceMs = 1000;

// Waits up to `ms` for a worker, unless it is the calling thread.
void waitBriefly(platform::Thread* thread, uint32_t ms) {
    if (thread != nullptr && !platform::threadIsCurrent(thread)) platform::threadWait(thread, ms);
}

// Makes sure a worker has ended before what it uses is released, then gives
// its handle back. The calling thread itself (a teardown from a callback)
// cannot be waited for: its handle is given back now and it ends on its own
// once the callback returns.
void finishWorker(platform::Thread*& thread) {
    if (thread == nullptr) return;
    if (!platform::threadIsCurrent(thread)) {
        int32_t outcome;
        do {
            outcome = platform::threadWait(thread, kEndedWaitSliceMs);
        } while (outcome == platform::kWaitTimeout);
    }
    platform::threadRelease(thread);
    thread = nullptr;
}

void closeIfSet(platform::Lock*& lock) {
    if (lock != nullptr) platform::lockClose(lock);
    lock = nullptr;
}
void closeIfSet(platform::Signal*& signal) {
    if (signal != nullptr) platform::signalClose(signal);
    signal = nullptr;
}
void closeIfSet(platform::Device*& device) {
    if (device != nullptr) platform::deviceClose(device);
    device = nullptr;
}

void requestStop(InterfaceSlot& slot) {
    slot.stopRequested = true;
    slot.dataCallbackMode = 0;
}

// Ends both workers for good; the read is cancelled first so that a reader
// blocked in it returns.
void endWorkers(InterfaceSlot& slot) {
    if (slot.readHandle != nullptr) platform::deviceCancelRead(slot.readHandle);
    finishWorker(slot.readerThread);
    finishWorker(slot.callbackThread);
}

void releaseInputSide(InterfaceSlot& slot) {
    if (slot.readRing.exists()) slot.readRing.destroy();
    releaseReaderScratch(slot);
}

bool holdsAnything(const InterfaceSlot& slot) {
    return slot.readHandle != nullptr || slot.writeHandle != nullptr || slot.readRing.exists() ||
           slot.writeRing.exists() || slot.readLock != nullptr || slot.dataSignal != nullptr ||
           slot.errorSignal != nullptr || slot.readerThread != nullptr ||
           slot.callbackThread != nullptr || slot.readerScratch != nullptr;
}

// Everything but the pacing tick; the slot ends as Closed.
void releaseEverything(InterfaceSlot& slot) {
    endWorkers(slot);
    releaseInputSide(slot);
    slot.dataCallback = nullptr;
    slot.errorCallback = nullptr;
    closeIfSet(slot.readLock);
    closeIfSet(slot.dataSignal);
    closeIfSet(slot.errorSignal);
    closeIfSet(slot.readHandle);
    closeIfSet(slot.writeHandle);
}

}  // namespace

void closeInterface(int32_t index) {
    if (!isSlotIndex(index)) return;
    InterfaceSlot& slot = state().slots[index];
    requestStop(slot);
    if (slot.readHandle != nullptr) {
        // Cancelling the read is what ends a read the reader has pending.
        platform::deviceCancelRead(slot.readHandle);
        waitBriefly(slot.readerThread, kCloseWaitPerWorkerMs);
        waitBriefly(slot.callbackThread, kCloseWaitPerWorkerMs);
    }
    withdrawFromPacing(slot, true);
    releaseEverything(slot);
}

void cleanupInterface(int32_t index) {
    if (!isSlotIndex(index)) return;
    InterfaceSlot& slot = state().slots[index];
    requestStop(slot);
    slot.dataCallback = nullptr;
    slot.errorCallback = nullptr;
    const bool deviceGone = slot.errorSignal != nullptr &&
                            platform::signalWait(slot.errorSignal, kCleanupErrorWaitMs) ==
                                platform::kWaitAcquired;
    withdrawFromPacing(slot, true);
    // The device may still be attached: its reader is still reading then,
    // and must end before the ring goes. The handles are given back too.
    platform::Signal* keptErrorSignal = deviceGone ? nullptr : slot.errorSignal;
    if (!deviceGone) slot.errorSignal = nullptr;
    releaseEverything(slot);
    // An errorSignal not found set stays recorded: the polled reads then
    // answer that the interface has no lock.
    slot.errorSignal = keptErrorSignal;
}

void releaseSlotForOpening(int32_t index) {
    InterfaceSlot& slot = state().slots[index];
    if (slot.readHandle != nullptr) {
        closeInterface(index);
        return;
    }
    if (!holdsAnything(slot)) return;
    requestStop(slot);
    withdrawFromPacing(slot, false);
    releaseEverything(slot);
}

void releaseSlotForRelisting(int32_t index) {
    if (holdsAnything(state().slots[index])) closeInterface(index);
}

void endEveryWorker() {
    for (InterfaceSlot& slot : state().slots) requestStop(slot);
    for (InterfaceSlot& slot : state().slots) endWorkers(slot);
}

}  // namespace juxhid

extern "C" JUXHID_API void JUXHID_CALL CloseInterface(int32_t index) { juxhid::closeInterface(index); }

extern "C" JUXHID_API void JUXHID_CALL CleanupInterface(int32_t index) {
    juxhid::cleanupInterface(index);
}
