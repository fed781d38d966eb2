#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "juxhid_status.h"
#include "output/pacing.h"

namespace juxhid {
namespace {

// Closing cancels the shared tick, but a chain that was on must go on: its
// other interfaces may still hold queued reports, and while pacing is on
// every write is queued. A fresh tick at the chain's own interval keeps the
// pace and ends the chain as usual once the queues are empty.
void restartChainAfterCancel() {
    LibraryState& library = state();
    if (!library.pacingActive.load()) {
        library.pacingTimerId = 0;
        return;
    }
    const uint32_t timerId = scheduleTick(library.fastPacing.load());
    library.pacingTimerId = timerId;
    if (timerId == 0) {
        library.pacingActive = false;
        library.deferredWriteStatus = JUXHID_WRITE_SCHEDULE_FAILED;
    }
}

}  // namespace

void installWriteQueue(InterfaceSlot& slot, uint32_t slotSize) {
    // The storage is obtained (and a failure shown) before the lock is
    // taken: a message box must not hold up every other interface's output.
    ReportRing queue;
    queue.create(slotSize);
    LibraryState& library = state();
    // Without the lock a tick could be reading the slot: the interface then
    // has no write queue, and queued writes answer that it is full.
    if (!lockPatiently(library.writeLock)) {
        queue.destroy();
        return;
    }
    slot.writeRing = queue;
    platform::lockRelease(library.writeLock);
}

void withdrawFromPacing(InterfaceSlot& slot, bool cancelTick) {
    LibraryState& library = state();
    const bool locked = lockPatiently(library.writeLock);
    if (cancelTick) {
        if (const uint32_t timerId = library.pacingTimerId.exchange(0)) platform::timerCancel(timerId);
    }
    if (slot.writeRing.exists()) slot.writeRing.destroy();
    if (cancelTick) restartChainAfterCancel();
    if (locked) platform::lockRelease(library.writeLock);
}

}  // namespace juxhid
