// The library's paths with its real threads on the simulated bus: how many
// input reports per second get through without a loss, how soon they reach
// the data callback beside the machine's own floor, how exactly output is
// paced, and whether any of it allocates. Each measurement is one run of
// fixed length reported as one benchmark with its findings as counters;
// --short makes every run brief, for the smoke test.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "paths/callback_latency.h"
#include "paths/delivery_cost.h"
#include "paths/idle_cost.h"
#include "paths/pacing.h"
#include "paths/pipeline.h"
#include "support/options.h"
#include "support/pacer.h"
#include "support/samples.h"
#include "support/sim_devices.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kReportLength = 64;  // a full-speed endpoint's largest packet

struct Lengths {
    double targetSeconds;   // a pipeline run at a target rate
    double climbSeconds;    // each run of the rate climb
    int climbSteps;
    double latencySeconds;  // each latency run
    uint32_t slowReports;   // reports per interface in a 50 ms chain of 25 interfaces
    uint32_t slowAlone;     // of one interface alone (its queue holds 128)
    uint32_t fastReports;   // in a 5 ms chain
    uint32_t fastChains;    // 5 ms chains in a row, for enough intervals
    uint32_t directWrites;
    double countingSeconds;  // each run that counts allocation requests
    CostSettings cost;       // each run that measures CPU per report
    double idleSettle;       // before an idle window opens
    double idleWindow;
};

constexpr Lengths kFull{2.0, 0.5, 6, 2.0, 41, 101, 128, 4, 100, 0.25, {0.5, 3.0}, 0.5, 5.0};
constexpr Lengths kSmoke{0.05, 0.05, 2, 0.1, 3, 3, 5, 1, 5, 0.05, {0.05, 0.1}, 0.05, 0.2};
Lengths lengths = kFull;

double us(uint64_t ns) { return static_cast<double>(ns) / 1e3; }

// Timed runs only compare the blocks held; requests are counted in runs of
// their own (see "Allocations" below).
void heldBlocks(benchmark::State& state, int64_t heldChange) {
    state.counters["blocks_held_change"] = static_cast<double>(heldChange);
}

// ---- Input pipeline ------------------------------------------------------------

void pipelineCounters(benchmark::State& state, const PipelineRun& run) {
    state.counters["asked_per_interface"] = run.askedPerDevice;
    state.counters["achieved_per_interface"] = run.achievedPerDevice;
    state.counters["delivered"] = static_cast<double>(run.delivered);
    state.counters["received"] = static_cast<double>(run.received);
    state.counters["lost"] = static_cast<double>(run.lost);
    state.counters["lost_ring_full"] = static_cast<double>(run.lostRingFull);
    state.counters["out_of_order"] = static_cast<double>(run.outOfOrder);
    state.counters["unreached"] = static_cast<double>(run.unreached);
    state.counters["read_errors"] = static_cast<double>(run.readErrors);
    heldBlocks(state, run.blocksHeldChange);
}

void pipelineAtRate(benchmark::State& state, int32_t interfaces, double rate) {
    SimDevices devices(interfaces, kReportLength, 0);
    if (!devices.ok()) return state.SkipWithError(devices.error().c_str());
    for (auto _ : state) {
        const PipelineRun run = runPipeline(devices, rate, lengths.targetSeconds, 1);
        state.SetIterationTime(lengths.targetSeconds);
        pipelineCounters(state, run);
    }
}

void pipelineClimb(benchmark::State& state, int32_t interfaces, double startRate) {
    SimDevices devices(interfaces, kReportLength, 0);
    if (!devices.ok()) return state.SkipWithError(devices.error().c_str());
    for (auto _ : state) {
        const std::vector<PipelineRun> runs =
            climbRates(devices, startRate, lengths.climbSeconds, lengths.climbSteps, 10);
        state.SetIterationTime(lengths.climbSeconds * static_cast<double>(runs.size()));
        const PipelineRun& last = runs.back();
        state.counters["highest_clean_per_interface"] = highestCleanRate(runs);
        state.counters["first_lossy_asked"] = last.clean() ? 0 : last.askedPerDevice;
        state.counters["bus_fell_short"] = last.busFellShort() ? 1 : 0;
        state.counters["last_asked_per_interface"] = last.askedPerDevice;
        state.counters["last_achieved_per_interface"] = last.achievedPerDevice;
        state.counters["runs"] = static_cast<double>(runs.size());
        state.counters["lost_in_last_run"] = static_cast<double>(last.lost);
        state.counters["lost_ring_full_in_last_run"] = static_cast<double>(last.lostRingFull);
        int64_t held = 0;
        for (const PipelineRun& run : runs) held += run.blocksHeldChange;
        heldBlocks(state, held);
    }
}

