#include "stack_cost.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <vector>

#include "support/process_cost_parse.h"

namespace juxhid::winekernel {
namespace {

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

template <typename Visit>
void forEachEntry(const std::string& directory, Visit visit) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.cFileName[0] != '.') visit(std::string(found.cFileName));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Z:\proc\PID of every process with one of `names` (as comm gives them).
std::vector<std::string> processDirectories(const std::vector<std::string>& names) {
    std::vector<std::string> found;
    forEachEntry("Z:\\proc", [&](const std::string& entry) {
        if (entry.find_first_not_of("0123456789") != std::string::npos) return;
        const std::string comm = fileText("Z:\\proc\\" + entry + "\\comm");
        for (const std::string& name : names)
            if (comm == name + "\n") found.push_back("Z:\\proc\\" + entry);
    });
    return found;
}

const std::vector<std::string>& wineDeviceDirectories() {
    static const std::vector<std::string> directories = processDirectories({"winedevice.exe"});
    return directories;
}

const std::vector<std::string>& wineServerDirectories() {
    static const std::vector<std::string> directories = processDirectories({"wineserver64", "wineserver"});
    return directories;
}

bench::ProcessCost processesCost(const std::vector<std::string>& processes) {
    bench::ProcessCost cost;
    for (const std::string& process : processes) {
        forEachEntry(process + "\\task", [&](const std::string& task) {
            const std::string directory = process + "\\task\\" + task;
            cost.wakeups += bench::contextSwitchesInStatus(fileText(directory + "\\status"));
            cost.cpuNs += bench::cpuNsInSchedstat(fileText(directory + "\\schedstat"));
            ++cost.threads;
        });
    }
    cost.wakeupsKnown = cost.threads > 0;
    return cost;
}

}  // namespace

bench::ProcessCost sampleWineDeviceCost() { return processesCost(wineDeviceDirectories()); }
uint32_t wineDeviceProcesses() { return static_cast<uint32_t>(wineDeviceDirectories().size()); }
bench::ProcessCost sampleServerByName() { return processesCost(wineServerDirectories()); }
uint32_t wineServerProcesses() { return static_cast<uint32_t>(wineServerDirectories().size()); }

}  // namespace juxhid::winekernel
