#include "support/process_cost.h"
#include "support/process_cost_parse.h"

#include <cstdlib>
#include <cstring>

namespace juxhid::bench {

ProcessCost costBetween(const ProcessCost& before, const ProcessCost& after) {
    ProcessCost cost;
    cost.cpuNs = after.cpuNsAtStart >= before.cpuNs ? after.cpuNsAtStart - before.cpuNs : 0;
    cost.wakeupsKnown = before.wakeupsKnown && after.wakeupsKnown;
    if (cost.wakeupsKnown && after.wakeups >= before.wakeups) cost.wakeups = after.wakeups - before.wakeups;
    cost.threads = after.threads;
    return cost;
}

uint64_t contextSwitchesInStatus(const std::string& status) {
    uint64_t total = 0;
    for (const char* key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
        // "nonvoluntary..." contains "voluntary...": look for the key at a line's start.
        for (size_t at = status.find(key); at != std::string::npos; at = status.find(key, at + 1)) {
            if (at != 0 && status[at - 1] != '\n') continue;
            total += std::strtoull(status.c_str() + at + std::strlen(key), nullptr, 10);
            break;
        }
    }
    return total;
}

uint64_t cpuNsInSchedstat(const std::string& schedstat) {
    return std::strtoull(schedstat.c_str(), nullptr, 10);
}

double percentOfCore(uint64_t cpuNs, uint64_t wallNs) {
    return wallNs == 0 ? 0.0 : 100.0 * static_cast<double>(cpuNs) / static_cast<double>(wallNs);
}

}  // namespace juxhid::bench
