// ReportRing arithmetic: where reports land, what fills and empties it, and
// that order survives any number of wraps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "interface/report_ring.h"
#include "juxhid_sim.h"

namespace juxhid {
namespace {

constexpr uint32_t kSize = 4;

std::vector<uint8_t> numbered(uint32_t n) {
    std::vector<uint8_t> bytes(kSize);
    std::memcpy(bytes.data(), &n, kSize);
    return bytes;
}

uint32_t number(const uint8_t* bytes) {
    uint32_t n = 0;
    std::memcpy(&n, bytes, kSize);
    return n;
}

class Ring : public ::testing::Test {
protected:
    void SetUp() override {
        juxsim_reset();
        ring.create(kSize);
        ASSERT_TRUE(ring.hasStorage());
    }
    void TearDown() override { ring.destroy(); }

    void push(uint32_t n) { ring.pushOverwrite(numbered(n).data()); }
    // The number popped, or 0 when the ring was empty.
    uint32_t pop() {
        uint8_t out[kSize] = {};
        return ring.popOldest(out) ? number(out) : 0;
    }

    ReportRing ring;
};

TEST_F(Ring, NewRingIsEmptyAndHasNoNewest) {
    uint8_t out[kSize] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_FALSE(ring.popOldest(out));
    EXPECT_FALSE(ring.peekNewest(out));
    EXPECT_EQ(out[0], 0xEE) << "a failed take must leave the destination untouched";
    EXPECT_EQ(ring.unread(), 0);
}

TEST_F(Ring, FirstReportLandsInSlotOneAndTheRingHolds128) {
    push(1);
    EXPECT_EQ(ring.writeIndex(), 1);
    for (uint32_t n = 2; n <= 128; ++n) push(n);
    EXPECT_TRUE(ring.full());
    EXPECT_EQ(ring.writeIndex(), 0);
    EXPECT_EQ(ring.readIndex(), 0);
    EXPECT_EQ(ring.unread(), 128);
    uint8_t newest[kSize];
    ASSERT_TRUE(ring.peekNewest(newest));
    EXPECT_EQ(number(newest), 128u) << "the 128th report is in slot 0";
}

TEST_F(Ring, OverwriteLosesTheOldestAndStaysFull) {
    for (uint32_t n = 1; n <= 129; ++n) push(n);
    EXPECT_TRUE(ring.full());
    EXPECT_EQ(pop(), 2u);
    EXPECT_FALSE(ring.full());
    EXPECT_EQ(ring.unread(), 127);
}

TEST_F(Ring, TwoHundredOverwritesLeaveTheNewest128InOrder) {
    for (uint32_t n = 1; n <= 200; ++n) push(n);
    for (uint32_t n = 73; n <= 200; ++n) ASSERT_EQ(pop(), n);
    EXPECT_EQ(pop(), 0u);
}

TEST_F(Ring, PushIfRoomRefusesWhenFullWithoutChangingAnything) {
    for (uint32_t n = 1; n <= 128; ++n) ASSERT_TRUE(ring.pushIfRoom(numbered(n).data()));
    const int32_t writeIndex = ring.writeIndex(), readIndex = ring.readIndex();
    EXPECT_FALSE(ring.pushIfRoom(numbered(999).data()));
    EXPECT_EQ(ring.writeIndex(), writeIndex);
    EXPECT_EQ(ring.readIndex(), readIndex);
    EXPECT_TRUE(ring.full());
    EXPECT_EQ(pop(), 1u);
    EXPECT_TRUE(ring.pushIfRoom(numbered(129).data()));
    for (uint32_t n = 2; n <= 129; ++n) ASSERT_EQ(pop(), n);
}

TEST_F(Ring, EmptiedRingStillAnswersItsNewestUntilCleared) {
    for (uint32_t n = 1; n <= 128; ++n) push(n);
    for (uint32_t n = 1; n <= 128; ++n) ASSERT_EQ(pop(), n);
    EXPECT_EQ(pop(), 0u);
    uint8_t newest[kSize];
    ASSERT_TRUE(ring.peekNewest(newest));
    EXPECT_EQ(number(newest), 128u);
    ring.clear();
    EXPECT_FALSE(ring.peekNewest(newest));
    EXPECT_EQ(pop(), 0u) << "old bytes in storage must not come back after clear";
    push(7);
    ASSERT_TRUE(ring.peekNewest(newest));
    EXPECT_EQ(number(newest), 7u);
    EXPECT_EQ(pop(), 7u);
}

TEST_F(Ring, OrderSurvivesManyWrapsOfBothIndices) {
    uint32_t pushed = 0, popped = 0;
    // Uneven bursts so the indices cross the end at every offset.
    for (int round = 0; round < 400; ++round) {
        const int burst = 1 + (round * 37) % 128;
        for (int i = 0; i < burst && ring.unread() < 128; ++i) push(++pushed);
        const int drain = 1 + (round * 53) % 128;
        for (int i = 0; i < drain && ring.unread() > 0; ++i) ASSERT_EQ(pop(), ++popped);
    }
    while (ring.unread() > 0) ASSERT_EQ(pop(), ++popped);
    EXPECT_EQ(popped, pushed);
    EXPECT_GT(pushed, 128u * 50);
}

TEST(RingStorage, ZeroByteReportsNeedNoStorageAndNoMessage) {
    juxsim_reset();
    ReportRing ring;
    ring.create(0);
    EXPECT_TRUE(ring.hasStorage());
    const uint8_t nothing = 0;
    ring.pushOverwrite(&nothing);
    uint8_t out = 0xAA;
    EXPECT_TRUE(ring.popOldest(&out));
    EXPECT_EQ(out, 0xAA);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(counts.messageBoxes, 0);
    EXPECT_EQ(counts.allocations, 0);
    ring.destroy();
}

TEST(RingStorage, MissingStorageShowsTheMessageAndKeepsTheRingOutOfUse) {
    juxsim_reset();
    JuxsimFault fault{};
    fault.call = JUXSIM_CALL_ALLOCATE;
    fault.thread = JUXSIM_THREAD_ARMING;
    fault.count = 1;
    const int32_t id = juxsim_fault_arm(&fault);
    ReportRing ring;
    ring.create(64);
    EXPECT_EQ(juxsim_fault_fired(id), 1);
    EXPECT_TRUE(ring.exists());
    EXPECT_FALSE(ring.hasStorage());
    char text[64], caption[64];
    juxsim_last_message_box(text, sizeof text, caption, sizeof caption);
    EXPECT_STREQ(text, "Error:Out of Memory");
    EXPECT_STREQ(caption, "malloc error");
    uint8_t report[64] = {1};
    ring.pushOverwrite(report);
    EXPECT_FALSE(ring.pushIfRoom(report));
    EXPECT_FALSE(ring.popOldest(report));
    EXPECT_FALSE(ring.peekNewest(report));
    ring.destroy();
    juxsim_reset();
}

}  // namespace
}  // namespace juxhid
