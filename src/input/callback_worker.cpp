#include "input/callback_worker.h"

#include <algorithm>
#include <cstring>

#include "frame/end_of_life.h"
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "interface/slot_references.h"
#include "juxhid_status.h"

namespace juxhid {
namespace {

// Whatever the worker must act on sets a signal: a report, the unplug, a
// stop, an error callback installed after the unplug. So an idle worker
// sleeps through; the bound on its wait only caps a wake-up that a platform
// lost, and costs one wake-up a minute.
constexpr uint32_t kIdleWaitMs = 60'000;
// After a failed wait or lock wait: short enough to serve reports, long
// enough not to spin.
constexpr uint32_t kFailurePauseMs = 50;
constexpr uint32_t kLockWaitMs = 100;
constexpr uint32_t kCopyBytes = 256;

// What the worker owns for its life, in one block: the current copy (the
// newest whole report) and the saved copy (bytes 1 on of the report last
// delivered in changed-only mode). The copies are the worker's own, so the
// bytes a callback reads stay valid whatever the callback tears down.
struct WorkerBlock {
    InterfaceSlot* slot;
    uint32_t copyBytes;  // at least the report length, so no copy overruns
    // Changed-only mode announces the first report of an opening whatever its
    // bytes: a device whose first report is all zeros ("nothing pressed") is
    // news to the host too.
    bool deliveredInChangedMode;
    // The device is gone and no error callback was installed when that was
    // seen: the worker then waits for data wake-ups only, and looks for a
    // newly installed error callback after each wait.
    bool deviceGoneSeen;
    uint8_t* current() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* saved() { return current() + copyBytes; }
};

enum class Next { Wait, End };

// Once the library's end of life has begun no callback starts: the unload
// is about to stop every worker.
Next callHost(InterfaceSlot& slot, JuxhidDataCallback callback, uint8_t* bytes) {
    if (endOfLifeBegun()) return Next::End;
    slot.inHostCallback = true;
    const int32_t result = callback(bytes);
    slot.inHostCallback = false;
    return result == 0 ? Next::End : Next::Wait;
}

// Resets dataSignal before the lock goes, so a report stored after the
// release always brings another wake-up.
void finishWakeup(InterfaceSlot& slot) {
    platform::signalReset(slot.dataSignal);
    platform::lockRelease(slot.readLock);
}

// A data wake-up. Only a report the ring holds is delivered: after a clear,
// or with a ring that keeps nothing, there is nothing new to hand out.
Next deliver(InterfaceSlot& slot, WorkerBlock& block) {
    const uint32_t length = slot.readLength;
    if (!tryLock(slot.readLock, kLockWaitMs)) {
        // The signal stays set, so the next wait returns at once: a lock wait
        // that fails at once must not turn that into a busy loop.
        platform::sleepMs(kFailurePauseMs);
        return Next::Wait;
    }
    const uint32_t mode = slot.dataCallbackMode.load();
    const JuxhidDataCallback callback = slot.dataCallback.load();
    if (mode == 0 || callback == nullptr) {
        finishWakeup(slot);
        return mode == 0 ? Next::Wait : Next::End;
    }
    if (!slot.readRing.peekNewest(block.current())) {
        finishWakeup(slot);
        return Next::Wait;
    }
    const uint32_t payload = length > 0 ? length - 1 : 0;
    if (mode == 1) {
        finishWakeup(slot);
        return callHost(slot, callback, block.current() + 1);
    }
    // Changed-only: the callback receives the saved copy itself, so bytes it
    // overwrites take part in the next comparison.
    const bool same = std::memcmp(block.current() + 1, block.saved(), payload) == 0;
    if (block.deliveredInChangedMode && same) {
        finishWakeup(slot);
        return Next::Wait;
    }
    std::memcpy(block.saved(), block.current() + 1, payload);
    block.deliveredInChangedMode = true;
    finishWakeup(slot);
    return callHost(slot, callback, block.saved());
}

// Waits for the next wake-up: either signal, or, once the device is known to
// be gone (errorSignal stays set for good), dataSignal alone, so that the
// wait still lasts; the error callback's setter then sets dataSignal.
int32_t awaitWakeup(InterfaceSlot& slot, const WorkerBlock& block) {
    if (block.deviceGoneSeen) return platform::signalWait(slot.dataSignal, kIdleWaitMs);
    return platform::signalWaitEither(slot.dataSignal, slot.errorSignal, kIdleWaitMs);
}

// The error callback, once, when the device is gone: at an error wake-up, or,
// when it was installed only after the unplug, at the wake-up its setter
// brings.
bool calledErrorCallback(InterfaceSlot& slot, WorkerBlock& block, int32_t woken) {
    if (woken == platform::kWaitAcquired && !block.deviceGoneSeen) return false;
    if (woken == platform::kWaitSecond) block.deviceGoneSeen = true;
    if (!block.deviceGoneSeen) return false;
    // Published before the callback is looked for, so that a setter running
    // meanwhile either is seen here or sees this and wakes the worker.
    slot.workerAwaitsErrorCallback = true;
    const JuxhidErrorCallback onError = slot.errorCallback.load();
    if (onError == nullptr) return false;
    if (endOfLifeBegun()) return true;
    slot.inHostCallback = true;
    onError(JUXHID_DEVICE_GONE_STATUS);
    slot.inHostCallback = false;
    return true;
}

void runLoop(WorkerBlock& block) {
    InterfaceSlot& slot = *block.slot;
    while (!slot.stopRequested.load()) {
        const int32_t woken = awaitWakeup(slot, block);
        if (calledErrorCallback(slot, block, woken)) return;
        if (slot.stopRequested.load()) return;
        if (woken == platform::kWaitAcquired) {
            // After the unplug the reader stores nothing: a data wake-up then
            // carries no report (delivering would repeat the last one) and is
            // only taken, so that it does not come back at once. A stop that
            // sets the signal meanwhile has set its flag first.
            if (block.deviceGoneSeen) {
                platform::signalReset(slot.dataSignal);
            } else if (deliver(slot, block) == Next::End) {
                return;
            }
        } else if (woken == platform::kWaitFailed) {
            // A wait that fails at once must not turn into a busy loop.
            platform::sleepMs(kFailurePauseMs);
        }
    }
}

void runCallbackWorker(void* blockAddress) {
    WorkerBlock* block = static_cast<WorkerBlock*>(blockAddress);
    runLoop(*block);
    InterfaceSlot* slot = block->slot;
    platform::release(block);
    releaseSlot(slot);
}

}  // namespace

bool startCallbackWorker(InterfaceSlot& slot) {
    const uint32_t copyBytes = std::max(kCopyBytes, slot.readLength);
    const size_t bytes = sizeof(WorkerBlock) + 2 * static_cast<size_t>(copyBytes);
    auto* block = static_cast<WorkerBlock*>(platform::allocate(bytes));
    if (block == nullptr) return false;
    std::memset(static_cast<void*>(block), 0, bytes);
    block->slot = &slot;
    block->copyBytes = copyBytes;
    retainSlot(&slot);
    platform::Thread* thread = platform::threadStart(runCallbackWorker, block, platform::ThreadRole::Callback);
    if (thread == nullptr) {
        platform::release(block);
        releaseSlot(&slot);
        return false;
    }
    slot.callbackThread.store(thread);
    return true;
}

}  // namespace juxhid
