#include "input/callback_worker.h"

#include <algorithm>
#include <cstring>

#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "interface/reader_worker.h"
#include "juxhid_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kSignalWaitMs = 50;
constexpr uint32_t kLockWaitMs = 100;
constexpr uint32_t kCopyBytes = 256;

// What the worker owns for its life, in one block: the start record, the
// current copy (the newest whole report) and the saved copy (bytes 1 on of
// the report last delivered in changed-only mode). The copies are the
// worker's, not the slot's: a teardown from inside a callback must not take
// away the bytes the callback is reading. Both start zeroed, so the first
// comparison and a wake-up before any report behave the same every run.
struct WorkerBlock {
    InterfaceSlot* slot;
    uint32_t opening;
    uint32_t copyBytes;  // at least the report length, so no copy overruns
    uint8_t* current() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* saved() { return current() + copyBytes; }
};

enum class Next { Wait, End };

Next deliver(InterfaceSlot& slot, WorkerBlock& block) {
    const uint32_t length = slot.readLength;
    if (!tryLock(slot.readLock, kLockWaitMs)) return Next::Wait;  // the signal stays set
    const uint32_t mode = slot.dataCallbackMode.load();
    const JuxhidDataCallback callback = slot.dataCallback.load();
    if (mode == 0 || callback == nullptr) {
        platform::signalReset(slot.dataSignal);
        platform::lockRelease(slot.readLock);
        return mode == 0 ? Next::Wait : Next::End;
    }
    slot.readRing.peekNewest(block.current());
    const uint32_t payload = length > 0 ? length - 1 : 0;
    uint8_t* handedOut = block.current() + 1;
    if (mode != 1) {
        // Changed-only: the callback receives the saved copy itself, so bytes
        // it overwrites take part in the next comparison.
        if (std::memcmp(block.current() + 1, block.saved(), payload) == 0) {
            platform::signalReset(slot.dataSignal);
            platform::lockRelease(slot.readLock);
            return Next::Wait;
        }
        std::memcpy(block.saved(), block.current() + 1, payload);
        handedOut = block.saved();
    }
    // Reset before the release: a report stored after it brings another wake-up.
    platform::signalReset(slot.dataSignal);
    platform::lockRelease(slot.readLock);
    return callback(handedOut) == 0 ? Next::End : Next::Wait;
}

void runLoop(WorkerBlock& block) {
    InterfaceSlot& slot = *block.slot;
    const uint32_t opening = block.opening;
    if (workerMustStop(slot, opening)) return;
    for (;;) {
        const int32_t woken = platform::signalWaitEither(slot.dataSignal, slot.errorSignal, kSignalWaitMs);
        if (woken == platform::kWaitSecond) {
            if (const JuxhidErrorCallback onError = slot.errorCallback.load()) {
                onError(JUXHID_DEVICE_GONE_STATUS);
                return;
            }
        }
        if (workerMustStop(slot, opening)) return;
        // Without an error callback an error wake-up is served as a data one.
        if (woken == platform::kWaitAcquired || woken == platform::kWaitSecond) {
            if (deliver(slot, block) == Next::End) return;
        }
        if (workerMustStop(slot, opening)) return;
    }
}

void runCallbackWorker(void* blockAddress) {
    WorkerBlock* block = static_cast<WorkerBlock*>(blockAddress);
    runLoop(*block);
    platform::release(block);
}

}  // namespace

bool startCallbackWorker(InterfaceSlot& slot) {
    const uint32_t copyBytes = std::max(kCopyBytes, slot.readLength);
    const size_t bytes = sizeof(WorkerBlock) + 2 * static_cast<size_t>(copyBytes);
    auto* block = static_cast<WorkerBlock*>(platform::allocate(bytes));
    if (block == nullptr) return false;
    std::memset(static_cast<void*>(block), 0, bytes);
    block->slot = &slot;
    block->opening = slot.opening.load();
    block->copyBytes = copyBytes;
    slot.callbackThread = platform::threadStart(runCallbackWorker, block, platform::ThreadRole::Callback);
    if (slot.callbackThread == nullptr) {
        platform::release(block);
        return false;
    }
    return true;
}

}  // namespace juxhid
