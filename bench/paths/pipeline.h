// The input pipeline end to end: the bus delivers numbered reports to every
// device at a fixed rate, each interface's reader stores them, and one
// polling thread drains every ring with ReadData, as a host application
// would. A report is lost when the reader drops it (the bus buffer overflowed
// or the store could not get the lock) or when the ring overwrote it before
// ReadData took it; the numbers tell either apart from a late report.
#pragma once

#include <cstdint>
#include <vector>

#include "support/sim_devices.h"

namespace juxhid::bench {

struct PipelineRun {
    double askedPerDevice = 0;     // reports/s asked of each device
    double achievedPerDevice = 0;  // what the bus side managed on this machine
    uint64_t delivered = 0;
    uint64_t received = 0;
    uint64_t lost = 0;
    // Of those, lost where the drain found a full ring: overwritten in the
    // ring before ReadData came. The rest the reader never stored.
    uint64_t lostRingFull = 0;
    uint64_t outOfOrder = 0;
    uint64_t unreached = 0;   // deliveries that found no open read handle
    uint64_t readErrors = 0;  // ReadData answers other than a report or "empty"
    int64_t allocationRequests = 0;
    int64_t blocksHeldChange = 0;

    bool clean() const { return lost == 0 && outOfOrder == 0 && unreached == 0 && readErrors == 0; }
    // The bus side fell short of the rate asked: the machine, not the
    // library, set the pace.
    bool busFellShort() const { return achievedPerDevice < 0.9 * askedPerDevice; }
};

PipelineRun runPipeline(const SimDevices& devices, double perDeviceRate, double seconds, uint8_t run,
                        Count count = Count::HeldBlocks);

// Doubles the rate from `startRate` until a run loses a report or the bus
// side cannot keep up, at most `steps` runs; returns every run made.
std::vector<PipelineRun> climbRates(const SimDevices& devices, double startRate, double seconds,
                                    int steps, uint8_t firstRun);

// The highest achieved rate among the clean runs; 0 if none was clean.
double highestCleanRate(const std::vector<PipelineRun>& runs);

}  // namespace juxhid::bench
