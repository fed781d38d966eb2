#include <gtest/gtest.h>

#include "kernel/run_arithmetic.h"

namespace juxhid::bench::kernel {
namespace {

SequenceCheck saw(std::initializer_list<uint32_t> sequences) {
    SequenceCheck check;
    for (const uint32_t sequence : sequences) check.see(sequence);
    return check;
}

TEST(KernelMeasureArithmetic, DeliveryIsSummedOverDevicesWithTheTailCountedLost) {
    struct Case {
        const char* what;
        std::vector<SequenceCheck> devices;
        uint32_t sent;
        Delivery expected;
    };
    const Case cases[] = {
        {"all came", {saw({0, 1, 2}), saw({0, 1, 2})}, 3, {6, 0, 6}},
        {"a gap and a missing tail", {saw({0, 2}), saw({0, 1})}, 4, {4, 4, 4}},
        {"a late straggler", {saw({0, 2, 1, 3})}, 4, {4, 1, 3}},
        {"nothing came", {SequenceCheck{}}, 5, {0, 5, 0}},
    };
    for (const Case& c : cases) {
        const Delivery got = sumDelivery(c.devices, c.sent);
        EXPECT_EQ(got.arrived, c.expected.arrived) << c.what;
        EXPECT_EQ(got.lost, c.expected.lost) << c.what;
        EXPECT_EQ(got.inOrder, c.expected.inOrder) << c.what;
    }
}

TEST(KernelMeasureArithmetic, LatenciesOfDevicesMergeIntoOneAscendingSequence) {
    EXPECT_EQ(mergeSorted({{1, 5, 9}, {}, {2, 3, 10}, {4}}), (std::vector<uint64_t>{1, 2, 3, 4, 5, 9, 10}));
    EXPECT_TRUE(mergeSorted({}).empty());
}

TEST(KernelMeasureArithmetic, RatesAndCostsGuardAgainstEmptyRuns) {
    EXPECT_DOUBLE_EQ(usCpuPerReport(3'000'000, 1000), 3.0);
    EXPECT_DOUBLE_EQ(usCpuPerReport(3'000'000, 0), 0.0);
    // 1,001 rounds stamped 1 s apart end to end: 1,000 intervals.
    EXPECT_DOUBLE_EQ(achievedRate(1001, 5'000'000'000, 6'000'000'000), 1000.0);
    EXPECT_DOUBLE_EQ(achievedRate(1, 5, 10), 0.0);
    EXPECT_DOUBLE_EQ(achievedRate(10, 10, 10), 0.0);
    EXPECT_DOUBLE_EQ(perSecond(40, 2'000'000'000), 20.0);
    EXPECT_DOUBLE_EQ(perSecond(40, 0), 0.0);
}

}  // namespace
}  // namespace juxhid::bench::kernel
