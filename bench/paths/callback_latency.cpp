#include "paths/callback_latency.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "juxhid.h"
#include "juxhid_status.h"
#include "support/bus_load.h"
#include "support/pacer.h"
#include "support/sim_devices.h"
#include "support/stamp.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kReportLength = 64;
constexpr uint8_t kRun = 7;

// The callback is a plain function; it finds the run it records for here.
std::atomic<LatencyRun*> recording{nullptr};

int32_t JUXHID_CALL onReport(uint8_t* payload) {
    const uint64_t entered = nowNs();
    if (LatencyRun* run = recording.load(std::memory_order_acquire)) {
        const Stamp stamp = readStampFromPayload(payload);
        if (stamp.run == kRun) {
            run->samples.add(entered - stamp.deliveredNs);
            ++run->calls;
        }
    }
    return 1;
}

}  // namespace

void measureCallbackLatency(double rate, double seconds, LatencyRun& result, Count count) {
    SimDevices devices(1, kReportLength, 0);
    if (!devices.ok() || SetDataCallback(0, 1, onReport) != JUXHID_OK) {
        result.failed = true;
        return;
    }
    recording.store(&result, std::memory_order_release);
    {
        AllocationProbe probe(count);
        BusLoad load({devices.busId(0)}, kReportLength, rate, static_cast<uint64_t>(rate * seconds), kRun);
        load.join();
        // The last report's callback comes within a wake-up or two.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const AllocationProbe::Result allocations = probe.finish();
        result.delivered = load.delivered();
        result.allocationRequests = allocations.requests;
        result.blocksHeldChange = allocations.heldChange;
    }
    SetDataCallback(0, 0, nullptr);
    recording.store(nullptr, std::memory_order_release);
}

}  // namespace juxhid::bench
