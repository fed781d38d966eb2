// The process's counters on Windows: its CPU time from GetProcessTimes and,
// under Wine, the kernel's per-thread counters of the Linux process that
// Wine runs it in, read through the Z: drive (Wine's view of the root). A
// Windows program cannot learn its Linux process ID, and /proc/self seen
// through Wine names the Wine server, so the process is found by its command
// name: the executable's file name, which Wine gives the Linux process.
#include <windows.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/process_cost.h"
#include "support/process_cost_parse.h"

namespace juxhid::bench {
namespace {

constexpr size_t kCommandNameLength = 15;  // the kernel keeps no more of it

std::string fileText(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return text;
}

uint64_t ns(const FILETIME& time) {
    return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 100;
}

std::string ownCommandName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path);
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    return name.substr(0, kCommandNameLength);
}

template <typename Visit>
void forEachEntry(const std::string& directory, Visit visit) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.cFileName[0] != '.') visit(std::string(found.cFileName));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Z:\proc\PID of this process, found once; empty when not under Wine.
const std::string& ownProcDirectory() {
    static const std::string directory = [] {
        std::string match;
        const std::string wanted = ownCommandName() + "\n";
        forEachEntry("Z:\\proc", [&](const std::string& entry) {
            if (match.empty() && entry.find_first_not_of("0123456789") == std::string::npos &&
                fileText("Z:\\proc\\" + entry + "\\comm") == wanted)
                match = "Z:\\proc\\" + entry;
        });
        return match;
    }();
    return directory;
}

// Adds the counters of every thread of the process in `procDirectory`.
void addTasksCost(const std::string& procDirectory, ProcessCost& cost) {
    if (procDirectory.empty()) return;
    forEachEntry(procDirectory + "\\task", [&](const std::string& task) {
        const std::string taskDirectory = procDirectory + "\\task\\" + task;
        cost.wakeups += contextSwitchesInStatus(fileText(taskDirectory + "\\status"));
        cost.cpuNs += cpuNsInSchedstat(fileText(taskDirectory + "\\schedstat"));
        ++cost.threads;
    });
    cost.wakeupsKnown = cost.threads > 0;
    // The threads' counters are read one by one during the walk itself.
    cost.cpuNsAtStart = cost.cpuNs;
}

ProcessCost tasksCost(const std::string& procDirectory) {
    ProcessCost cost;
    addTasksCost(procDirectory, cost);
    return cost;
}

// Z:\proc\PID of every process whose command name is one of `names`.
std::vector<std::string> namedProcDirectories(const std::vector<std::string>& names) {
    std::vector<std::string> found;
    forEachEntry("Z:\\proc", [&](const std::string& entry) {
        if (entry.find_first_not_of("0123456789") != std::string::npos) return;
        const std::string comm = fileText("Z:\\proc\\" + entry + "\\comm");
        for (const std::string& name : names)
            if (comm == name + "\n") found.push_back("Z:\\proc\\" + entry);
    });
    return found;
}

}  // namespace

// Under Wine the threads' scheduler counters give CPU time to the
// nanosecond, where GetProcessTimes counts whole 10 ms ticks.
ProcessCost sampleProcessCost() {
    ProcessCost cost = tasksCost(ownProcDirectory());
    FILETIME created, exited, kernel, user;
    if (cost.cpuNs == 0 && GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        cost.cpuNs = ns(kernel) + ns(user);
    // The threads' counters are read one by one during the walk itself.
    cost.cpuNsAtStart = cost.cpuNs;
    return cost;
}

namespace {

// /proc/self seen through Wine names the server for its own files (its status
// says "wineserver"), but its task files read through Z:\proc\self\task gave
// no counters at all (every figure zero): the server is found by the process
// ID its status file gives, once, and read through that directory.
const std::string& serverProcDirectory() {
    static const std::string directory = [] {
        const std::string status = fileText("Z:\\proc\\self\\status");
        const size_t at = status.find("\nPid:");
        if (at == std::string::npos) return std::string();
        const unsigned long pid = std::strtoul(status.c_str() + at + 5, nullptr, 10);
        return pid == 0 ? std::string() : "Z:\\proc\\" + std::to_string(pid);
    }();
    return directory;
}

}  // namespace

ProcessCost sampleWineServerCost() { return tasksCost(serverProcDirectory()); }

ProcessCost sampleProcessesNamed(const std::vector<std::string>& names, uint32_t* processes) {
    static std::mutex guard;
    static std::map<std::vector<std::string>, std::vector<std::string>> found;
    std::vector<std::string> directories;
    {
        const std::lock_guard<std::mutex> hold(guard);
        auto known = found.find(names);
        if (known == found.end()) known = found.emplace(names, namedProcDirectories(names)).first;
        directories = known->second;
    }
    ProcessCost cost;
    for (const std::string& directory : directories) addTasksCost(directory, cost);
    if (processes != nullptr) *processes = static_cast<uint32_t>(directories.size());
    return cost;
}

std::string processCostSource() {
    return ownProcDirectory().empty() ? "GetProcessTimes (no /proc: not under Wine)"
                                      : "" + ownProcDirectory() + "\\task (Linux counters through Wine)";
}

}  // namespace juxhid::bench
