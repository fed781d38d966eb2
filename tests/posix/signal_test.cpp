#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "os_test_support.h"

namespace juxhid::test {
namespace {

using platform::kWaitAcquired;
using platform::kWaitFailed;
using platform::kWaitSecond;
using platform::kWaitTimeout;

class Signals : public ::testing::Test {
protected:
    void SetUp() override {
        first_ = os::signalCreate();
        second_ = os::signalCreate();
        ASSERT_NE(first_, nullptr);
        ASSERT_NE(second_, nullptr);
    }
    void TearDown() override {
        os::signalClose(first_);
        os::signalClose(second_);
    }

    os::Signal* first_ = nullptr;
    os::Signal* second_ = nullptr;
};

TEST_F(Signals, StartClearAndStaySetUntilReset) {
    EXPECT_FALSE(os::signalIsSet(first_));
    EXPECT_EQ(os::signalWait(first_, 0), kWaitTimeout);
    os::signalSet(first_);
    EXPECT_TRUE(os::signalIsSet(first_));
    EXPECT_EQ(os::signalWait(first_, 0), kWaitAcquired);
    EXPECT_EQ(os::signalWait(first_, 100), kWaitAcquired);
    EXPECT_TRUE(os::signalIsSet(first_)) << "waiting resets nothing";
    os::signalReset(first_);
    EXPECT_FALSE(os::signalIsSet(first_));
    EXPECT_FALSE(os::signalIsSet(second_));
}

TEST_F(Signals, WaitTimesOutAfterAboutItsLimit) {
    const uint64_t start = os::monotonicNs();
    EXPECT_EQ(os::signalWait(first_, 60), kWaitTimeout);
    EXPECT_GE(msSince(start), 59.0);
    const uint64_t eitherStart = os::monotonicNs();
    EXPECT_EQ(os::signalWaitEither(first_, second_, 60), kWaitTimeout);
    const double waited = msSince(eitherStart);
    EXPECT_GE(waited, 59.0);
    EXPECT_LT(waited, 3000.0);
}

TEST_F(Signals, SetFromAnotherThreadWakesTheWaiter) {
    std::atomic<int32_t> outcome{-2};
    os::Thread* waiter = startThread([&] { outcome = os::signalWait(first_, 10000); });
    os::sleepMs(20);
    EXPECT_EQ(outcome, -2);
    os::signalSet(first_);
    EXPECT_TRUE(joinThread(waiter));
    EXPECT_EQ(outcome, kWaitAcquired);
}

TEST_F(Signals, WaitForEitherAnswersTheFirstWhenBothAreSet) {
    os::signalSet(second_);
    EXPECT_EQ(os::signalWaitEither(first_, second_, 0), kWaitSecond);
    os::signalSet(first_);
    EXPECT_EQ(os::signalWaitEither(first_, second_, 0), kWaitAcquired);
    EXPECT_EQ(os::signalWaitEither(first_, second_, 100), kWaitAcquired);
    os::signalReset(second_);
    EXPECT_EQ(os::signalWaitEither(first_, second_, 100), kWaitAcquired);
    EXPECT_TRUE(os::signalIsSet(first_));
}

TEST_F(Signals, WaitForEitherWakesForWhicheverIsSet) {
    for (const bool setSecond : {true, false}) {
        os::signalReset(first_);
        os::signalReset(second_);
        std::atomic<int32_t> outcome{-2};
        os::Thread* waiter = startThread([&] { outcome = os::signalWaitEither(first_, second_, 10000); });
        os::sleepMs(20);
        EXPECT_EQ(outcome, -2);
        os::signalSet(setSecond ? second_ : first_);
        EXPECT_TRUE(joinThread(waiter));
        EXPECT_EQ(outcome, setSecond ? kWaitSecond : kWaitAcquired);
    }
}

// Manual reset: one set releases every waiter, and only waiters of that
// signal.
TEST_F(Signals, SetReleasesEveryWaiterOfThatSignalAndNoOther) {
    constexpr int kWaiters = 4;
    std::atomic<int> woken{0};
    std::atomic<int32_t> otherOutcome{-2};
    std::vector<os::Thread*> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.push_back(startThread([&] {
            if (os::signalWait(first_, 10000) == kWaitAcquired) ++woken;
        }));
    os::Thread* other = startThread([&] { otherOutcome = os::signalWait(second_, 300); });
    os::sleepMs(20);
    os::signalSet(first_);
    for (os::Thread* waiter : waiters) EXPECT_TRUE(joinThread(waiter));
    EXPECT_EQ(woken, kWaiters);
    EXPECT_TRUE(joinThread(other));
    EXPECT_EQ(otherOutcome, kWaitTimeout);
}

TEST_F(Signals, WaitingOnAMissingSignalFails) {
    EXPECT_EQ(os::signalWait(nullptr, 0), kWaitFailed);
    EXPECT_EQ(os::signalWaitEither(first_, nullptr, 10), kWaitFailed);
    EXPECT_EQ(os::signalWaitEither(nullptr, second_, 10), kWaitFailed);
    EXPECT_FALSE(os::signalIsSet(nullptr));
}

}  // namespace
}  // namespace juxhid::test
