// The measuring tools' own arithmetic: a wrong percentile, a miscounted loss
// or an early delivery would make every table built on them wrong.
#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <iterator>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "paths/cost_window.h"
#include "support/figures.h"
#include "support/options.h"
#include "support/pacer.h"
#include "support/process_cost.h"
#include "support/process_cost_parse.h"
#include "support/samples.h"
#include "platform/platform.h"
#include "support/sequence_check.h"
#include "support/sim_devices.h"
#include "support/stamp.h"
#include "juxhid.h"
#include "juxhid_sim.h"
#include "juxhid_status.h"

namespace juxhid::bench {
namespace {

std::vector<uint64_t> oneTo(uint64_t n) {
    std::vector<uint64_t> values(n);
    std::iota(values.begin(), values.end(), 1);
    return values;
}

TEST(BenchPercentiles, AreNearestRankOfTheSortedSamples) {
    const std::vector<uint64_t> values = oneTo(100);
    EXPECT_EQ(percentileOfSorted(values, 50), 50u);
    EXPECT_EQ(percentileOfSorted(values, 99), 99u);
    EXPECT_EQ(percentileOfSorted(values, 100), 100u);
    EXPECT_EQ(percentileOfSorted(values, 0.5), 1u);
    EXPECT_EQ(percentileOfSorted(oneTo(3), 99), 3u) << "few samples: p99 is the largest";
    EXPECT_EQ(percentileOfSorted({}, 50), 0u);
    const Summary summary = summarize(oneTo(1000));
    EXPECT_EQ(summary.count, 1000u);
    EXPECT_EQ(summary.p50, 500u);
    EXPECT_EQ(summary.p99, 990u);
    EXPECT_EQ(summary.max, 1000u);
}

TEST(BenchSamples, KeepWhatFitsInOrderOfSizeAndCountTheRest) {
    Samples samples(3);
    for (const uint64_t ns : {30u, 10u, 20u, 40u, 50u}) samples.add(ns);
    EXPECT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples.overflow(), 2u);
    EXPECT_EQ(samples.sorted(), (std::vector<uint64_t>{10, 20, 30}));
}

TEST(BenchHistogram, PutsEverySampleInTheBinThatSpansIt) {
    const std::vector<uint64_t> values = {1, 2, 3, 900, 1000, 1000, 1100, 50'000, 2'000'000};
    const std::vector<HistogramBin> bins = histogram(values);
    uint64_t total = 0;
    double previousHigh = 0;
    for (const HistogramBin& bin : bins) {
        EXPECT_GT(bin.count, 0u);
        EXPECT_GE(bin.lowNs, previousHigh * 0.999999) << "bins ascend and do not overlap";
        EXPECT_NEAR(bin.highNs / bin.lowNs, std::exp2(1.0 / kBinsPerOctave), 1e-9);
        previousHigh = bin.highNs;
        total += bin.count;
    }
    EXPECT_EQ(total, values.size());
    for (const uint64_t ns : values) {
        if (ns <= 1) continue;
        const double low = std::exp2(static_cast<double>(histogramBinOf(ns)) / kBinsPerOctave);
        EXPECT_LE(low, static_cast<double>(ns) * 1.000001);
        EXPECT_GT(low * std::exp2(1.0 / kBinsPerOctave), static_cast<double>(ns) * 0.999999);
    }
    EXPECT_EQ(histogramBinOf(1000), histogramBinOf(1010)) << "1% apart share a bin";
    EXPECT_NE(histogramBinOf(1000), histogramBinOf(1200)) << "20% apart do not";
}

TEST(BenchSequenceCheck, CountsGapsAsLostAndRepeatsAsOutOfOrder) {
    SequenceCheck check;
    for (const uint32_t n : {0u, 1u, 2u, 5u, 6u, 4u, 6u, 7u}) check.see(n);
    EXPECT_EQ(check.received(), 8u);
    EXPECT_EQ(check.lost(), 2u) << "3 and 4 were skipped (4 coming late does not undo it)";
    EXPECT_EQ(check.outOfOrder(), 2u);
    EXPECT_TRUE(check.reached(8));
    EXPECT_FALSE(check.reached(9));
    check.finish(11);
    EXPECT_EQ(check.lost(), 5u) << "8, 9 and 10 never came";
    EXPECT_TRUE(check.reached(11));
    check.finish(11);
    EXPECT_EQ(check.lost(), 5u) << "finishing twice counts nothing twice";
}

TEST(BenchSequenceCheck, LosesNothingWhenEveryReportCameInOrder) {
    SequenceCheck check;
    for (uint32_t n = 0; n < 1000; ++n) check.see(n);
    check.finish(1000);
    EXPECT_EQ(check.lost(), 0u);
    EXPECT_EQ(check.outOfOrder(), 0u);
}

TEST(BenchStamp, SurvivesTheTripWithOrWithoutTheReportIdByte) {
    uint8_t report[64];
    std::fill(std::begin(report), std::end(report), 0xEE);
    const Stamp sent{3, 0x01020304u, 0x1122334455667788ull};
    writeStamp(report, sent);
    EXPECT_EQ(report[0], 0) << "the report-identifier position stays 0";
    EXPECT_EQ(report[kShortestStampedReport], 0xEE) << "nothing written past the stamp";
    for (const Stamp& got : {readStamp(report), readStampFromPayload(report + 1)}) {
        EXPECT_EQ(got.run, sent.run);
        EXPECT_EQ(got.sequence, sent.sequence);
        EXPECT_EQ(got.deliveredNs, sent.deliveredNs);
    }
}

TEST(BenchPacer, DueCountsFollowTheRateAndStopAtTheTotal) {
    const Pacer pacer(1000, 10);  // one item each millisecond
    EXPECT_EQ(pacer.dueBy(0), 1u) << "the first item is due at once";
    EXPECT_EQ(pacer.dueBy(999'999), 1u);
    EXPECT_EQ(pacer.dueBy(1'000'000), 2u);
    EXPECT_EQ(pacer.dueBy(5'500'000), 6u);
    EXPECT_EQ(pacer.dueBy(60'000'000), 10u);
    for (uint64_t n = 0; n < 10; ++n) EXPECT_EQ(pacer.dueBy(pacer.dueAt(n)), n + 1);
    const Pacer odd(24000, 1000);
    for (uint64_t n = 0; n < 1000; ++n) EXPECT_GE(odd.dueBy(odd.dueAt(n)), n + 1) << n;
}

TEST(BenchPacer, EmitsEveryItemInOrderAndNoneBeforeItIsDue) {
    const Pacer pacer(20000, 200);
    std::vector<uint64_t> order;
    std::vector<uint64_t> at;
    order.reserve(200);
    at.reserve(200);
    const std::atomic<bool> never{false};
    const uint64_t start = nowNs();
    const uint64_t emitted = pacer.run(
        [&](uint64_t n) {
            order.push_back(n);
            at.push_back(nowNs() - start);
        },
        never);
    ASSERT_EQ(emitted, 200u);
    for (uint64_t n = 0; n < 200; ++n) {
        EXPECT_EQ(order[n], n);
        EXPECT_GE(at[n], pacer.dueAt(n)) << "item " << n << " came early";
    }
}

TEST(BenchPacer, StopsWhenAskedToAndSaysHowFarItGot) {
    const Pacer pacer(1000, 1'000'000);  // would take 1000 s
    std::atomic<bool> stop{false};
    const uint64_t emitted = pacer.run([&](uint64_t n) { stop = n == 4; }, stop);
    EXPECT_EQ(emitted, 5u);

    // Here many items are due at every look, as after a late wake-up: the
    // stop still ends the run at the item that asked for it.
    const Pacer burst(1e9, 1'000'000);
    std::atomic<bool> stopBurst{false};
    EXPECT_EQ(burst.run([&](uint64_t n) { stopBurst = n == 4; }, stopBurst), 5u);
}

TEST(BenchOptions, TakesItsOwnAndLeavesTheRestInOrder) {
    char program[] = "bench", shortFlag[] = "--short", filter[] = "--benchmark_filter=ring",
         histogramFlag[] = "--histogram_out=/tmp/h.json", other[] = "--benchmark_min_time=0.01";
    char* argv[] = {program, shortFlag, filter, histogramFlag, other, nullptr};
    int argc = 5;
    const Options options = takeOptions(argc, argv);
    EXPECT_TRUE(options.smoke);
    EXPECT_EQ(options.histogramOut, "/tmp/h.json");
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[1], filter);
    EXPECT_STREQ(argv[2], other);
    EXPECT_EQ(argv[3], nullptr);
}

// Every "zero allocations" in the table rests on the probe seeing a request.
TEST(BenchAllocationProbe, CountsEveryRequestTheLibraryMakes) {
    AllocationProbe probe(Count::Requests);
    EXPECT_EQ(platform::allocate(16), nullptr) << "a counted request fails";
    EXPECT_EQ(platform::allocate(32), nullptr);
    const AllocationProbe::Result result = probe.finish();
    EXPECT_EQ(result.requests, 2);
    EXPECT_EQ(result.heldChange, 0);
    void* block = platform::allocate(8);
    EXPECT_NE(block, nullptr) << "finishing the probe disarms it";
    platform::release(block);
}

TEST(BenchAllocationProbe, SeesABlockKeptWithoutCountingRequests) {
    AllocationProbe probe(Count::HeldBlocks);
    void* block = platform::allocate(16);
    ASSERT_NE(block, nullptr);
    const AllocationProbe::Result result = probe.finish();
    EXPECT_EQ(result.heldChange, 1);
    EXPECT_EQ(result.requests, 0);
    platform::release(block);
}

ProcessCost counted(uint64_t cpuNs, uint64_t wakeups) {
    ProcessCost cost;
    cost.cpuNs = cpuNs;
    cost.cpuNsAtStart = cpuNs;
    cost.wakeups = wakeups;
    cost.threads = 3;
    cost.wakeupsKnown = true;
    return cost;
}

// The per-report and per-second figures of every cost table, and the
// counters' own reading taken out without ever wrapping below zero.
TEST(BenchCostWindow, FiguresFollowFromTheSamplesLessTheirOwnReading) {
    struct Case {
        const char* what;
        ProcessCost before, after, sampling;
        uint64_t wallNs, items;
        double usPerItem, wakeupsPerItem, percent, wakeupsPerSecond, itemsPerSecond;
    };
    const Case cases[] = {
        {"plain", counted(5'000'000, 100), counted(7'000'000, 150), counted(0, 0), 1'000'000'000, 1000,
         2.0, 0.05, 0.2, 50, 1000},
        {"reading taken out", counted(0, 0), counted(3'000'000, 60), counted(1'000'000, 10), 2'000'000'000, 500,
         4.0, 0.1, 0.1, 25, 250},
        {"reading dearer than the window", counted(100, 10), counted(200, 11), counted(5000, 7), 1'000'000'000, 10,
         0, 0, 0, 0, 10},
        {"nothing delivered", counted(0, 0), counted(1'000'000, 4), counted(0, 0), 500'000'000, 0,
         0, 0, 0.2, 8, 0},
        {"no time passed", counted(0, 0), counted(1'000, 4), counted(0, 0), 0, 3, 1'000.0 / 1e3 / 3, 4.0 / 3, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const CostWindow window =
            windowBetween(c.before, c.after, c.before, c.after, c.wallNs, c.items, c.sampling, c.sampling);
        EXPECT_DOUBLE_EQ(window.cpuUsPerItem(), c.usPerItem) << c.what;
        EXPECT_DOUBLE_EQ(window.wakeupsPerItem(), c.wakeupsPerItem) << c.what;
        EXPECT_DOUBLE_EQ(window.percentOfCore(), c.percent) << c.what;
        EXPECT_DOUBLE_EQ(window.wakeupsPerSecond(), c.wakeupsPerSecond) << c.what;
        EXPECT_DOUBLE_EQ(window.itemsPerSecond(), c.itemsPerSecond) << c.what;
        EXPECT_DOUBLE_EQ(window.serverPercentOfCore(), c.percent) << c.what << ": the server's alike";
        EXPECT_DOUBLE_EQ(window.serverWakeupsPerSecond(), c.wakeupsPerSecond) << c.what;
    }
}

TEST(BenchCostWindow, CountsOnlyTheItemsOfTheWindowAndItsWallTime) {
    uint64_t looks = 0;
    const CostWindow window = measureWindow(0, 0.02, [&] { return ++looks == 1 ? uint64_t{10} : uint64_t{25}; });
    EXPECT_EQ(looks, 2u) << "once at each end";
    EXPECT_EQ(window.items, 15u);
    EXPECT_GE(window.wallNs, 20'000'000u);
    EXPECT_TRUE(window.process.wakeupsKnown);
    EXPECT_GE(window.process.threads, 1u);
}

TEST(BenchProcessCost, ReadsTheKernelsCountersOutOfTheirFiles) {
    struct Case {
        const char* status;
        uint64_t switches;
    };
    const Case cases[] = {
        {"Name:\tx\nvoluntary_ctxt_switches:\t12\nnonvoluntary_ctxt_switches:\t3\n", 15},
        // The involuntary line first: its key must not be taken for the voluntary one.
        {"nonvoluntary_ctxt_switches:\t3\nvoluntary_ctxt_switches:\t12\n", 15},
        {"voluntary_ctxt_switches:\t7\n", 7},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(contextSwitchesInStatus(c.status), c.switches) << c.status;
    EXPECT_EQ(cpuNsInSchedstat("123456789 5000 42\n"), 123456789u);
    EXPECT_EQ(cpuNsInSchedstat(""), 0u);
}

TEST(BenchProcessCost, DifferencesNeverGoBelowZeroAndKnowWhatBothKnew) {
    // CPU counts from the end of the first sample to the start of the second:
    // the samples' own walks through /proc are not the interval's.
    const ProcessCost before{100, 90, 50, 3, true};
    const ProcessCost after{250, 240, 80, 4, true};
    const ProcessCost cost = costBetween(before, after);
    EXPECT_EQ(cost.cpuNs, 140u);
    EXPECT_EQ(cost.wakeups, 30u);
    EXPECT_TRUE(cost.wakeupsKnown);
    const ProcessCost unknown = costBetween(ProcessCost{}, after);
    EXPECT_FALSE(unknown.wakeupsKnown);
    EXPECT_EQ(unknown.wakeups, 0u);
    EXPECT_EQ(costBetween(after, before).cpuNs, 0u);
    EXPECT_DOUBLE_EQ(percentOfCore(5'000'000, 1'000'000'000), 0.5);
}

// Every sleep of a thread is a wake-up the kernel counts: a count that
// missed a thread, or counted only the caller, would call an idle library
// free when it is not.
TEST(BenchProcessCost, CountsTheWakeupsOfEveryThread) {
    constexpr int kSleeps = 20;
    std::atomic<bool> slept{false};
    std::atomic<bool> mayEnd{false};
    const ProcessCost before = sampleProcessCost();
    std::thread sleeper([&] {
        for (int i = 0; i < kSleeps; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        slept = true;
        // Alive until sampled: an ended thread's counts leave the process's.
        while (!mayEnd) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!slept) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const ProcessCost during = costBetween(before, sampleProcessCost());
    mayEnd = true;
    sleeper.join();
    EXPECT_TRUE(during.wakeupsKnown);
    EXPECT_GE(during.wakeups, static_cast<uint64_t>(kSleeps));
    EXPECT_GE(during.threads, 2u);
}

TEST(BenchFigures, WriteEveryFigureWithItsFloorAsJson) {
    FigureSheet sheet("sim");
    sheet.setContext("seconds per run", "2");
    sheet.addWithFloor("Callback latency", "callback at 1,000/s, p50", 47.5, 43.25, "us", "floor: two \"hops\"");
    sheet.add("Idle cost", "idle, 25 interfaces open: wake-ups", 500, "wake-ups/s");
    const std::string path = ::testing::TempDir() + "figures_test.json";
    ASSERT_TRUE(sheet.writeJson(path));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string json = text.str();
    std::remove(path.c_str());
    for (const char* expected : {"\"platform\": \"sim\"", "\"seconds per run\": \"2\"", "\"value\": 47.5",
                                 "\"floor\": 43.25", "\"note\": \"floor: two \\\"hops\\\"\"",
                                 "\"value\": 500, \"unit\": \"wake-ups/s\", \"floor\": null"})
        EXPECT_NE(json.find(expected), std::string::npos) << expected << " in " << json;
    EXPECT_DOUBLE_EQ(ratioToFloor(47.5, 0), 0);
}

int32_t JUXHID_CALL ignoreReport(uint8_t*) { return 1; }

// An idle library wakes no thread of its own: its readers sleep in their
// reads, its callback threads until a report, the unplug or a close, its
// timer while no tick is due. A thread that looked at the clock every few
// tens of milliseconds (as the callback threads once did, 20 times a second
// each) would show here as dozens of wake-ups in a second; the bound leaves
// room for the measuring thread's own and a stray one of the bus's.
TEST(BenchIdleLibrary, WakesNoThreadOfItsOwn) {
    constexpr int32_t kInterfaces = 5;
    struct Case {
        const char* what;
        bool callbacks;
        bool unplugFirst;
    };
    const Case cases[] = {
        {"interfaces open", false, false},
        {"interfaces open with data callbacks", true, false},
        {"interfaces with data callbacks after an unplug nobody handled", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimDevices devices(kInterfaces, 16, 0);
        ASSERT_TRUE(devices.ok()) << devices.error();
        for (int32_t index = 0; c.callbacks && index < kInterfaces; ++index)
            ASSERT_EQ(SetDataCallback(index, 1, ignoreReport), JUXHID_OK);
        for (int32_t index = 0; c.unplugFirst && index < kInterfaces; ++index)
            ASSERT_EQ(juxsim_detach(devices.busId(index)), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the unplug seen, every thread asleep
        const ProcessCost before = sampleProcessCost();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const ProcessCost idle = costBetween(before, sampleProcessCost());
        ASSERT_TRUE(idle.wakeupsKnown);
        EXPECT_LE(idle.wakeups, 10u) << "wake-ups in 1 s with " << kInterfaces << " idle interfaces";
    }
}

}  // namespace
}  // namespace juxhid::bench
