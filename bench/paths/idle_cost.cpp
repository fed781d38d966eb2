#include "paths/idle_cost.h"

#include <vector>

#include "juxhid.h"
#include "juxhid_sim.h"
#include "juxhid_status.h"
#include "support/sim_devices.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kReportLength = 64;
constexpr uint32_t kQueuedWrites = 5;
constexpr uint32_t kPacingIdleLimitMs = 3000;

int32_t JUXHID_CALL ignoreReport(uint8_t*) { return 1; }

bool withCallbacks(Idle state) { return state == Idle::CallbacksSet || state == Idle::UnplugWithCallback; }

int32_t interfacesFor(Idle state) {
    switch (state) {
        case Idle::InterfacesOpen:
        case Idle::CallbacksSet: return JUXHID_MAX_DEVICES;
        case Idle::UnhandledUnplug:
        case Idle::UnplugWithCallback:
        case Idle::NothingOpen:
        case Idle::PacingDrained: return 1;
    }
    return 1;
}

// The first write goes out at once and starts the 5 ms chain; the rest wait
// in the queue until the chain has sent them and stopped.
std::string drainAChain(const SimDevices& devices) {
    std::vector<uint8_t> report(devices.outputLength(), 0);
    for (uint32_t n = 0; n < kQueuedWrites; ++n) {
        report[1] = static_cast<uint8_t>(n);
        if (FastWrite(0, report.data()) != JUXHID_OK) return "FastWrite failed";
    }
    if (!waitForPacingIdle(kPacingIdleLimitMs)) return "the pacing chain did not go idle";
    if (juxsim_output_count(devices.busId(0)) != static_cast<int32_t>(kQueuedWrites))
        return "not every queued write reached the device";
    return "";
}

std::string bringInto(Idle state, const SimDevices& devices) {
    if (!devices.ok()) return devices.error();
    for (int32_t index = 0; withCallbacks(state) && index < devices.count(); ++index)
        if (SetDataCallback(index, 1, ignoreReport) != JUXHID_OK) return "SetDataCallback failed";
    const bool unplug = state == Idle::UnhandledUnplug || state == Idle::UnplugWithCallback;
    if (unplug && juxsim_detach(devices.busId(0)) != 0) return "the unplug failed";
    if (state == Idle::PacingDrained) return drainAChain(devices);
    return "";
}

}  // namespace

IdleCost measureIdle(Idle state, double settleSeconds, double windowSeconds) {
    IdleCost result;
    if (state == Idle::NothingOpen) {
        juxsim_reset();
        result.window = measureWindow(settleSeconds, windowSeconds, [] { return uint64_t{0}; });
        return result;
    }
    SimDevices devices(interfacesFor(state), kReportLength, kReportLength);
    result.error = bringInto(state, devices);
    if (result.error.empty()) result.window = measureWindow(settleSeconds, windowSeconds, [] { return uint64_t{0}; });
    return result;
}

}  // namespace juxhid::bench
