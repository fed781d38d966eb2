// WriteData and FastWrite. A report that finds no pacing chain is written at
// once and starts one; while a chain runs, reports wait in their interface's
// write queue for the ticks. A queued write cannot know how its own transfer
// will go, so it answers what earlier background work left behind. Each call
// holds a reference to the opening, so a close while the device write is
// stalled ends the write (the caller gets 409) and releases nothing under it.
// Once the library's end of life has begun nothing is written or queued and
// no chain starts (415).
#include "frame/end_of_life.h"
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "interface/slot_references.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "output/pacing.h"
#include "output/write_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kWriterLockWaitMs = 250;

int32_t enqueue(InterfaceSlot& slot, const void* report) {
    if (!slot.writeRing.pushIfRoom(report)) return JUXHID_WRITE_QUEUE_FULL;
    return state().deferredWriteStatus.exchange(JUXHID_OK);
}

// Writes at once and starts the chain, also after a failed write.
int32_t writeDirectly(InterfaceSlot& slot, const void* report, bool fast) {
    LibraryState& library = state();
    const int32_t written = writeReport(slot.writeHandle, report, slot.writeLength);
    const uint32_t timerId = scheduleTick(fast);
    if (timerId == 0) return JUXHID_WRITE_SCHEDULE_FAILED;
    library.pacingTimerId = timerId;
    library.pacingActive = true;
    return written;
}

int32_t finishWrite(int32_t status) {
    if (!platform::lockRelease(state().writeLock)) return JUXHID_WRITE_RELEASE_FAILED;
    return status;
}

// The checks made before writeLock is taken, then `write` with the lock held;
// `write` answers the status that finishWrite releases with.
template <typename Write>
int32_t withWritableSlot(int32_t index, const void* report, Write write) {
    if (!isListedIndex(index)) return JUXHID_WRITE_NOT_OPEN;
    if (state().devices[index].OutputReportByteLength == 0) return JUXHID_WRITE_NO_OUTPUT;
    const GatePass pass;
    if (!pass) return JUXHID_WRITE_UNLOADING;
    SlotRef slot{index};
    if (!slot || slot->writeHandle == nullptr) return JUXHID_WRITE_NOT_OPEN;
    if (report == nullptr) return JUXHID_WRITE_BAD_POINTER;
    if (!tryLock(state().writeLock, kWriterLockWaitMs)) return JUXHID_WRITE_LOCK_TIMEOUT;
    return finishWrite(write(*slot));
}

int32_t writeData(int32_t index, const void* report) {
    return withWritableSlot(index, report, [&](InterfaceSlot& slot) {
        LibraryState& library = state();
        library.fastPacing = false;
        if (library.pacingActive.load()) return enqueue(slot, report);
        return writeDirectly(slot, report, false);
    });
}

int32_t fastWrite(int32_t index, const void* report) {
    return withWritableSlot(index, report, [&](InterfaceSlot& slot) {
        LibraryState& library = state();
        if (library.pacingActive.load()) {
            if (!library.fastPacing.load()) return static_cast<int32_t>(JUXHID_WRITE_SLOW_CHAIN);
            return enqueue(slot, report);
        }
        library.fastPacing = true;
        return writeDirectly(slot, report, true);
    });
}

}  // namespace
}  // namespace juxhid

extern "C" JUXHID_API int32_t JUXHID_CALL WriteData(int32_t index, const void* report) {
    return juxhid::writeData(index, report);
}

extern "C" JUXHID_API int32_t JUXHID_CALL FastWrite(int32_t index, const void* report) {
    return juxhid::fastWrite(index, report);
}