// ---- Callback latency ----------------------------------------------------------

struct HistogramRecord {
    std::string name;
    double rate;
    std::vector<HistogramBin> bins;
};
std::vector<HistogramRecord> histograms;

void latencyCounters(benchmark::State& state, const std::string& name, const LatencyRun& run, double rate) {
    const std::vector<uint64_t> sorted = run.samples.sorted();
    const Summary summary = summarize(sorted);
    state.counters["rate"] = rate;
    state.counters["p50_us"] = us(summary.p50);
    state.counters["p99_us"] = us(summary.p99);
    state.counters["max_us"] = us(summary.max);
    state.counters["samples"] = static_cast<double>(summary.count);
    state.counters["delivered"] = static_cast<double>(run.delivered);
    state.counters["calls"] = static_cast<double>(run.calls.load());
    heldBlocks(state, run.blocksHeldChange);
    histograms.push_back({name, rate, histogram(sorted)});
}

template <typename Measure>
void latency(benchmark::State& state, const std::string& name, double rate, Measure measure) {
    for (auto _ : state) {
        LatencyRun run(static_cast<size_t>(rate * lengths.latencySeconds) + 16);
        measure(rate, lengths.latencySeconds, run);
        if (run.failed) return state.SkipWithError("the interface did not open for callbacks");
        state.SetIterationTime(lengths.latencySeconds);
        latencyCounters(state, name, run, rate);
    }
}

// ---- Output pacing ---------------------------------------------------------------

void pacing(benchmark::State& state, int32_t interfaces, Interval interval) {
    SimDevices devices(interfaces, kReportLength, kReportLength);
    if (!devices.ok()) return state.SkipWithError(devices.error().c_str());
    const uint32_t slow = interfaces == 1 ? lengths.slowAlone : lengths.slowReports;
    const uint32_t reports = interval == Interval::Slow ? slow : lengths.fastReports;
    for (auto _ : state) {
        const uint32_t chains = interval == Interval::Slow ? 1 : lengths.fastChains;
        PacingRun run(static_cast<size_t>(reports) * static_cast<size_t>(interfaces) * chains);
        const uint64_t start = nowNs();
        for (uint32_t chain = 0; chain < chains; ++chain) measurePacing(devices, interval, reports, run);
        state.SetIterationTime(static_cast<double>(nowNs() - start) / 1e9);
        const Summary late = summarize(run.lateness.sorted());
        const Summary queued = summarize(run.queuedCall.sorted());
        state.counters["lateness_p50_us"] = us(late.p50);
        state.counters["lateness_p99_us"] = us(late.p99);
        state.counters["lateness_max_us"] = us(late.max);
        state.counters["intervals"] = static_cast<double>(late.count);
        state.counters["queued_call_p50_us"] = us(queued.p50);
        state.counters["queued_call_p99_us"] = us(queued.p99);
        state.counters["written"] = static_cast<double>(run.written);
        state.counters["received"] = static_cast<double>(run.received);
        state.counters["early"] = static_cast<double>(run.early);
        state.counters["misordered"] = static_cast<double>(run.misordered);
        state.counters["refused"] = static_cast<double>(run.refused);
        state.counters["timed_out"] = run.timedOut ? 1 : 0;
        heldBlocks(state, run.blocksHeldChange);
    }
}

