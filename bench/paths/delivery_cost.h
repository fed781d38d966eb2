// What delivering input reports costs the process, per report, with the
// library's real reader and callback threads on the simulated bus: by data
// callback on 1 to 25 interfaces, by polling with ReadData, and the same
// measured on the floor relay. Each run delivers without end until its
// window has been sampled, so every thread is alive while it is.
//
// The process also runs the bus's feeder (the thread that delivers the
// reports, as a device would): every figure includes it, and
// measureFeederAlone gives its share on its own, delivering to a device
// that no interface has open. The floor's figures likewise include its
// sender.
#pragma once

#include <cstdint>
#include <string>

#include "paths/cost_window.h"
#include "paths/relay.h"
#include "support/samples.h"

namespace juxhid::bench {

struct CostSettings {
    double warmupSeconds;  // after the start, before the window opens
    double windowSeconds;
};

struct DeliveryCost {
    CostWindow window;     // items: reports delivered by the bus (or handed over by the floor's sender)
    Summary latency;       // callback (or floor) latency over the whole run; empty when polled
    uint64_t delivered = 0;
    uint64_t taken = 0;    // callbacks made, or reports ReadData took
    double askedRate = 0;  // reports/s asked in all
    std::string error;     // empty when the run could measure
};

// `interfaces` interfaces, each in every-wake-up callback mode, the bus
// delivering `perInterfaceRate` reports/s to each.
DeliveryCost measureCallbackCost(int32_t interfaces, double perInterfaceRate, const CostSettings& settings);

// One interface polled with ReadData by a host thread that takes every
// unread report once a millisecond (a USB frame), as a polling host would.
DeliveryCost measurePollingCost(double rate, const CostSettings& settings);

// The bus's feeder alone: the same deliveries to a device nobody has open.
DeliveryCost measureFeederAlone(double rate, const CostSettings& settings);

// The floor relay `start` makes, at `rate` hand-overs/s in all.
DeliveryCost measureFloorCost(StartRelay start, double rate, const CostSettings& settings);

}  // namespace juxhid::bench
