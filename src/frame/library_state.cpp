#include "frame/library_state.h"

namespace juxhid {

LibraryState& state() {
    static LibraryState library{};
    return library;
}

void zeroSlot(InterfaceSlot& slot) {
    slot.readHandle = nullptr;
    slot.writeHandle = nullptr;
    slot.readLength = 0;
    // Rings are reset only when they exist: a pacing tick may be looking at
    // every slot's (empty) write queue under writeLock meanwhile.
    if (slot.readRing.exists()) slot.readRing = ReportRing{};
    if (slot.writeRing.exists()) slot.writeRing = ReportRing{};
    slot.readLock = nullptr;
    slot.dataSignal = nullptr;
    slot.errorSignal = nullptr;
    slot.readerThread = nullptr;
    slot.callbackThread = nullptr;
    slot.dataCallbackMode = 0;
    slot.dataCallback = nullptr;
    slot.errorCallback = nullptr;
    slot.stopRequested = false;
    slot.readerScratch = nullptr;
    slot.readerScratchBytes = 0;
    // `opening` keeps counting: a worker of an earlier opening must never
    // mistake a later one for its own.
}

}  // namespace juxhid
