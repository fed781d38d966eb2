// What ReadData, ReadLast and ClearBuffer cost the caller, on an idle
// interface and while its reader stores 24,000 reports/s (the most a
// high-bandwidth high-speed endpoint delivers), when the calls contend with
// the reader for the interface's lock.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "juxhid.h"
#include "juxhid_sim.h"
#include "juxhid_status.h"
#include "support/bus_load.h"
#include "support/sim_devices.h"
#include "support/stamp.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kReportLength = 64;
constexpr double kLoadRate = 24000;
constexpr int32_t kBatch = 128;  // a full ring

enum class Load { Idle, Busy };

// The interface under test, and the reader's load while it runs.
struct Bench {
    explicit Bench(Load load) : devices(1, kReportLength, 0) {
        if (devices.ok() && load == Load::Busy)
            busy = std::make_unique<BusLoad>(std::vector<int32_t>{devices.busId(0)}, kReportLength,
                                             kLoadRate, 0, 1);
    }
    SimDevices devices;
    std::unique_ptr<BusLoad> busy;
};

bool ready(benchmark::State& state, const Bench& bench) {
    if (bench.devices.ok()) return true;
    state.SkipWithError(bench.devices.error().c_str());
    return false;
}

// Counts the requests for memory of `calls` calls made by `work`, before
// the timed loop: counting them slows every platform call down.
template <typename Work>
void countAllocations(benchmark::State& state, int32_t calls, Work work) {
    AllocationProbe probe(Count::Requests);
    work();
    const AllocationProbe::Result counted = probe.finish();
    state.counters["allocations_per_call"] = static_cast<double>(counted.requests) / calls;
    state.counters["blocks_held_change_counted"] = static_cast<double>(counted.heldChange);
}

void reportHeldBlocks(benchmark::State& state, AllocationProbe& probe) {
    state.counters["blocks_held_change"] = static_cast<double>(probe.finish().heldChange);
}

// Fills the ring with 128 numbered reports and waits until the reader has
// stored the last of them.
bool fillRing(int32_t busId, uint32_t& sequence) {
    std::vector<uint8_t> report(kReportLength, 0);
    for (int32_t i = 0; i < kBatch; ++i) {
        writeStamp(report.data(), Stamp{2, sequence++, 0});
        if (juxsim_deliver(busId, report.data(), kReportLength) != 1) return false;
    }
    // A pause between looks: ReadLast answers at once while the ring holds an
    // older report, and a loop of them keeps the lock from the reader, which
    // drops a report it cannot store within 100 ms.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadLast(0, report.data()) == JUXHID_OK && readStamp(report.data()).sequence + 1 == sequence)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool firstReportStored() {
    std::vector<uint8_t> report(kReportLength);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline)
        if (ReadLast(0, report.data()) == JUXHID_OK) return true;
    return false;
}

// ReadData taking a report each call: the ring is refilled outside the timed
// part, 128 calls at a time.
void readDataTaken(benchmark::State& state) {
    Bench bench(Load::Idle);
    if (!ready(state, bench)) return;
    std::vector<uint8_t> buffer(kReportLength);
    uint32_t sequence = 0;
    bool filled = false;
    countAllocations(state, kBatch, [&] {
        filled = fillRing(bench.devices.busId(0), sequence);
        while (ReadData(0, buffer.data()) == JUXHID_OK) {}
    });
    if (!filled) return state.SkipWithError("the reader did not store the batch");
    AllocationProbe probe(Count::HeldBlocks);
    for (auto _ : state) {
        if (!fillRing(bench.devices.busId(0), sequence)) {
            state.SkipWithError("the reader did not store the batch");
            break;
        }
        int32_t failed = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int32_t i = 0; i < kBatch; ++i) failed += ReadData(0, buffer.data()) != JUXHID_OK;
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        if (failed != 0) {
            state.SkipWithError("ReadData did not take every stored report");
            break;
        }
    }
    state.counters["calls_per_iteration"] = kBatch;
    reportHeldBlocks(state, probe);
}

// One call per iteration; counts how often it answered `expected`.
template <typename Call>
void repeatCall(benchmark::State& state, Load load, int32_t expected, Call call) {
    Bench bench(load);
    if (!ready(state, bench)) return;
    std::vector<uint8_t> buffer(kReportLength);
    uint32_t sequence = 0;
    // Idle: a ring's worth stored and taken again, so ReadLast finds the
    // newest and ReadData nothing unread. Under load, timing starts once the
    // reader has stored a first report, so that ReadLast never waits for one.
    if (load == Load::Idle) {
        if (!fillRing(bench.devices.busId(0), sequence)) return state.SkipWithError("no report stored");
        while (ReadData(0, buffer.data()) == JUXHID_OK) {}
    } else if (!firstReportStored()) {
        return state.SkipWithError("the reader stored nothing under load");
    }
    constexpr int32_t kCountedCalls = 1000;
    countAllocations(state, kCountedCalls, [&] {
        for (int32_t i = 0; i < kCountedCalls; ++i) call(buffer.data());
    });
    int64_t answered = 0;
    AllocationProbe probe(Count::HeldBlocks);
    for (auto _ : state) answered += call(buffer.data()) == expected;
    state.counters["calls_per_iteration"] = 1;
    state.counters["answered_expected"] =
        static_cast<double>(answered) / static_cast<double>(state.iterations());
    reportHeldBlocks(state, probe);
}

void registerCalls() {
    for (const Load load : {Load::Idle, Load::Busy}) {
        const std::string suffix = load == Load::Idle ? "/idle" : "/reader_at_24000";
        // Idle, ReadData finds nothing unread; under load it takes what the
        // reader stored since the last call, when there is anything.
        const int32_t readDataExpects = load == Load::Idle ? JUXHID_READ_EMPTY : JUXHID_OK;
        const std::string readDataName = load == Load::Idle ? "calls/ReadData/empty" : "calls/ReadData";
        benchmark::RegisterBenchmark((readDataName + suffix).c_str(), [=](benchmark::State& s) {
            repeatCall(s, load, readDataExpects, [](void* b) { return ReadData(0, b); });
        });
        benchmark::RegisterBenchmark(("calls/ReadLast" + suffix).c_str(), [load](benchmark::State& s) {
            repeatCall(s, load, JUXHID_OK, [](void* b) { return ReadLast(0, b); });
        });
        benchmark::RegisterBenchmark(("calls/ClearBuffer" + suffix).c_str(), [load](benchmark::State& s) {
            repeatCall(s, load, JUXHID_OK, [](void*) { return ClearBuffer(0); });
        });
    }
    // Each batch is refilled through the bus first, which takes far longer
    // than the 128 calls measured: a fixed count keeps the run short.
    benchmark::RegisterBenchmark("calls/ReadData/taken/idle", readDataTaken)
        ->UseManualTime()
        ->Iterations(400);
}

}  // namespace
}  // namespace juxhid::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    juxhid::bench::registerCalls();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
