// ReaderWorker: the background thread of one open interface with input
// reports. It reads one report at a time with blocking reads, stores every
// complete one in readRing under readLock, wakes the callback worker through
// dataSignal when a data callback mode is set, and raises errorSignal when the
// device is gone. It holds a reference to its opening for its whole life.
#pragma once

#include <cstdint>

namespace juxhid {

struct InterfaceSlot;

// Longest input report the reader's buffer is sized for; a longer one gets a
// buffer of its own length.
inline constexpr uint32_t kReaderScratchBytes = 1024;

// The scratch buffer the reader of `slot` will use; obtained by the opener
// before it starts the thread. False when the memory cannot be had.
bool prepareReaderScratch(InterfaceSlot& slot);
void releaseReaderScratch(InterfaceSlot& slot);

// Starts the reader with a reference of its own; false when it cannot start.
bool startReaderWorker(InterfaceSlot& slot);

}  // namespace juxhid
