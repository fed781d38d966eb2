// The process's counters on Linux: its CPU clock, and each thread's status
// file under /proc/self/task.
#include <dirent.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "support/process_cost.h"
#include "support/process_cost_parse.h"

namespace juxhid::bench {
namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

uint64_t processCpuNs() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return static_cast<uint64_t>(cpu.tv_sec) * 1'000'000'000ULL + static_cast<uint64_t>(cpu.tv_nsec);
}

void countWakeups(ProcessCost& cost) {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        cost.wakeups += contextSwitchesInStatus(fileText(std::string("/proc/self/task/") + entry->d_name + "/status"));
        ++cost.threads;
    }
    closedir(tasks);
    cost.wakeupsKnown = true;
}

}  // namespace

ProcessCost sampleProcessCost() {
    ProcessCost cost;
    cost.cpuNsAtStart = processCpuNs();
    countWakeups(cost);
    cost.cpuNs = processCpuNs();
    return cost;
}

ProcessCost sampleWineServerCost() { return {}; }

std::string processCostSource() { return "/proc/self/task"; }

}  // namespace juxhid::bench
