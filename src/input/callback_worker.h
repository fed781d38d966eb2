// CallbackWorker: the thread that calls an interface's data and error
// callbacks. It wakes on dataSignal (a report was stored while a data mode
// is set) or errorSignal (the device is gone), looks at the newest report
// under readLock, and calls the host with the lock released, so a callback
// may call any exported function, the teardowns of its own interface
// included. It holds a reference to its opening for its whole life.
#pragma once

namespace juxhid {

struct InterfaceSlot;

// Starts the worker for the opening and records it in callbackThread. False
// when its memory or its thread cannot be had.
bool startCallbackWorker(InterfaceSlot& slot);

}  // namespace juxhid
