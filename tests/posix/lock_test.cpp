#include <gtest/gtest.h>

#include <atomic>

#include "os_test_support.h"

namespace juxhid::test {
namespace {

using platform::kWaitAbandoned;
using platform::kWaitAcquired;
using platform::kWaitFailed;
using platform::kWaitTimeout;

class Locks : public ::testing::Test {
protected:
    void SetUp() override { lock_ = os::lockCreate(); ASSERT_NE(lock_, nullptr); }
    void TearDown() override { os::lockClose(lock_); }

    // Holds the lock on another thread until `release` is set.
    os::Thread* holdElsewhere(std::atomic<bool>& held, std::atomic<bool>& release) {
        return startThread([&] {
            EXPECT_EQ(os::lockWait(lock_, 1000), kWaitAcquired);
            held = true;
            while (!release) os::sleepMs(1);
            EXPECT_TRUE(os::lockRelease(lock_));
        });
    }

    os::Lock* lock_ = nullptr;
};

TEST_F(Locks, OwnerMayTakeItAgainAndMustReleaseAsOftenAsItTookIt) {
    EXPECT_EQ(os::lockWait(lock_, 0), kWaitAcquired);
    EXPECT_EQ(os::lockWait(lock_, 0), kWaitAcquired);
    EXPECT_TRUE(os::lockRelease(lock_));
    std::atomic<int32_t> outcome{0};
    EXPECT_TRUE(joinThread(startThread([&] { outcome = os::lockWait(lock_, 0); })));
    EXPECT_EQ(outcome, kWaitTimeout) << "still held once after one of two releases";
    EXPECT_TRUE(os::lockRelease(lock_));
    EXPECT_FALSE(os::lockRelease(lock_)) << "no longer owned";
}

TEST_F(Locks, WaitForALockHeldElsewhereTimesOutAfterAboutItsLimit) {
    std::atomic<bool> held{false}, release{false};
    os::Thread* holder = holdElsewhere(held, release);
    while (!held) os::sleepMs(1);
    const uint64_t start = os::monotonicNs();
    EXPECT_EQ(os::lockWait(lock_, 60), kWaitTimeout);
    const double waited = msSince(start);
    EXPECT_GE(waited, 59.0);
    EXPECT_LT(waited, 3000.0);
    EXPECT_EQ(os::lockWait(lock_, 0), kWaitTimeout) << "a zero wait only looks";
    release = true;
    EXPECT_TRUE(joinThread(holder));
}

TEST_F(Locks, WaiterGetsTheLockWhenTheOwnerReleasesIt) {
    std::atomic<bool> held{false}, release{false};
    os::Thread* holder = holdElsewhere(held, release);
    while (!held) os::sleepMs(1);
    std::atomic<int32_t> outcome{-2};
    os::Thread* waiter = startThread([&] {
        outcome = os::lockWait(lock_, 5000);
        if (outcome == kWaitAcquired) os::lockRelease(lock_);
    });
    os::sleepMs(20);
    EXPECT_EQ(outcome, -2) << "still waiting while the lock is held";
    release = true;
    EXPECT_TRUE(joinThread(waiter));
    EXPECT_EQ(outcome, kWaitAcquired);
    EXPECT_TRUE(joinThread(holder));
}

TEST_F(Locks, OwnerThatEndsHoldingTheLockLeavesItAbandonedToTheNextWaiter) {
    EXPECT_TRUE(joinThread(startThread([&] { EXPECT_EQ(os::lockWait(lock_, 0), kWaitAcquired); })));
    EXPECT_EQ(os::lockWait(lock_, 5000), kWaitAbandoned);
    // The new owner holds it like any other: it can release it, and the
    // next wait is an ordinary one.
    EXPECT_TRUE(os::lockRelease(lock_));
    EXPECT_EQ(os::lockWait(lock_, 0), kWaitAcquired);
    EXPECT_TRUE(os::lockRelease(lock_));
}

TEST_F(Locks, ReleaseByAThreadThatDoesNotOwnItFailsAndLeavesItHeld) {
    ASSERT_EQ(os::lockWait(lock_, 0), kWaitAcquired);
    std::atomic<bool> released{true};
    std::atomic<int32_t> outcome{0};
    EXPECT_TRUE(joinThread(startThread([&] {
        released = os::lockRelease(lock_);
        outcome = os::lockWait(lock_, 0);
    })));
    EXPECT_FALSE(released);
    EXPECT_EQ(outcome, kWaitTimeout);
    EXPECT_TRUE(os::lockRelease(lock_));
}

TEST(LocksWithoutALock, WaitFailsAndReleaseAnswersFalse) {
    EXPECT_EQ(os::lockWait(nullptr, 0), kWaitFailed);
    EXPECT_FALSE(os::lockRelease(nullptr));
}

}  // namespace
}  // namespace juxhid::test
