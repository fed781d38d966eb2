// ReportRing operations beside a plain memcpy of the same report, measured in
// the same run. Each ring operation is one copy of a report plus a few index
// steps, so memcpy of that size is the floor it is held against. The copy
// length is a value known only at run time, as the ring's slot size is: a
// memcpy with a constant length would be inlined into a few moves and
// measure a copy the library can never make.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "interface/report_ring.h"
#include "juxhid_sim.h"

namespace juxhid::bench {
namespace {

std::vector<uint8_t> reportOf(uint32_t size) { return std::vector<uint8_t>(size, 0x5A); }

// A ring holding 128 unread reports, the state a reader keeps it in when no
// one drains it.
void fill(ReportRing& ring, const uint8_t* report) {
    for (int32_t i = 0; i < ReportRing::kCapacity; ++i) ring.pushOverwrite(report);
}

bool createRing(benchmark::State& state, ReportRing& ring, uint32_t size) {
    ring.create(size);
    if (ring.hasStorage()) return true;
    state.SkipWithError("the ring got no storage");
    return false;
}

void ringPush(benchmark::State& state) {
    const auto size = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t> report = reportOf(size);
    ReportRing ring;
    if (!createRing(state, ring, size)) return;
    fill(ring, report.data());
    for (auto _ : state) {
        ring.pushOverwrite(report.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    ring.destroy();
}

void ringPop(benchmark::State& state) {
    const auto size = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t> report = reportOf(size);
    std::vector<uint8_t> out(size);
    ReportRing full;
    if (!createRing(state, full, size)) return;
    fill(full, report.data());
    // Popping does not touch the storage, so a copy of the ring record that
    // shares it starts over from 128 unread in a few stores; refilling with
    // 128 pushes would put the pushes into the pop's time.
    ReportRing ring = full;
    for (auto _ : state) {
        if (!ring.popOldest(out.data())) ring = full;
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    full.destroy();
}

void ringPeek(benchmark::State& state) {
    const auto size = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t> report = reportOf(size);
    std::vector<uint8_t> out(size);
    ReportRing ring;
    if (!createRing(state, ring, size)) return;
    fill(ring, report.data());
    for (auto _ : state) {
        ring.peekNewest(out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    ring.destroy();
}

// Copies one report at a time out of a block of 128, walking the slots as the
// ring does, into one destination.
void plainMemcpy(benchmark::State& state) {
    auto size = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> block(ReportRing::kCapacity * size, 0x5A);
    std::vector<uint8_t> out(size);
    size_t slot = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(size);
        std::memcpy(out.data(), block.data() + slot * size, size);
        slot = slot + 1 == ReportRing::kCapacity ? 0 : slot + 1;
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void reportSizes(benchmark::internal::Benchmark* b) { b->Arg(8)->Arg(64)->Arg(1024); }

BENCHMARK(ringPush)->Name("ring/push")->Apply(reportSizes);
BENCHMARK(ringPop)->Name("ring/pop")->Apply(reportSizes);
BENCHMARK(ringPeek)->Name("ring/peek")->Apply(reportSizes);
BENCHMARK(plainMemcpy)->Name("ring/memcpy")->Apply(reportSizes);

}  // namespace
}  // namespace juxhid::bench

BENCHMARK_MAIN();
