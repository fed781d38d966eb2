// PacingTick, on the platform's timer thread: sends at most one queued report
// per interface, lower index first, and schedules its successor while it
// still found something to send. Failures wait in deferredWriteStatus for the
// next queued write; within one tick the last one wins.
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "juxhid_status.h"
#include "output/pacing.h"
#include "output/write_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kTickLockWaitMs = 400;

// A tick cancelled by a teardown may already have started; it recognises
// itself by no longer being the scheduled one, and does nothing.
bool isCurrentTick(uint32_t timerId) { return state().pacingTimerId.load() == timerId; }

// Sends the oldest queued report of each interface; true if any was taken.
bool sendOneRoundOfReports() {
    LibraryState& library = state();
    bool taken = false;
    const int32_t listed = library.deviceCount.load();
    for (int32_t index = 0; index < listed; ++index) {
        InterfaceSlot& slot = library.slots[index];
        if (!slot.writeRing.exists()) continue;
        // The report is sent straight from its queue slot, which no push can
        // reach while the lock is held: no send buffer limits its length.
        const uint8_t* report = slot.writeRing.takeOldest();
        if (report == nullptr) continue;
        taken = true;
        const int32_t status =
            writeReport(slot.writeHandle, report, library.devices[index].OutputReportByteLength);
        if (status != JUXHID_OK) library.deferredWriteStatus = status;
    }
    return taken;
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
    if (isCurrentTick(timerId)) {
        bool scheduled = false;
        if (sendOneRoundOfReports()) {
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
    if (!platform::lockRelease(library.writeLock))
        library.deferredWriteStatus = JUXHID_WRITE_TICK_RELEASE_FAILED;
}

}  // namespace juxhid
