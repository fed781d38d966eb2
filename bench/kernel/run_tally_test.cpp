#include <gtest/gtest.h>

#include "kernel/run_tally.h"
#include "support/stamp.h"

namespace juxhid::bench::kernel {
namespace {

using std::chrono::milliseconds;

// A report as the device side writes it, less the report-ID byte.
struct Report {
    uint8_t whole[1 + 32] = {};
    Report(uint8_t run, uint8_t device, uint32_t sequence, uint64_t stampedNs) {
        writeStamp(whole, Stamp{run, sequence, stampedNs});
        whole[1 + kDeviceByte] = device;
    }
    const uint8_t* payload() const { return whole + 1; }
};

TEST(KernelMeasureTally, CountsOnlyItsRunsDevicesAndEndsWhenEachDevicesLastCame) {
    RunTally tally(/*run=*/3, /*devices=*/2, /*perDevice=*/2);
    tally.record(Report(2, 0, 0, 100).payload(), 500);  // an earlier run's straggler
    tally.record(Report(3, 7, 0, 100).payload(), 500);  // no such device in this run
    tally.record(Report(3, 0, 0, 100).payload(), 400);
    tally.record(Report(3, 0, 1, 200).payload(), 700);
    tally.record(Report(3, 0, 1, 200).payload(), 900);  // the last again: no latency, device 0 done once
    EXPECT_FALSE(tally.waitForLast(milliseconds(1)));
    tally.record(Report(3, 1, 1, 300).payload(), 350);
    EXPECT_TRUE(tally.waitForLast(milliseconds(1)));

    EXPECT_EQ(tally.latenciesSorted(), (std::vector<uint64_t>{50, 300, 500}));
    const Delivery delivery = tally.delivery();
    EXPECT_EQ(delivery.arrived, 4u);
    EXPECT_EQ(delivery.lost, 1u);  // device 1's report 0
    EXPECT_EQ(delivery.inOrder, 3u);
}

TEST(KernelMeasureTally, AReportSeenBeforeItsStampCountsAsNoLatencyAtAll) {
    RunTally tally(1, 1, 1);
    tally.record(Report(1, 0, 0, 1000).payload(), 999);
    EXPECT_EQ(tally.latenciesSorted(), (std::vector<uint64_t>{0}));
}

}  // namespace
}  // namespace juxhid::bench::kernel
