// WriteData and FastWrite. A report that finds no pacing chain is written at
// once and starts one; while a chain runs, reports wait in their interface's
// write queue for the ticks. A queued write cannot know how its own transfer
// will go, so it answers what earlier background work left behind.
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "output/pacing.h"
#include "output/write_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kWriterLockWaitMs = 250;

// The checks made before writeLock is taken; JUXHID_OK when the write may go on.
int32_t checkWritable(int32_t index, const void* report) {
    if (!isListedIndex(index)) return JUXHID_WRITE_NOT_OPEN;
    if (state().devices[index].OutputReportByteLength == 0) return JUXHID_WRITE_NO_OUTPUT;
    if (state().slots[index].writeHandle == nullptr) return JUXHID_WRITE_NOT_OPEN;
    if (report == nullptr) return JUXHID_WRITE_BAD_POINTER;
    return JUXHID_OK;
}

int32_t enqueue(InterfaceSlot& slot, const void* report) {
    if (!slot.writeRing.pushIfRoom(report)) return JUXHID_WRITE_QUEUE_FULL;
    return state().deferredWriteStatus.exchange(JUXHID_OK);
}

// Writes at once and starts the chain, also after a failed write.
int32_t writeDirectly(int32_t index, const void* report, bool fast) {
    LibraryState& library = state();
    const int32_t written = writeReport(library.slots[index].writeHandle, report,
                                        library.devices[index].OutputReportByteLength);
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

int32_t writeData(int32_t index, const void* report) {
    if (const int32_t refused = checkWritable(index, report)) return refused;
    LibraryState& library = state();
    if (!tryLock(library.writeLock, kWriterLockWaitMs)) return JUXHID_WRITE_LOCK_TIMEOUT;
    library.fastPacing = false;
    if (library.pacingActive.load()) return finishWrite(enqueue(library.slots[index], report));
    return finishWrite(writeDirectly(index, report, false));
}

int32_t fastWrite(int32_t index, const void* report) {
    if (const int32_t refused = checkWritable(index, report)) return refused;
    LibraryState& library = state();
    if (!tryLock(library.writeLock, kWriterLockWaitMs)) return JUXHID_WRITE_LOCK_TIMEOUT;
    if (library.pacingActive.load()) {
        if (!library.fastPacing.load()) return finishWrite(JUXHID_WRITE_SLOW_CHAIN);
        return finishWrite(enqueue(library.slots[index], report));
    }
    library.fastPacing = true;
    return finishWrite(writeDirectly(index, report, true));
}

}  // namespace
}  // namespace juxhid

extern "C" JUXHID_API int32_t JUXHID_CALL WriteData(int32_t index, const void* report) {
    return juxhid::writeData(index, report);
}

extern "C" JUXHID_API int32_t JUXHID_CALL FastWrite(int32_t index, const void* report) {
    return juxhid::fastWrite(index, report);
}
