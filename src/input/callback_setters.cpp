// SetDataCallback and SetErrorCallback store the host's functions under
// readLock and start the interface's callback worker the first time one of
// them qualifies; a worker that has ended is not started again within the
// same opening.
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "input/callback_worker.h"
#include "juxhid.h"
#include "juxhid_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kSetterLockWaitMs = 500;

// Index and lock checks shared by both setters; JUXHID_OK when the lock is held.
int32_t lockForSetting(int32_t index) {
    if (!isListedIndex(index)) return JUXHID_CALLBACK_NOT_OPEN;
    InterfaceSlot& slot = state().slots[index];
    if (slot.readLock == nullptr) return JUXHID_CALLBACK_NOT_OPEN;
    if (!tryLock(slot.readLock, kSetterLockWaitMs)) return JUXHID_CALLBACK_LOCK_FAILED;
    return JUXHID_OK;
}

// Starts the worker if none was recorded in this opening, then releases.
int32_t startWorkerAndRelease(InterfaceSlot& slot) {
    if (slot.callbackThread == nullptr && !startCallbackWorker(slot)) {
        platform::lockRelease(slot.readLock);
        return JUXHID_CALLBACK_NO_WORKER;
    }
    return platform::lockRelease(slot.readLock) ? JUXHID_OK : JUXHID_CALLBACK_RELEASE_FAILED;
}

int32_t setDataCallback(int32_t index, uint32_t mode, JuxhidDataCallback callback) {
    if (const int32_t refused = lockForSetting(index)) return refused;
    InterfaceSlot& slot = state().slots[index];
    slot.dataCallbackMode = mode;
    if (mode == 0) {
        // Mode 0 leaves a running worker running: it still serves the
        // error callback.
        slot.dataCallback = nullptr;
        return platform::lockRelease(slot.readLock) ? JUXHID_OK : JUXHID_CALLBACK_RELEASE_FAILED;
    }
    slot.dataCallback = callback;
    return startWorkerAndRelease(slot);
}

int32_t setErrorCallback(int32_t index, JuxhidErrorCallback callback) {
    if (const int32_t refused = lockForSetting(index)) return refused;
    InterfaceSlot& slot = state().slots[index];
    slot.errorCallback = callback;
    return startWorkerAndRelease(slot);
}

}  // namespace
}  // namespace juxhid

extern "C" JUXHID_API int32_t JUXHID_CALL SetDataCallback(int32_t index, uint32_t mode,
                                                          JuxhidDataCallback callback) {
    return juxhid::setDataCallback(index, mode, callback);
}

extern "C" JUXHID_API int32_t JUXHID_CALL SetErrorCallback(int32_t index,
                                                           JuxhidErrorCallback callback) {
    return juxhid::setErrorCallback(index, callback);
}
