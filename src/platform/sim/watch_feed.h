// What the bus tells the device watches: every attach is an arrival, every
// unplug of an attached device a removal. Called with the bus mutex held,
// which also guards the watches' queues, so a watch opened with the present
// devices sees each device either in that listing or as an event, never both
// and never neither.
#pragma once

#include "platform/sim/bus.h"

namespace juxhid::sim {

void announceArrival(const SimDevice& device);
void announceRemoval(const SimDevice& device);

// At unload, before every thread of the library is waited for: the watches
// still running are stopped (their threads would otherwise never end).
void stopWatchesForUnload();

}  // namespace juxhid::sim
