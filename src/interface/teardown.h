// Ending an opening: CloseInterface for an orderly end, CleanupInterface after
// the device has gone, and the stop of every opening before the library goes.
//
// A teardown takes the opening out of the table, asks its workers to stop,
// ends the transfers that could hold them (a pending read, a write stalled in
// the device) and gives them a bounded wait; then it lets go of the table's
// reference. Whatever a worker, a call in progress or a pacing tick still
// holds is released by the last of them to let go, so a teardown never waits
// for anything unbounded, also when it runs inside a callback or when two
// callbacks tear down each other's interfaces.
#pragma once

#include <cstdint>

namespace juxhid {

void closeInterface(int32_t index);
void cleanupInterface(int32_t index);

// Before the library goes away, once nothing new can start: every opening is
// told to stop and its transfers are ended, then every worker is waited for,
// out of `budgetMs` (what it waited is taken from it), before any interface
// is released. A callback still running for one interface may be polling
// another, which must still be open then. A worker still in the host's code
// when the budget is spent is left there with its own reference.
void stopEveryOpening(uint32_t& budgetMs);

// The close of one interface at unload, after stopEveryOpening: the workers
// were already waited for, so it waits for nothing.
void closeInterfaceAtUnload(int32_t index);

}  // namespace juxhid
