// Output pacing as the devices see it: a chain is started and every
// interface's queue is filled, then the times at which the devices received
// their reports give the interval between consecutive reports of each
// interface, and how late each came against the chain's nominal interval.
// Also the direct write: what the call costs and how soon its report is on
// the bus.
#pragma once

#include <cstdint>

#include "support/samples.h"
#include "support/sim_devices.h"

namespace juxhid::bench {

enum class Interval { Slow, Fast };  // WriteData's 50 ms, FastWrite's 5 ms

struct PacingRun {
    explicit PacingRun(size_t capacity) : lateness(capacity), queuedCall(capacity) {}
    Samples lateness;    // ns past the nominal interval (early intervals count as 0)
    Samples queuedCall;  // ns a queued write took the caller
    uint64_t written = 0;
    uint64_t received = 0;
    uint64_t early = 0;       // intervals shorter than nominal
    uint64_t misordered = 0;  // reports that reached a device out of order
    uint64_t refused = 0;     // writes that did not answer 0
    int64_t allocationRequests = 0;
    int64_t blocksHeldChange = 0;
    bool timedOut = false;
};

// One chain: `reportsEach` reports to every open interface (at most 128: the
// first of every interface but the one that starts the chain waits in its
// queue). Called again with the same result, it adds another chain's worth.
void measurePacing(const SimDevices& devices, Interval interval, uint32_t reportsEach, PacingRun& result,
                   Count count = Count::HeldBlocks);

struct DirectWriteRun {
    explicit DirectWriteRun(size_t capacity) : call(capacity), toBus(capacity) {}
    Samples call;   // ns from entering FastWrite to its return
    Samples toBus;  // ns from entering FastWrite to the device's receipt
    uint64_t refused = 0;
    int64_t allocationRequests = 0;
    int64_t blocksHeldChange = 0;
};

// `writes` direct writes, each from an idle chain.
void measureDirectWrites(const SimDevices& devices, uint32_t writes, DirectWriteRun& result,
                         Count count = Count::HeldBlocks);

}  // namespace juxhid::bench
