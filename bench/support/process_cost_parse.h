// Reading the kernel's per-thread and per-process counters out of the text of
// /proc files, shared by the Linux and the Wine samplers.
#pragma once

#include <cstdint>
#include <string>

namespace juxhid::bench {

// voluntary_ctxt_switches + nonvoluntary_ctxt_switches of a status file.
uint64_t contextSwitchesInStatus(const std::string& status);

// Time spent on a CPU, in nanoseconds, of a thread's schedstat file.
uint64_t cpuNsInSchedstat(const std::string& schedstat);

}  // namespace juxhid::bench
