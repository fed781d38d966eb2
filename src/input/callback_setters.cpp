// SetDataCallback and SetErrorCallback store the host's functions under
// readLock and start the interface's callback worker the first time one of
// them qualifies; a worker that has ended is not started again within the
// same opening. Each call holds a reference to the opening, so a worker that
// calls a teardown at once (the device is already gone) cannot take the
// lock away from under the setter. Once the library's end of life has begun
// the setters change nothing and start nothing (706).
#include "frame/end_of_life.h"
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "input/callback_worker.h"
#include "interface/slot_references.h"
#include "juxhid.h"
#include "juxhid_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kSetterLockWaitMs = 500;

// Only a complete input side can serve callbacks: a worker without both
// signals would have nothing to wait on.
bool servesCallbacks(const InterfaceSlot& slot) {
    return slot.readLock != nullptr && slot.dataSignal != nullptr && slot.errorSignal != nullptr;
}

int32_t releaseLock(InterfaceSlot& slot) {
    return platform::lockRelease(slot.readLock) ? JUXHID_OK : JUXHID_CALLBACK_RELEASE_FAILED;
}

// Starts the worker if none was recorded in this opening, then releases.
int32_t startWorkerAndRelease(InterfaceSlot& slot) {
    if (slot.callbackThread.load() == nullptr && !startCallbackWorker(slot)) {
        platform::lockRelease(slot.readLock);
        return JUXHID_CALLBACK_NO_WORKER;
    }
    return releaseLock(slot);
}

// The checks and the lock wait shared by both setters, then `apply` with the
// lock held; `apply` releases it and answers.
template <typename Apply>
int32_t withLockedSlot(int32_t index, Apply apply) {
    if (!isListedIndex(index)) return JUXHID_CALLBACK_NOT_OPEN;
    const GatePass pass;
    if (!pass) return JUXHID_CALLBACK_UNLOADING;
    SlotRef slot{index};
    if (!slot || !servesCallbacks(*slot)) return JUXHID_CALLBACK_NOT_OPEN;
    if (!tryLock(slot->readLock, kSetterLockWaitMs)) return JUXHID_CALLBACK_LOCK_FAILED;
    return apply(*slot);
}

int32_t setDataCallback(int32_t index, uint32_t mode, JuxhidDataCallback callback) {
    return withLockedSlot(index, [&](InterfaceSlot& slot) {
        slot.dataCallbackMode = mode;
        if (mode == 0) {
            // Mode 0 leaves a running worker running: it still serves the
            // error callback.
            slot.dataCallback = nullptr;
            return releaseLock(slot);
        }
        slot.dataCallback = callback;
        return startWorkerAndRelease(slot);
    });
}

int32_t setErrorCallback(int32_t index, JuxhidErrorCallback callback) {
    return withLockedSlot(index, [&](InterfaceSlot& slot) {
        slot.errorCallback = callback;
        // A worker that saw the unplug with no error callback to call waits
        // for data wake-ups alone: this one tells it there is one now. (A
        // worker yet to see the unplug finds the callback by itself; waking
        // it through dataSignal would hand its last report out again.)
        if (callback != nullptr && slot.workerAwaitsErrorCallback.load()) platform::signalSet(slot.dataSignal);
        return startWorkerAndRelease(slot);
    });
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
