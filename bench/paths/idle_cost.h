// What the process costs when nothing happens: CPU and wake-ups over a
// window of wall time with the library in a given idle state, beside the
// same process with the library loaded and nothing open.
#pragma once

#include <string>

#include "paths/cost_window.h"

namespace juxhid::bench {

enum class Idle {
    NothingOpen,        // the library loaded, nothing open: the floor
    InterfacesOpen,     // 25 interfaces open, no reports, no writes, no callbacks
    CallbacksSet,       // the same with a data callback set on each
    UnhandledUnplug,    // one interface whose device went away, with no one told
    UnplugWithCallback, // the same with a data callback set, and no error callback
    PacingDrained,      // one interface after a queued chain of writes went out
};

struct IdleCost {
    CostWindow window;
    std::string error;  // empty when the state was reached and measured
};

// Brings the library into `state`, lets it settle for `settleSeconds`, then
// measures over `windowSeconds`; closes everything afterwards.
IdleCost measureIdle(Idle state, double settleSeconds, double windowSeconds);

}  // namespace juxhid::bench
