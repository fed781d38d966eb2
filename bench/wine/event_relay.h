// The floor of the callback path on Windows: the relay of the two-wake-up
// floor built from the system's own events (SetEvent and
// WaitForSingleObject), which is what every wait of the library's threads
// comes down to there, and under Wine a round trip through its server.
#pragma once

#include <memory>

#include "paths/relay.h"

namespace juxhid::bench {

std::unique_ptr<Relay> startEventRelay(double rate, uint64_t total, LatencyRun& result);

}  // namespace juxhid::bench
