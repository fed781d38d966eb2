// The floor of the callback path as something that keeps running: a sender
// paced at a fixed rate hands stamped items to a relay thread, which hands
// the newest on to a receiver that records how long each took. Its cost can
// then be sampled while it runs, the same way as the library's. The
// condition-variable relay is the floor everywhere; a build for Windows adds
// one made of the system's own events.
#pragma once

#include <cstdint>
#include <memory>

#include "paths/callback_latency.h"

namespace juxhid::bench {

class Relay {
public:
    virtual ~Relay() = default;
    virtual uint64_t handedOver() const = 0;  // items the sender handed over so far
    virtual bool senderDone() const = 0;      // every item of a bounded run handed over
    // Ends the sender, then the relay and the receiver; harmless when repeated.
    virtual void stop() = 0;
};

// `total` items in all, 0 for as many as come until stop(). The receiver
// records into `result` (its samples and calls), which must outlive the relay.
using StartRelay = std::unique_ptr<Relay> (*)(double rate, uint64_t total, LatencyRun& result);

std::unique_ptr<Relay> startConditionRelay(double rate, uint64_t total, LatencyRun& result);

// A bounded run of `seconds` at `rate` through the relay `start` makes.
void measureRelayFloor(StartRelay start, double rate, double seconds, LatencyRun& result);

}  // namespace juxhid::bench
