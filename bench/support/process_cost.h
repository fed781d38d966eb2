// What a process costs the machine over an interval: the CPU time of all its
// threads, and how often its threads were put to sleep and woken again
// (context switches, counted by the kernel). A library that sits idle in a
// host process should add neither; both are measured, never estimated.
//
// Under Wine the process's threads are Linux threads, so the same kernel
// counters are read through Wine's view of the root file system; every wait
// of a Windows program also involves the Wine server, whose own counters are
// sampled beside the process's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::bench {

struct ProcessCost {
    uint64_t cpuNs = 0;       // user and system time of every thread, when the sample ended
    // The same when the sample began: walking /proc costs the process CPU
    // too (milliseconds in an emulated guest), which an interval between two
    // samples must leave out: it runs from the first's end to the second's start.
    uint64_t cpuNsAtStart = 0;
    uint64_t wakeups = 0;     // voluntary and involuntary context switches of every thread
    uint32_t threads = 0;     // threads counted
    bool wakeupsKnown = false;
};

// This process, now. Wake-ups of threads that ended before the call are lost
// to the count: sample around an interval in which no thread ends.
ProcessCost sampleProcessCost();

// The Wine server's counters, when this runs
// under Wine; nothing known (wakeupsKnown false) elsewhere.
ProcessCost sampleWineServerCost();

#ifdef _WIN32
// Under Wine: the Linux processes whose command name is one of `names`
// ("winedevice.exe", "wineserver64"), found through Z:\proc on the first
// call with those names and summed on every call; *processes, when given,
// says how many were found.
ProcessCost sampleProcessesNamed(const std::vector<std::string>& names, uint32_t* processes = nullptr);
#endif

// The difference `after - before`, with wakeupsKnown only if both knew.
ProcessCost costBetween(const ProcessCost& before, const ProcessCost& after);

// CPU as a share of one core over `wallNs`, in percent.
double percentOfCore(uint64_t cpuNs, uint64_t wallNs);

// Where the counts came from, for the report ("/proc/PID/task", "none").
std::string processCostSource();

}  // namespace juxhid::bench
