// The polled reads: ReadData takes the oldest unread report, ReadLast copies
// the newest one (waiting about half a second for a first), ClearBuffer
// forgets every stored report. Each holds a reference to the opening for its
// length and readLock only for its work on the ring, and writes the caller's
// buffer only when it answers with a report.
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "interface/slot_references.h"
#include "juxhid.h"
#include "juxhid_status.h"

namespace juxhid {
namespace {

constexpr uint32_t kReadLockWaitMs = 500;
constexpr int32_t kReadLastLooks = 11;
constexpr uint32_t kReadLastPauseMs = 50;

bool hasNoInput(int32_t index) { return state().devices[index].InputReportByteLength == 0; }

// The status of a read that found no opening, or one without its signals:
// `notOpen`, unless a cleanup left the interface in a state of its own.
int32_t missingInputStatus(int32_t index, const SlotRef& slot, int32_t notOpen, int32_t noLock,
                           int32_t gone) {
    if (slot) return notOpen;
    switch (state().interfaces[index].leftover.load()) {
        case Leftover::CleanedUpWhileAttached: return noLock;
        case Leftover::CleanedUpAsItWentAway: return gone;
        case Leftover::None: break;
    }
    return notOpen;
}

int32_t readData(int32_t index, void* buffer) {
    if (!isListedIndex(index)) return JUXHID_READ_NOT_OPEN;
    if (buffer == nullptr) return JUXHID_READ_BAD_POINTER;
    if (hasNoInput(index)) return JUXHID_READ_NO_INPUT;
    SlotRef slot{index};
    if (!slot || slot->errorSignal == nullptr)
        return missingInputStatus(index, slot, JUXHID_READ_NOT_OPEN, JUXHID_READ_NO_LOCK,
                                  JUXHID_READ_DEVICE_GONE);
    // The reader stores a device's last reports before it signals that the
    // device is gone, so a ring found empty after the signal was seen holds
    // nothing more: the unread reports are handed out first, then 307.
    const bool gone = platform::signalIsSet(slot->errorSignal);
    // An opening whose lock could not be created (203) never opened.
    if (slot->readLock == nullptr) return JUXHID_READ_NOT_OPEN;
    const int32_t wait = platform::lockWait(slot->readLock, kReadLockWaitMs);
    if (!isAcquired(wait)) return 3000 + wait;
    const bool taken = slot->readRing.popOldest(buffer);
    const bool released = platform::lockRelease(slot->readLock);
    if (taken) return released ? JUXHID_OK : JUXHID_READ_RELEASE_FAILED;
    if (gone) return JUXHID_READ_DEVICE_GONE;
    return released ? JUXHID_READ_EMPTY : JUXHID_READ_EMPTY_RELEASE_FAILED;
}

int32_t readLast(int32_t index, void* buffer) {
    if (!isListedIndex(index)) return JUXHID_LAST_NOT_OPEN;
    if (buffer == nullptr) return JUXHID_LAST_BAD_POINTER;
    if (hasNoInput(index)) return JUXHID_LAST_NO_INPUT;
    SlotRef slot{index};
    if (!slot || slot->errorSignal == nullptr)
        return missingInputStatus(index, slot, JUXHID_LAST_NOT_OPEN, JUXHID_LAST_LOCK_FAILED,
                                  JUXHID_LAST_DEVICE_GONE);
    if (platform::signalIsSet(slot->errorSignal)) return JUXHID_LAST_DEVICE_GONE;
    // The lock is never held across a pause, so the reader can store the
    // report being waited for.
    for (int32_t look = 1;; ++look) {
        if (!tryLock(slot->readLock, kReadLockWaitMs)) return JUXHID_LAST_LOCK_FAILED;
        if (slot->readRing.hasReport()) {
            slot->readRing.peekNewest(buffer);
            return platform::lockRelease(slot->readLock) ? JUXHID_OK : JUXHID_LAST_RELEASE_FAILED;
        }
        if (!platform::lockRelease(slot->readLock)) return JUXHID_LAST_RELEASE_FAILED;
        if (look == kReadLastLooks) return JUXHID_LAST_NO_REPORT;
        platform::sleepMs(kReadLastPauseMs);
    }
}

int32_t clearBuffer(int32_t index) {
    if (!isListedIndex(index)) return JUXHID_CLEAR_NOT_OPEN;
    SlotRef slot{index};
    if (!slot || slot->readLock == nullptr) return JUXHID_CLEAR_NOT_OPEN;
    if (!tryLock(slot->readLock, kReadLockWaitMs)) return JUXHID_CLEAR_LOCK_FAILED;
    slot->readRing.clear();
    return platform::lockRelease(slot->readLock) ? JUXHID_OK : JUXHID_CLEAR_RELEASE_FAILED;
}

}  // namespace
}  // namespace juxhid

extern "C" JUXHID_API int32_t JUXHID_CALL ReadData(int32_t index, void* buffer) {
    return juxhid::readData(index, buffer);
}

extern "C" JUXHID_API int32_t JUXHID_CALL ReadLast(int32_t index, void* buffer) {
    return juxhid::readLast(index, buffer);
}

extern "C" JUXHID_API int32_t JUXHID_CALL ClearBuffer(int32_t index) {
    return juxhid::clearBuffer(index);
}
