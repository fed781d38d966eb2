// The simulated-bus build: the bus starts empty, so --sim-attach puts devices
// on it, --sim-feed makes a monitored device send reports and then unplug,
// and send shows when each report reached the device.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench.h"
#include "juxhid_sim.h"
#include "messages.h"
#include "sim_outputs.h"
#include "sim_replay.h"

namespace juxhid::tool {
namespace {

struct AttachedDevice {
    int32_t id;
    SimDeviceSpec spec;
    std::string path;
};

std::vector<AttachedDevice> g_attached;
std::thread g_feeder;
std::atomic<bool> g_stopFeeding{false};  // the command ended first (Ctrl-C, SIGTERM)
JuxsimReplay* g_replay = nullptr;  // --sim-replay

// The bus lists devices in attach order, so the n-th attached device of a
// vendor is that vendor's index n.
const AttachedDevice* attachedAt(uint32_t vendor, int32_t index) {
    int32_t seen = 0;
    for (const AttachedDevice& device : g_attached) {
        if (device.spec.vendorId != vendor) continue;
        if (seen++ == index) return &device;
    }
    return nullptr;
}

// Report n: report-ID byte 0, then n's low and high byte, then a fill byte.
void feed(AttachedDevice device, int32_t count) {
    std::vector<uint8_t> report(device.spec.inputLength, 0xA5);
    for (int32_t n = 0; n < count; ++n) {
        if (g_stopFeeding) return;
        if (report.size() > 0) report[0] = 0;
        if (report.size() > 1) report[1] = static_cast<uint8_t>(n);
        if (report.size() > 2) report[2] = static_cast<uint8_t>(n >> 8);
        juxsim_deliver(device.id, report.data(), static_cast<uint32_t>(report.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    juxsim_detach(device.id);
}

// watch --sim-feed N: every attached device is unplugged and plugged in again
// N times, 20 ms apart, under its own path; then the tool is told to stop as
// a service manager would tell it.
void replug(int32_t rounds) {
    for (int32_t round = 0; round < rounds; ++round) {
        for (AttachedDevice& device : g_attached) juxsim_detach(device.id);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (AttachedDevice& device : g_attached) {
            const SimDeviceSpec& spec = device.spec;
            const JuxsimDeviceInfo info{spec.vendorId, spec.productId,   spec.usagePage,     spec.usage,
                                        spec.inputLength, spec.outputLength, device.path.c_str()};
            device.id = juxsim_attach(&info);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::raise(SIGTERM);
}

// --sim-deny: every open for reading (or writing) fails as access denied.
bool denyOpens(const std::string& which) {
    if (which.empty()) return true;
    constexpr uint32_t kAccessDenied = 5;
    const JuxsimFault fault{which == "read" ? JUXSIM_CALL_OPEN_READ : JUXSIM_CALL_OPEN_WRITE,
                            JUXSIM_THREAD_ANY, 0, 0, -1, kAccessDenied, 0};
    return juxsim_fault_arm(&fault) > 0;
}

std::string simPath(const SimDeviceSpec& spec, size_t order) {
    char path[64];
    std::snprintf(path, sizeof path, "sim/vid_%04x&pid_%04x/%zu", static_cast<unsigned>(spec.vendorId),
                  static_cast<unsigned>(spec.productId), order);
    return path;
}

}  // namespace

bool benchIsSimulated() { return true; }

bool benchPrepare(const CommandLine& line) {
    for (const SimDeviceSpec& spec : line.simAttach) {
        std::string path = simPath(spec, g_attached.size());
        const JuxsimDeviceInfo info{spec.vendorId,    spec.productId,    spec.usagePage,
                                    spec.usage,       spec.inputLength,  spec.outputLength, path.c_str()};
        const int32_t id = juxsim_attach(&info);
        if (id <= 0) {
            complain("the simulated bus refused a device");
            return false;
        }
        g_attached.push_back({id, spec, std::move(path)});
    }
    if (!line.simReplay.empty()) {
        g_replay = startReplay(line.simReplay, line.simSpeed);
        if (g_replay == nullptr) return false;
    }
    if (!denyOpens(line.simDeny)) {
        complain("the simulated bus refused --sim-deny %s", line.simDeny.c_str());
        return false;
    }
    return true;
}

std::string benchAccessAdvice(uint32_t vendor, uint32_t productId) {
    std::string where = "no attached device has that product";
    for (const AttachedDevice& device : g_attached) {
        if (device.spec.vendorId == vendor && device.spec.productId == productId) {
            where = "the device is " + device.path + " on the simulated bus, refused by --sim-deny";
            break;
        }
    }
    return where + ". With real devices on Linux a udev rule grants access: see docs/linux.md";
}

void benchInterfaceReady(const CommandLine& line, int32_t index) {
    const AttachedDevice* device = attachedAt(*line.vendor, index);
    if (line.simFeed > 0 && device) g_feeder = std::thread(feed, *device, line.simFeed);
}

void benchWatchReady(const CommandLine& line) {
    if (line.simFeed > 0) g_feeder = std::thread(replug, line.simFeed);
}

void benchReportsSent(const CommandLine& line, int32_t index) {
    const AttachedDevice* device = attachedAt(*line.vendor, index);
    if (!device) return;
    std::printf("the simulated device received:\n");
    printReceivedOutputs(device->id, "  ");
}

void benchFinish() {
    g_stopFeeding = true;
    if (g_feeder.joinable()) g_feeder.join();
    juxsim_replay_free(g_replay);
    g_replay = nullptr;
}

}  // namespace juxhid::tool
