#include "interface/reader_worker.h"

#include <algorithm>

#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "interface/slot_references.h"

namespace juxhid {
namespace {

constexpr uint32_t kRetryPauseMs = 100;
constexpr uint32_t kStoreLockWaitMs = 100;
// A read that comes back short, or a lock wait that fails, may return at
// once, and the next try would then too: the pauses keep a failure from
// turning into a busy loop. A short read pauses only briefly, since a device
// that mixes report lengths delivers the full ones right behind it.
constexpr uint32_t kShortReadPauseMs = 1;
constexpr uint32_t kLockFailurePauseMs = 10;

// Stores one complete report. A report that cannot get the lock in time is
// dropped: the reader must go back to the device before its buffer overflows.
// Only a report the ring really kept wakes the callback worker: a ring without
// storage keeps nothing, and there is then nothing to deliver.
void storeReport(InterfaceSlot& slot, const uint8_t* report) {
    if (!tryLock(slot.readLock, kStoreLockWaitMs)) {
        platform::sleepMs(kLockFailurePauseMs);
        return;
    }
    if (slot.readRing.pushOverwrite(report) && slot.dataCallbackMode.load(std::memory_order_relaxed) != 0)
        platform::signalSet(slot.dataSignal);
    platform::lockRelease(slot.readLock);
}

void readUntilStopped(InterfaceSlot& slot) {
    const uint32_t length = slot.readLength;
    uint8_t* scratch = slot.readerScratch;
    while (!slot.stopRequested.load()) {
        const platform::Transfer read = platform::deviceRead(slot.readHandle, scratch, length);
        if (!read.ok) {
            if (platform::transferMeansDeviceGone(read.error)) {
                platform::signalSet(slot.errorSignal);
                return;
            }
            // A read cancelled by a teardown ends the reader at once; the
            // pause is for devices that fail for a while.
            if (slot.stopRequested.load()) return;
            platform::sleepMs(kRetryPauseMs);
            continue;
        }
        // A report that arrives together with a stop request is not stored.
        if (slot.stopRequested.load()) return;
        if (read.count == length) {
            storeReport(slot, scratch);
        } else {
            platform::sleepMs(kShortReadPauseMs);
        }
    }
}

void runReaderWorker(void* slotAddress) {
    InterfaceSlot* slot = static_cast<InterfaceSlot*>(slotAddress);
    readUntilStopped(*slot);
    releaseSlot(slot);
}

}  // namespace

bool prepareReaderScratch(InterfaceSlot& slot) {
    const uint32_t bytes = std::max(kReaderScratchBytes, slot.readLength);
    slot.readerScratch = static_cast<uint8_t*>(platform::allocate(bytes));
    slot.readerScratchBytes = slot.readerScratch != nullptr ? bytes : 0;
    return slot.readerScratch != nullptr;
}

void releaseReaderScratch(InterfaceSlot& slot) {
    platform::release(slot.readerScratch);
    slot.readerScratch = nullptr;
    slot.readerScratchBytes = 0;
}

bool startReaderWorker(InterfaceSlot& slot) {
    retainSlot(&slot);
    platform::Thread* thread = platform::threadStart(runReaderWorker, &slot, platform::ThreadRole::Reader);
    if (thread == nullptr) {
        releaseSlot(&slot);
        return false;
    }
    slot.readerThread.store(thread);
    return true;
}

}  // namespace juxhid
