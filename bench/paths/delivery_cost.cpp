#include "paths/delivery_cost.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "juxhid.h"
#include "juxhid_status.h"
#include "support/bus_load.h"
#include "support/pacer.h"
#include "support/sim_devices.h"
#include "support/stamp.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kReportLength = 64;
constexpr uint8_t kRun = 11;
constexpr auto kPollPeriod = std::chrono::milliseconds(1);
// Callbacks of reports delivered before the load stopped come within a
// wake-up or two.
constexpr auto kSettleAfterLoad = std::chrono::milliseconds(20);

// The data callback is a plain function that is not told its interface:
// each interface gets a function of its own, and so its own recorder,
// because Samples takes one writing thread.
struct Recorder {
    std::atomic<Samples*> samples{nullptr};
    std::atomic<uint64_t> calls{0};
};
std::array<Recorder, JUXHID_MAX_DEVICES> recorders;

template <size_t Index>
int32_t JUXHID_CALL onReportOf(uint8_t* payload) {
    const uint64_t entered = nowNs();
    Recorder& recorder = recorders[Index];
    if (Samples* samples = recorder.samples.load(std::memory_order_acquire)) {
        const Stamp stamp = readStampFromPayload(payload);
        if (stamp.run == kRun) {
            samples->add(entered - stamp.deliveredNs);
            recorder.calls.fetch_add(1, std::memory_order_relaxed);
        }
    }
    return 1;
}

template <size_t... Index>
constexpr std::array<JuxhidDataCallback, sizeof...(Index)> callbacksFor(std::index_sequence<Index...>) {
    return {&onReportOf<Index>...};
}
constexpr auto kCallbacks = callbacksFor(std::make_index_sequence<JUXHID_MAX_DEVICES>{});

std::vector<int32_t> busIdsOf(const SimDevices& devices) {
    std::vector<int32_t> ids;
    for (int32_t index = 0; index < devices.count(); ++index) ids.push_back(devices.busId(index));
    return ids;
}

size_t samplesRoom(double rate, const CostSettings& settings) {
    return static_cast<size_t>(rate * (settings.warmupSeconds + settings.windowSeconds + 1.0)) + 64;
}

Summary mergedSummary(const std::vector<std::unique_ptr<Samples>>& perInterface) {
    std::vector<uint64_t> all;
    for (const auto& samples : perInterface) {
        const std::vector<uint64_t> some = samples->sorted();
        all.insert(all.end(), some.begin(), some.end());
    }
    std::sort(all.begin(), all.end());
    return summarize(all);
}

// Delivers without end to `devices` while the window is sampled.
CostWindow windowUnderLoad(const SimDevices& devices, double perInterfaceRate, const CostSettings& settings,
                           uint64_t& delivered) {
    BusLoad load(busIdsOf(devices), kReportLength, perInterfaceRate, 0, kRun);
    const CostWindow window = measureWindow(settings.warmupSeconds, settings.windowSeconds,
                                            [&] { return load.delivered(); });
    load.stop();
    load.join();
    delivered = load.delivered();
    return window;
}

// A run on one interface: its result so far, failed when the device could
// not be attached and opened.
DeliveryCost oneInterfaceRun(double rate, const SimDevices& devices) {
    DeliveryCost result;
    result.askedRate = rate;
    if (!devices.ok()) result.error = devices.error();
    return result;
}

}  // namespace

DeliveryCost measureCallbackCost(int32_t interfaces, double perInterfaceRate, const CostSettings& settings) {
    DeliveryCost result;
    result.askedRate = perInterfaceRate * interfaces;
    if (interfaces < 1 || interfaces > JUXHID_MAX_DEVICES) {
        result.error = "between 1 and 25 interfaces";
        return result;
    }
    SimDevices devices(interfaces, kReportLength, 0);
    if (!devices.ok()) {
        result.error = devices.error();
        return result;
    }
    std::vector<std::unique_ptr<Samples>> samples;
    for (int32_t index = 0; index < interfaces; ++index) {
        samples.push_back(std::make_unique<Samples>(samplesRoom(perInterfaceRate, settings)));
        recorders[static_cast<size_t>(index)].calls = 0;
        recorders[static_cast<size_t>(index)].samples.store(samples.back().get(), std::memory_order_release);
        if (SetDataCallback(index, 1, kCallbacks[static_cast<size_t>(index)]) != JUXHID_OK)
            result.error = "SetDataCallback(" + std::to_string(index) + ") failed";
    }
    if (result.error.empty()) {
        result.window = windowUnderLoad(devices, perInterfaceRate, settings, result.delivered);
        std::this_thread::sleep_for(kSettleAfterLoad);
    }
    for (int32_t index = 0; index < interfaces; ++index) {
        SetDataCallback(index, 0, nullptr);
        Recorder& recorder = recorders[static_cast<size_t>(index)];
        recorder.samples.store(nullptr, std::memory_order_release);
        result.taken += recorder.calls.load();
    }
    result.latency = mergedSummary(samples);
    if (result.error.empty() && result.taken == 0) result.error = "no callback came";
    return result;
}

DeliveryCost measurePollingCost(double rate, const CostSettings& settings) {
    SimDevices devices(1, kReportLength, 0);
    DeliveryCost result = oneInterfaceRun(rate, devices);
    if (!result.error.empty()) return result;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> taken{0};
    std::atomic<uint64_t> readErrors{0};
    std::thread poller([&] {
        std::vector<uint8_t> report(kReportLength);
        while (!stop.load()) {
            int32_t status;
            while ((status = ReadData(0, report.data())) == JUXHID_OK) taken.fetch_add(1, std::memory_order_relaxed);
            if (status != JUXHID_READ_EMPTY) readErrors.fetch_add(1);
            std::this_thread::sleep_for(kPollPeriod);
        }
    });
    result.window = windowUnderLoad(devices, rate, settings, result.delivered);
    std::this_thread::sleep_for(kSettleAfterLoad);
    stop = true;
    poller.join();
    result.taken = taken.load();
    if (readErrors.load() != 0) result.error = "ReadData failed " + std::to_string(readErrors.load()) + " times";
    if (result.error.empty() && result.taken == 0) result.error = "ReadData took nothing";
    return result;
}

DeliveryCost measureFeederAlone(double rate, const CostSettings& settings) {
    SimDevices devices(1, kReportLength, 0);
    DeliveryCost result = oneInterfaceRun(rate, devices);
    if (!result.error.empty()) return result;
    CloseInterface(0);
    result.window = windowUnderLoad(devices, rate, settings, result.delivered);
    if (result.delivered == 0) result.error = "the feeder delivered nothing";
    return result;
}

DeliveryCost measureFloorCost(StartRelay start, double rate, const CostSettings& settings) {
    DeliveryCost result;
    result.askedRate = rate;
    LatencyRun run(samplesRoom(rate, settings));
    std::unique_ptr<Relay> relay = start(rate, 0, run);
    result.window = measureWindow(settings.warmupSeconds, settings.windowSeconds,
                                  [&] { return relay->handedOver(); });
    relay->stop();
    result.delivered = relay->handedOver();
    result.taken = run.calls.load();
    result.latency = summarize(run.samples.sorted());
    if (result.taken == 0) result.error = "nothing reached the floor's receiver";
    return result;
}

}  // namespace juxhid::bench