void directWrites(benchmark::State& state) {
    SimDevices devices(1, kReportLength, kReportLength);
    if (!devices.ok()) return state.SkipWithError(devices.error().c_str());
    for (auto _ : state) {
        DirectWriteRun run(lengths.directWrites);
        const uint64_t start = nowNs();
        measureDirectWrites(devices, lengths.directWrites, run);
        state.SetIterationTime(static_cast<double>(nowNs() - start) / 1e9);
        const Summary call = summarize(run.call.sorted());
        const Summary toBus = summarize(run.toBus.sorted());
        state.counters["call_p50_us"] = us(call.p50);
        state.counters["call_p99_us"] = us(call.p99);
        state.counters["to_bus_p50_us"] = us(toBus.p50);
        state.counters["to_bus_p99_us"] = us(toBus.p99);
        state.counters["writes"] = static_cast<double>(call.count);
        state.counters["refused"] = static_cast<double>(run.refused);
        heldBlocks(state, run.blocksHeldChange);
    }
}

template <typename Body>
void once(const std::string& name, Body body) {
    benchmark::RegisterBenchmark(name.c_str(), body)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

// ---- What it costs the process ------------------------------------------------------
// CPU time and wake-ups of the whole process over a window, per report
// delivered (the bus's feeder included: see delivery_cost.h), and when idle.

void costCounters(benchmark::State& state, const CostWindow& window) {
    state.counters["window_s"] = static_cast<double>(window.wallNs) / 1e9;
    state.counters["percent_of_core"] = window.percentOfCore();
    state.counters["wakeups_per_s"] = window.wakeupsPerSecond();
    state.counters["threads"] = window.process.threads;
}

template <typename Measure>
void deliveryCost(benchmark::State& state, Measure measure) {
    for (auto _ : state) {
        const DeliveryCost run = measure();
        if (!run.error.empty()) return state.SkipWithError(run.error.c_str());
        state.SetIterationTime(static_cast<double>(run.window.wallNs) / 1e9);
        costCounters(state, run.window);
        state.counters["cpu_us_per_report"] = run.window.cpuUsPerItem();
        state.counters["wakeups_per_report"] = run.window.wakeupsPerItem();
        state.counters["asked_rate"] = run.askedRate;
        state.counters["achieved_rate"] = run.window.itemsPerSecond();
        state.counters["window_reports"] = static_cast<double>(run.window.items);
        state.counters["delivered"] = static_cast<double>(run.delivered);
        state.counters["taken"] = static_cast<double>(run.taken);
        state.counters["p50_us"] = us(run.latency.p50);
        state.counters["p99_us"] = us(run.latency.p99);
        state.counters["samples"] = static_cast<double>(run.latency.count);
    }
}

void idleCost(benchmark::State& state, Idle idle) {
    for (auto _ : state) {
        const IdleCost run = measureIdle(idle, lengths.idleSettle, lengths.idleWindow);
        if (!run.error.empty()) return state.SkipWithError(run.error.c_str());
        state.SetIterationTime(static_cast<double>(run.window.wallNs) / 1e9);
        costCounters(state, run.window);
        state.counters["cpu_ms"] = static_cast<double>(run.window.process.cpuNs) / 1e6;
        state.counters["wakeups"] = static_cast<double>(run.window.process.wakeups);
    }
}

void registerCosts() {
    for (const double rate : {1000.0, 24000.0}) {
        const std::string at = "/at_" + std::to_string(static_cast<int>(rate));
        once("cost/floor" + at, [=](benchmark::State& s) {
            deliveryCost(s, [=] { return measureFloorCost(startConditionRelay, rate, lengths.cost); });
        });
        once("cost/callback" + at, [=](benchmark::State& s) {
            deliveryCost(s, [=] { return measureCallbackCost(1, rate, lengths.cost); });
        });
        once("cost/ReadData" + at, [=](benchmark::State& s) {
            deliveryCost(s, [=] { return measurePollingCost(rate, lengths.cost); });
        });
        once("cost/feeder_alone" + at, [=](benchmark::State& s) {
            deliveryCost(s, [=] { return measureFeederAlone(rate, lengths.cost); });
        });
    }
    // One interface at 1,000/s is cost/callback/at_1000 and its floor.
    for (const int32_t interfaces : {5, 10, 25}) {
        const double total = 1000.0 * interfaces;
        once("scaling/callback/" + std::to_string(interfaces) + "_interfaces", [=](benchmark::State& s) {
            deliveryCost(s, [=] { return measureCallbackCost(interfaces, 1000.0, lengths.cost); });
        });
        once("scaling/floor/at_" + std::to_string(static_cast<int>(total)), [=](benchmark::State& s) {
            deliveryCost(s, [=] { return measureFloorCost(startConditionRelay, total, lengths.cost); });
        });
    }
    once("idle/nothing_open", [](benchmark::State& s) { idleCost(s, Idle::NothingOpen); });
    once("idle/25_interfaces_open", [](benchmark::State& s) { idleCost(s, Idle::InterfacesOpen); });
    once("idle/25_interfaces_open_with_callbacks", [](benchmark::State& s) { idleCost(s, Idle::CallbacksSet); });
    once("idle/unhandled_unplug", [](benchmark::State& s) { idleCost(s, Idle::UnhandledUnplug); });
    once("idle/unhandled_unplug_with_callback",
         [](benchmark::State& s) { idleCost(s, Idle::UnplugWithCallback); });
    once("idle/pacing_drained", [](benchmark::State& s) { idleCost(s, Idle::PacingDrained); });
}

// ---- Allocations ---------------------------------------------------------------------
// Each path once more, briefly and untimed, with every request for memory
// the library makes through the platform counted.

void counted(benchmark::State& state, int64_t requests, int64_t heldChange, double reports) {
    state.counters["allocation_requests"] = static_cast<double>(requests);
    state.counters["reports"] = reports;
    state.counters["allocations_per_report"] = reports > 0 ? static_cast<double>(requests) / reports : 0;
    state.counters["blocks_held_change"] = static_cast<double>(heldChange);
}

void allocationsOfPipeline(benchmark::State& state, int32_t interfaces, double rate) {
    SimDevices devices(interfaces, kReportLength, 0);
    if (!devices.ok()) return state.SkipWithError(devices.error().c_str());
    for (auto _ : state) {
        const PipelineRun run = runPipeline(devices, rate, lengths.countingSeconds, 30, Count::Requests);
        state.SetIterationTime(lengths.countingSeconds);
        counted(state, run.allocationRequests, run.blocksHeldChange, static_cast<double>(run.received));
    }
}

void allocationsOfCallbacks(benchmark::State& state, double rate) {
    for (auto _ : state) {
        LatencyRun run(static_cast<size_t>(rate * lengths.countingSeconds) + 16);
        measureCallbackLatency(rate, lengths.countingSeconds, run, Count::Requests);
        if (run.failed) return state.SkipWithError("the interface did not open for callbacks");
        state.SetIterationTime(lengths.countingSeconds);
        counted(state, run.allocationRequests, run.blocksHeldChange, static_cast<double>(run.calls.load()));
    }
}

void allocationsOfPacing(benchmark::State& state, int32_t interfaces, Interval interval, uint32_t reports) {
    SimDevices devices(interfaces, kReportLength, kReportLength);
    if (!devices.ok()) return state.SkipWithError(devices.error().c_str());
    for (auto _ : state) {
        PacingRun run(static_cast<size_t>(reports) * static_cast<size_t>(interfaces));
        const uint64_t start = nowNs();
        measurePacing(devices, interval, reports, run, Count::Requests);
        state.SetIterationTime(static_cast<double>(nowNs() - start) / 1e9);
        counted(state, run.allocationRequests, run.blocksHeldChange, static_cast<double>(run.received));
    }
}

void allocationsOfDirectWrites(benchmark::State& state, uint32_t writes) {
    SimDevices devices(1, kReportLength, kReportLength);
    if (!devices.ok()) return state.SkipWithError(devices.error().c_str());
    for (auto _ : state) {
        DirectWriteRun run(writes);
        const uint64_t start = nowNs();
        measureDirectWrites(devices, writes, run, Count::Requests);
        state.SetIterationTime(static_cast<double>(nowNs() - start) / 1e9);
        counted(state, run.allocationRequests, run.blocksHeldChange, static_cast<double>(run.call.size()));
    }
}

// ---- Registration and the histogram file --------------------------------------------

void registerPaths() {
    once("pipeline/1_interface/at_24000", [](benchmark::State& s) { pipelineAtRate(s, 1, 24000); });
    once("pipeline/25_interfaces/at_1000_each", [](benchmark::State& s) { pipelineAtRate(s, 25, 1000); });
    once("pipeline/1_interface/climb", [](benchmark::State& s) { pipelineClimb(s, 1, 24000); });
    once("pipeline/25_interfaces/climb", [](benchmark::State& s) { pipelineClimb(s, 25, 1000); });
    for (const double rate : {1000.0, 24000.0}) {
        const std::string at = "/at_" + std::to_string(static_cast<int>(rate));
        const std::string floor = "latency/floor" + at;
        const std::string callback = "latency/callback" + at;
        once(floor, [=](benchmark::State& s) { latency(s, floor, rate, measureWakeupFloor); });
        once(callback, [=](benchmark::State& s) {
            latency(s, callback, rate, [](double r, double seconds, LatencyRun& run) {
                measureCallbackLatency(r, seconds, run);
            });
        });
    }
    for (const int32_t interfaces : {1, 25}) {
        const std::string suffix = interfaces == 1 ? "/1_interface" : "/25_interfaces";
        once("pacing/50ms" + suffix, [=](benchmark::State& s) { pacing(s, interfaces, Interval::Slow); });
        once("pacing/5ms" + suffix, [=](benchmark::State& s) { pacing(s, interfaces, Interval::Fast); });
    }
    once("pacing/direct_write", directWrites);

    const bool smoke = lengths.countingSeconds < kFull.countingSeconds;
    once("allocations/reader_and_ReadData/1_interface_at_24000",
         [](benchmark::State& s) { allocationsOfPipeline(s, 1, 24000); });
    once("allocations/reader_and_ReadData/25_interfaces_at_1000",
         [](benchmark::State& s) { allocationsOfPipeline(s, 25, 1000); });
    once("allocations/reader_and_callback/at_24000",
         [](benchmark::State& s) { allocationsOfCallbacks(s, 24000); });
    once("allocations/paced_writes/5ms_25_interfaces", [smoke](benchmark::State& s) {
        allocationsOfPacing(s, 25, Interval::Fast, smoke ? 3 : 20);
    });
    once("allocations/paced_writes/50ms_1_interface", [smoke](benchmark::State& s) {
        allocationsOfPacing(s, 1, Interval::Slow, smoke ? 2 : 5);
    });
    once("allocations/direct_writes",
         [smoke](benchmark::State& s) { allocationsOfDirectWrites(s, smoke ? 3 : 10); });
    registerCosts();
}

bool writeHistograms(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    std::fprintf(file, "{\n  \"bins_per_octave\": %d,\n  \"histograms\": [", kBinsPerOctave);
    for (size_t h = 0; h < histograms.size(); ++h) {
        const HistogramRecord& record = histograms[h];
        std::fprintf(file, "%s\n    {\"name\": \"%s\", \"rate\": %.0f, \"bins\": [", h ? "," : "",
                     record.name.c_str(), record.rate);
        for (size_t b = 0; b < record.bins.size(); ++b) {
            const HistogramBin& bin = record.bins[b];
            std::fprintf(file, "%s[%.1f, %.1f, %llu]", b ? ", " : "", bin.lowNs, bin.highNs,
                         static_cast<unsigned long long>(bin.count));
        }
        std::fprintf(file, "]}");
    }
    std::fprintf(file, "\n  ]\n}\n");
    return std::fclose(file) == 0;
}

}  // namespace
}  // namespace juxhid::bench

int main(int argc, char** argv) {
    using namespace juxhid::bench;
    const Options options = takeOptions(argc, argv);
    if (options.smoke) lengths = kSmoke;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerPaths();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!options.histogramOut.empty() && !writeHistograms(options.histogramOut)) {
        std::fprintf(stderr, "could not write %s\n", options.histogramOut.c_str());
        return 1;
    }
    return 0;
}
