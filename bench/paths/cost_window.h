// What the process costs while something runs in its background threads:
// CPU time and wake-ups over a window of wall time, and how many items
// (reports, hand-overs) went through meanwhile. The window opens only after
// a warm-up, when every thread of the run exists, and closes before any of
// them ends, so no thread's wake-ups are lost to the count.
#pragma once

#include <cstdint>
#include <functional>

#include "support/process_cost.h"

namespace juxhid::bench {

struct CostWindow {
    uint64_t wallNs = 0;
    ProcessCost process;  // this process over the window
    ProcessCost server;   // the Wine server beside it (nothing known natively)
    uint64_t items = 0;

    double cpuUsPerItem() const;
    double wakeupsPerItem() const;
    double percentOfCore() const;
    double wakeupsPerSecond() const;
    double serverPercentOfCore() const;
    double serverWakeupsPerSecond() const;
    double itemsPerSecond() const;
};

// Waits `warmupSeconds`, then samples the counters over `windowSeconds`;
// `itemsSoFar` counts what went through since the run began.
CostWindow measureWindow(double warmupSeconds, double windowSeconds, const std::function<uint64_t()>& itemsSoFar);

// The window's figures from two samples each. Reading the counters costs
// CPU of its own inside the window, more with more threads, and under Wine
// wake-ups too, of the process and of the server (every file opened is a
// call to the server). What one more round of samples cost just before
// (`processSampling`, `serverSampling`) is taken out of each.
CostWindow windowBetween(const ProcessCost& processBefore, const ProcessCost& processAfter,
                         const ProcessCost& serverBefore, const ProcessCost& serverAfter, uint64_t wallNs,
                         uint64_t items, const ProcessCost& processSampling, const ProcessCost& serverSampling);

}  // namespace juxhid::bench
