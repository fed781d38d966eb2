#include "interface/teardown.h"

#include "frame/library_state.h"
#include "interface/slot_references.h"
#include "juxhid.h"

namespace juxhid {
namespace {

constexpr uint32_t kCleanupErrorWaitMs = 500;
// The wait a worker busy in the host's code gets from a teardown. The host
// may be waiting for the very thread that tears down (two callbacks closing
// each other's interfaces), so the wait cannot be longer; the worker keeps
// its own reference and finishes by itself.
constexpr uint32_t kHostCodeGraceMs = 100;
// A worker outside the host's code ends within milliseconds of the stop: its
// read and its waits are ended or short. The bound is for a platform that
// is slow to let it.
constexpr uint32_t kWorkerEndBoundMs = 2000;
constexpr uint32_t kWaitSliceMs = 10;

// Asks both workers to stop and ends what could keep them: the pending read,
// a write stalled in the device (its caller gets a failure), and the callback
// worker's wait for a signal.
void requestStop(InterfaceSlot& slot) {
    slot.stopRequested = true;
    slot.dataCallbackMode = 0;
    if (slot.readHandle != nullptr) platform::deviceCancelRead(slot.readHandle);
    if (slot.writeHandle != nullptr) platform::deviceCancelWrite(slot.writeHandle);
    if (slot.dataSignal != nullptr) platform::signalSet(slot.dataSignal);
}

// Waits for one worker to end, never for the calling thread itself (a
// teardown from the interface's own callback). A worker in the host's code
// gets `graceMs`; any other gets the general bound.
void awaitWorker(const InterfaceSlot& slot, platform::Thread* thread, uint32_t graceMs) {
    if (thread == nullptr || platform::threadIsCurrent(thread)) return;
    for (uint32_t waited = 0;; waited += kWaitSliceMs) {
        if (platform::threadWait(thread, kWaitSliceMs) == platform::kWaitAcquired) return;
        const bool inHostCode = slot.inHostCallback.load();
        if (inHostCode && waited >= graceMs) return;
        if (!inHostCode && waited >= kWorkerEndBoundMs) return;
    }
}

void awaitWorkers(const InterfaceSlot& slot, uint32_t graceMs) {
    awaitWorker(slot, slot.readerThread.load(), graceMs);
    awaitWorker(slot, slot.callbackThread.load(), graceMs);
}

// At unload: waits for one worker to end, wherever it is, out of the
// unload's shared budget. Whether it ended is learnt from the thread itself
// (its record marks the end also when the host's runtime ended it inside a
// callback), never from a flag the worker would have to clear.
void awaitWorkerWithin(platform::Thread* thread, uint32_t& budgetMs) {
    if (thread == nullptr || platform::threadIsCurrent(thread)) return;
    for (;;) {
        const uint32_t slice = budgetMs < kWaitSliceMs ? budgetMs : kWaitSliceMs;
        if (platform::threadWait(thread, slice) == platform::kWaitAcquired || slice == 0) return;
        budgetMs -= slice;
    }
}

void forgetCallbacks(InterfaceSlot& slot) {
    slot.dataCallback = nullptr;
    slot.errorCallback = nullptr;
}

// What the reads answer after a cleanup. The reader has ended by now (or was
// given up on): errorSignal set only now means the device went in between.
Leftover leftoverOfCleanup(const InterfaceSlot& slot, bool goneWithinTheWait) {
    if (slot.errorSignal == nullptr || goneWithinTheWait) return Leftover::None;
    if (platform::signalIsSet(slot.errorSignal)) return Leftover::CleanedUpAsItWentAway;
    return Leftover::CleanedUpWhileAttached;
}

}  // namespace

void closeInterface(int32_t index) {
    if (!isSlotIndex(index)) return;
    state().interfaces[index].leftover = Leftover::None;
    InterfaceSlot* slot = detachSlot(index);
    if (slot == nullptr) return;
    requestStop(*slot);
    awaitWorkers(*slot, kHostCodeGraceMs);
    forgetCallbacks(*slot);
    releaseSlot(slot);
}

void closeInterfaceAtUnload(int32_t index) {
    state().interfaces[index].leftover = Leftover::None;
    InterfaceSlot* slot = detachSlot(index);
    if (slot == nullptr) return;
    requestStop(*slot);
    forgetCallbacks(*slot);
    releaseSlot(slot);
}

void cleanupInterface(int32_t index) {
    if (!isSlotIndex(index)) return;
    InterfaceSlot* slot = detachSlot(index);
    if (slot == nullptr) return;
    slot->stopRequested = true;
    slot->dataCallbackMode = 0;
    forgetCallbacks(*slot);
    const bool deviceGone = slot->errorSignal != nullptr &&
                            platform::signalWait(slot->errorSignal, kCleanupErrorWaitMs) ==
                                platform::kWaitAcquired;
    // The device may still be attached: its reader is still reading then.
    requestStop(*slot);
    awaitWorkers(*slot, kHostCodeGraceMs);
    state().interfaces[index].leftover = leftoverOfCleanup(*slot, deviceGone);
    releaseSlot(slot);
}

void stopEveryOpening(uint32_t& budgetMs) {
    for (int32_t index = 0; index < kMaxDevices; ++index) {
        if (SlotRef slot{index}) requestStop(*slot);
    }
    for (int32_t index = 0; index < kMaxDevices; ++index) {
        if (SlotRef slot{index}) {
            awaitWorkerWithin(slot->readerThread.load(), budgetMs);
            awaitWorkerWithin(slot->callbackThread.load(), budgetMs);
        }
    }
}

}  // namespace juxhid

extern "C" JUXHID_API void JUXHID_CALL CloseInterface(int32_t index) { juxhid::closeInterface(index); }

extern "C" JUXHID_API void JUXHID_CALL CleanupInterface(int32_t index) {
    juxhid::cleanupInterface(index);
}
