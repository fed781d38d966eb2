// PacingTick, on the platform's timer thread: sends at most one queued report
// per interface, lower index first, and schedules its successor while it
// still found something to send. Failures wait in deferredWriteStatus for the
// next queued write; within one tick the last one wins.
//
// Closing an interface does not touch the chain: the tick finds the closed
// interface gone from the table (its queued reports went with it) and goes on
// serving the others at the chain's pace, ending it as usual once every queue
// is empty. Each interface is served under a reference of the tick's own, so
// a close in the middle of a send releases nothing the tick still uses.
#include "frame/end_of_life.h"
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "interface/slot_references.h"
#include "juxhid_status.h"
#include "output/pacing.h"
#include "output/write_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kTickLockWaitMs = 400;

// Only the scheduled tick acts: one that unload cancelled after it had
// started recognises itself and does nothing.
bool isCurrentTick(uint32_t timerId) { return state().pacingTimerId.load() == timerId; }

// Sends the oldest queued report of one interface; true if one was taken.
bool sendOneReport(int32_t index) {
    SlotRef slot{index};
    if (!slot || slot->stopRequested.load() || !slot->writeRing.exists()) return false;
    // The report is sent straight from its queue slot, which no push can
    // reach while the lock is held: no send buffer limits its length.
    const uint8_t* report = slot->writeRing.takeOldest();
    if (report == nullptr) return false;
    const int32_t status = writeReport(slot->writeHandle, report, slot->writeLength);
    // A write ended by the interface's own close is no failure to report.
    if (status != JUXHID_OK && !slot->stopRequested.load()) state().deferredWriteStatus = status;
    return true;
}

bool sendOneRoundOfReports() {
    bool taken = false;
    const int32_t listed = state().deviceCount.load();
    for (int32_t index = 0; index < listed; ++index) taken = sendOneReport(index) || taken;
    return taken;
}

void continueChain() {
    LibraryState& library = state();
    bool scheduled = false;
    // Once the library's end of life has begun the chain ends here.
    if (sendOneRoundOfReports() && !endOfLifeBegun()) {
        const uint32_t next = scheduleTick(library.fastPacing.load());
        if (next != 0) {
            library.pacingTimerId = next;
            scheduled = true;
        } else {
            library.deferredWriteStatus = JUXHID_WRITE_SCHEDULE_FAILED;
        }
    }
    library.pacingActive = scheduled;
}

}  // namespace

uint32_t scheduleTick(bool fast) {
    return fast ? platform::timerSchedule(kFastTickDelayMs, kFastTickResolutionMs, runPacingTick)
                : platform::timerSchedule(kSlowTickDelayMs, kSlowTickResolutionMs, runPacingTick);
}

void runPacingTick(uint32_t timerId) {
    LibraryState& library = state();
    if (!tryLock(library.writeLock, kTickLockWaitMs)) {
        if (!isCurrentTick(timerId)) return;
        library.pacingActive = false;
        library.deferredWriteStatus = JUXHID_WRITE_LOCK_TIMEOUT;
        return;
    }
    if (isCurrentTick(timerId)) continueChain();
    if (!platform::lockRelease(library.writeLock))
        library.deferredWriteStatus = JUXHID_WRITE_TICK_RELEASE_FAILED;
}

}  // namespace juxhid
