// SetupInterface: opens the interface of a listed device. Both rings are
// created; a device with input reports also gets its lock, signals, read
// handle and reader thread; then the write handle is opened. A failing step
// leaves what was created so far in the slot for CloseInterface.
#include "frame/library_state.h"
#include "interface/reader_worker.h"
#include "interface/teardown.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "output/pacing.h"

namespace juxhid {
namespace {

int32_t openFailureStatus(uint32_t error, int32_t denied, int32_t notFound, int32_t other) {
    if (error == platform::kErrorAccessDenied) return denied;
    if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) return notFound;
    return other;
}

void resetCallbackSettings(InterfaceSlot& slot) {
    slot.stopRequested = false;
    slot.callbackThread = nullptr;
    slot.dataCallbackMode = 0;
    slot.dataCallback = nullptr;
    slot.errorCallback = nullptr;
}

int32_t openInputSide(InterfaceSlot& slot, const DeviceEntry& entry) {
    slot.readLock = platform::lockCreate();
    slot.dataSignal = platform::signalCreate();
    slot.errorSignal = platform::signalCreate();
    if (slot.readLock == nullptr || slot.dataSignal == nullptr || slot.errorSignal == nullptr)
        return JUXHID_OPEN_NO_SYNC_OBJECTS;
    uint32_t error = 0;
    slot.readHandle = platform::deviceOpen(entry.DevicePath, platform::Access::Read, &error);
    if (slot.readHandle == nullptr)
        return openFailureStatus(error, JUXHID_OPEN_READ_DENIED, JUXHID_OPEN_READ_NOT_FOUND,
                                 JUXHID_OPEN_READ_FAILED);
    // Any reader of an earlier opening has ended by now (the slot was
    // released first), so a new one always starts here.
    if (prepareReaderScratch(slot)) {
        slot.readerThread = platform::threadStart(runReaderWorker, &slot, platform::ThreadRole::Reader);
    }
    if (slot.readerThread == nullptr) {
        releaseReaderScratch(slot);
        return JUXHID_OPEN_NO_READER;
    }
    return JUXHID_OK;
}

int32_t openOutputSide(InterfaceSlot& slot, const DeviceEntry& entry) {
    uint32_t error = 0;
    slot.writeHandle = platform::deviceOpen(entry.DevicePath, platform::Access::Write, &error);
    if (slot.writeHandle == nullptr)
        return openFailureStatus(error, JUXHID_OPEN_WRITE_DENIED, JUXHID_OPEN_WRITE_NOT_FOUND,
                                 JUXHID_OPEN_WRITE_FAILED);
    return JUXHID_OK;
}

int32_t setupInterface(int32_t index) {
    if (!isListedIndex(index)) return JUXHID_OPEN_BAD_INDEX;
    releaseSlotForOpening(index);
    const DeviceEntry& entry = state().devices[index];
    InterfaceSlot& slot = state().slots[index];
    // A new opening: workers of any earlier one see it and end.
    slot.opening.fetch_add(1);
    slot.readLength = entry.InputReportByteLength;
    slot.readRing.create(entry.InputReportByteLength);
    installWriteQueue(slot, entry.OutputReportByteLength);
    resetCallbackSettings(slot);
    if (entry.InputReportByteLength != 0) {
        const int32_t status = openInputSide(slot, entry);
        if (status != JUXHID_OK) return status;
    }
    return openOutputSide(slot, entry);
}

}  // namespace
}  // namespace juxhid

extern "C" JUXHID_API int32_t JUXHID_CALL SetupInterface(int32_t index) {
    return juxhid::setupInterface(index);
}
