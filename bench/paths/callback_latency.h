// How soon a report the bus delivered reaches the host's data callback, and
// the least any such path can cost on this machine: two thread wake-ups in a
// row through condition variables (the bus waking the reader, the reader
// waking the callback thread), with no work in between.
#pragma once

#include <atomic>
#include <cstdint>

#include "support/samples.h"
#include "support/sim_devices.h"

namespace juxhid::bench {

struct LatencyRun {
    explicit LatencyRun(size_t capacity) : samples(capacity) {}
    Samples samples;        // nanoseconds from delivery to the callback's entry
    uint64_t delivered = 0;
    std::atomic<uint64_t> calls{0};  // wake-ups that delivered; reports stored meanwhile merge
    int64_t allocationRequests = 0;
    int64_t blocksHeldChange = 0;
    bool failed = false;
};

// One interface in every-wake-up mode, the bus delivering `rate` reports/s.
void measureCallbackLatency(double rate, double seconds, LatencyRun& result,
                            Count count = Count::HeldBlocks);

// The floor: the same pacing, the same clock, two condition-variable hops.
void measureWakeupFloor(double rate, double seconds, LatencyRun& result);

}  // namespace juxhid::bench
