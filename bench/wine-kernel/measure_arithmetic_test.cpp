// The arithmetic of the Wine-stack measuring pass: the clock offset from
// request/answer exchanges, counter ticks in nanoseconds, and what a stream
// of stamped reports adds up to.
#include <gtest/gtest.h>

#include <vector>

#include "arrivals.h"
#include "clock_sync.h"

namespace juxhid::winekernel {
namespace {

TEST(ClockOffset, TakesTheShortestRoundTripAndIgnoresBrokenOnes) {
    struct Case {
        const char* what;
        std::vector<ClockExchange> exchanges;
        int64_t offset;
        int64_t rtt;
    };
    const std::vector<Case> cases = {
        {"none", {}, 0, -1},
        {"one", {{1000, 5500, 2000}}, 4000, 1000},
        {"the shortest wins over an earlier, longer one",
         {{0, 10'000, 4000}, {10'000, 20'600, 10'200}, {20'000, 30'000, 21'000}},
         10'500, 200},
        {"the first of two equally short", {{0, 1100, 200}, {1000, 9100, 1200}}, 1000, 200},
        {"an answer before the question is ignored", {{5000, 0, 4000}, {0, -900, 200}}, -1000, 200},
    };
    for (const Case& test : cases) {
        const ClockOffset offset = offsetFromExchanges(test.exchanges);
        EXPECT_EQ(offset.rttNs, test.rtt) << test.what;
        EXPECT_EQ(offset.offsetNs, test.offset) << test.what;
        EXPECT_EQ(offset.known(), test.rtt >= 0) << test.what;
    }
    EXPECT_EQ(betterOffset(ClockOffset{}, ClockOffset{5, 300}).offsetNs, 5);
    EXPECT_EQ(betterOffset(ClockOffset{5, 300}, ClockOffset{}).offsetNs, 5) << "an unknown one never replaces";
    EXPECT_EQ(betterOffset(ClockOffset{5, 300}, ClockOffset{7, 200}).offsetNs, 7);
    EXPECT_EQ(betterOffset(ClockOffset{5, 300}, ClockOffset{7, 300}).offsetNs, 5) << "a tie keeps the held one";
    const ClockOffset offset{-1000, 200};
    EXPECT_EQ(latencyNs(9500, 10'000, offset), -500) << "seen before its stamp";
    EXPECT_EQ(latencyNs(8000, 10'000, offset), 1000);
    EXPECT_DOUBLE_EQ(driftPpm(ClockOffset{0, 1}, ClockOffset{50, 1}, 1'000'000'000), 0.05);
}

TEST(ClockOffset, CounterTicksInNanosecondsWithoutOverflow) {
    struct Case {
        int64_t ticks, frequency, ns;
    };
    const std::vector<Case> cases = {
        {10'000'000, 10'000'000, 1'000'000'000},
        {123, 10'000'000, 12'300},
        {3'000'000'000'000'000LL, 3'000'000'000LL, 1'000'000'000'000'000LL},  // ticks * 1e9 overflows
        {1, 3, 333'333'333},
    };
    for (const Case& test : cases) EXPECT_EQ(ticksToNs(test.ticks, test.frequency), test.ns) << test.ticks;
    EXPECT_DOUBLE_EQ(cpuUsPerReport(5'000'000, 1000), 5.0);
    EXPECT_DOUBLE_EQ(cpuUsPerReport(5'000'000, 0), 0.0);
    EXPECT_DOUBLE_EQ(perSecond(30, 3'000'000'000), 10.0);
}

std::vector<uint8_t> stamped(uint8_t run, uint32_t sequence, int64_t stampNs, uint8_t place) {
    std::vector<uint8_t> report(1 + kStampedPayload, 0);
    bench::writeStamp(report.data(), bench::Stamp{run, sequence, static_cast<uint64_t>(stampNs)});
    report[1 + kStreamPlace] = place;
    return report;
}

TEST(Arrivals, CountsLostOutOfOrderAndStraysPerDeviceAndMergesLatencies) {
    Arrivals arrivals(2, 16, 7, ClockOffset{1000, 10});
    struct Seen {
        uint8_t run, place;
        uint32_t sequence;
        int64_t stampNs, localNs;
    };
    const std::vector<Seen> seen = {
        {7, 0, 0, 1000, 100},   // 100 ns late
        {7, 0, 2, 2000, 1300},  // 300; 1 lost before it
        {7, 0, 1, 2000, 1500},  // 500, out of order (the lost one was counted already)
        {7, 1, 0, 1000, 900},   // 900 on the other device
        {7, 1, 1, 5000, 3000},  // seen 1000 ns before its stamp: 0
        {6, 1, 2, 1000, 1000},  // another run's
        {7, 9, 2, 1000, 1000},  // no such device
    };
    for (const Seen& report : seen) {
        const std::vector<uint8_t> bytes = stamped(report.run, report.sequence, report.stampNs, report.place);
        arrivals.seeReport(bytes.data(), report.localNs);
    }
    EXPECT_TRUE(arrivals.complete(2));
    EXPECT_FALSE(arrivals.complete(3)) << "device 0 is at 3, device 1 at 2";
    EXPECT_EQ(arrivals.received(), 5u);
    const Arrivals::Totals totals = arrivals.finish(4);
    EXPECT_EQ(totals.received, 5u);
    EXPECT_EQ(totals.lost, 1u + 1u + 2u) << "device 0: 1 skipped, 3 never came; device 1: 2 and 3 never came";
    EXPECT_EQ(totals.outOfOrder, 1u);
    EXPECT_EQ(totals.strays, 2u);
    EXPECT_EQ(totals.negative, 1u);
    EXPECT_EQ(totals.latency.count, 5u);
    EXPECT_EQ(totals.latency.p50, 300u);
    EXPECT_EQ(totals.latency.max, 900u);

    // The callback's view (no report-ID byte) is read the same way.
    Arrivals payloads(1, 4, 1, ClockOffset{0, 0});
    const std::vector<uint8_t> bytes = stamped(1, 0, 100, 0);
    payloads.seePayload(bytes.data() + 1, 350);
    EXPECT_EQ(payloads.finish(1).latency.p50, 250u);
}

}  // namespace
}  // namespace juxhid::winekernel
