// The floor of output pacing on Windows: a bare one-shot multimedia timer
// (timeSetEvent, the service the library's pacing ticks use there), armed
// with the delay and resolution of the 50 ms or 5 ms chain and re-armed
// from its own callback, as a chain's tick re-arms the next. Lateness is the
// interval between consecutive callbacks minus the nominal one, as the
// pacing measurement takes it between consecutive reports on a device.
#pragma once

#include <cstdint>

#include "paths/pacing.h"
#include "support/samples.h"

namespace juxhid::bench {

struct TimerFloorRun {
    explicit TimerFloorRun(size_t capacity) : lateness(capacity) {}
    Samples lateness;  // ns past the nominal interval (early intervals count as 0)
    uint64_t early = 0;
    bool failed = false;  // the timer could not be armed, or stopped firing
};

// `ticks` callbacks in a row.
void measureTimerFloor(Interval interval, uint32_t ticks, TimerFloorRun& result);

}  // namespace juxhid::bench
