// Ending an opening: CloseInterface for an orderly end, CleanupInterface after
// the device has gone, and the release of leftovers before a slot is reused.
//
// Nothing is destroyed or closed while a worker or a pacing tick can still
// touch it: the workers are waited for until they have really ended (the
// caller-visible waits of 100 ms stay the normal case), and the write queue
// goes under writeLock. A teardown called from a callback on the interface's
// own callback thread does not wait for itself; that worker ends by itself
// after the callback returns, without touching what was released.
#pragma once

#include <cstdint>

namespace juxhid {

struct InterfaceSlot;

void closeInterface(int32_t index);
void cleanupInterface(int32_t index);

// Before SetupInterface builds a slot anew: closes an open interface (as
// CloseInterface does, the pacing tick included) or releases whatever an
// output-only, partly open or cleaned-up slot still holds.
void releaseSlotForOpening(int32_t index);

// Before a listing zeroes the slot of a device it records: anything the slot
// still holds is closed first.
void releaseSlotForRelisting(int32_t index);

// Before the library goes away: every interface's workers are told to stop
// and waited for, all of them, before any interface is released. A callback
// still running for one interface may be polling another, whose ring must
// not go from under it.
void endEveryWorker();

}  // namespace juxhid
