// SetupInterface: opens the interface of a listed device. An earlier opening
// of the index is closed first. The new opening is built in a record of its
// own: both rings; for a device with input reports its lock, signals, read
// handle and reader thread; then the write handle. Whatever step fails, the
// record goes into the table as far as it was built, so that the other calls
// answer for what exists and CloseInterface releases it.
//
// Once the library's end of life has begun nothing is opened (211), and a
// row holds one opening: a SetupInterface that finds another one building
// the same row's opening answers 212 and changes nothing.
#include "frame/end_of_life.h"
#include "frame/library_state.h"
#include "interface/reader_worker.h"
#include "interface/slot_references.h"
#include "interface/teardown.h"
#include "juxhid.h"
#include "juxhid_status.h"

namespace juxhid {
namespace {

int32_t openFailureStatus(uint32_t error, int32_t denied, int32_t notFound, int32_t other) {
    if (error == platform::kErrorAccessDenied) return denied;
    if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) return notFound;
    return other;
}

int32_t openInputSide(InterfaceSlot& slot, const DeviceEntry& entry) {
    slot.readLock = platform::lockCreate();
    slot.dataSignal = platform::signalCreate();
    slot.errorSignal = platform::signalCreate();
    if (slot.readLock == nullptr || slot.dataSignal == nullptr || slot.errorSignal == nullptr)
        return JUXHID_OPEN_NO_SYNC_OBJECTS;
    uint32_t error = 0;
    slot.readHandle = platform::deviceOpen(entry.openPath, platform::Access::Read, &error);
    if (slot.readHandle == nullptr)
        return openFailureStatus(error, JUXHID_OPEN_READ_DENIED, JUXHID_OPEN_READ_NOT_FOUND,
                                 JUXHID_OPEN_READ_FAILED);
    if (!prepareReaderScratch(slot)) return JUXHID_OPEN_NO_READER;
    if (!startReaderWorker(slot)) {
        releaseReaderScratch(slot);
        return JUXHID_OPEN_NO_READER;
    }
    return JUXHID_OK;
}

int32_t openOutputSide(InterfaceSlot& slot, const DeviceEntry& entry) {
    uint32_t error = 0;
    slot.writeHandle = platform::deviceOpen(entry.openPath, platform::Access::Write, &error);
    if (slot.writeHandle == nullptr)
        return openFailureStatus(error, JUXHID_OPEN_WRITE_DENIED, JUXHID_OPEN_WRITE_NOT_FOUND,
                                 JUXHID_OPEN_WRITE_FAILED);
    return JUXHID_OK;
}

int32_t buildOpening(InterfaceSlot& slot, const DeviceEntry& entry) {
    slot.readLength = entry.InputReportByteLength;
    slot.writeLength = entry.OutputReportByteLength;
    slot.readRing.create(entry.InputReportByteLength);
    slot.writeRing.create(entry.OutputReportByteLength);
    if (entry.InputReportByteLength != 0) {
        if (const int32_t status = openInputSide(slot, entry)) return status;
    }
    return openOutputSide(slot, entry);
}

// Closes the earlier opening and builds and publishes the new one; the
// caller holds the row's claim, so nobody else publishes meanwhile.
int32_t replaceOpening(int32_t index) {
    closeInterface(index);
    InterfaceSlot* slot = createSlot();
    if (slot == nullptr) return JUXHID_OPEN_NO_SYNC_OBJECTS;
    const int32_t status = buildOpening(*slot, state().devices[index]);
    publishSlot(index, slot);
    return status;
}

int32_t setupInterface(int32_t index) {
    if (!isListedIndex(index)) return JUXHID_OPEN_BAD_INDEX;
    const GatePass pass;
    if (!pass) return JUXHID_OPEN_UNLOADING;
    std::atomic<bool>& opening = state().interfaces[index].opening;
    if (opening.exchange(true, std::memory_order_acq_rel)) return JUXHID_OPEN_IN_PROGRESS;
    const int32_t status = replaceOpening(index);
    opening.store(false, std::memory_order_release);
    return status;
}

}  // namespace
}  // namespace juxhid

extern "C" JUXHID_API int32_t JUXHID_CALL SetupInterface(int32_t index) {
    return juxhid::setupInterface(index);
}
