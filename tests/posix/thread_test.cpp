#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "os_test_support.h"

namespace juxhid::test {
namespace {

using platform::kWaitAcquired;
using platform::kWaitFailed;
using platform::kWaitTimeout;

TEST(Threads, WaitAnswersEndedOnlyOnceTheRoutineHasReturned) {
    std::atomic<bool> finish{false};
    std::atomic<bool> returned{false};
    os::Thread* thread = startThread([&] {
        while (!finish) os::sleepMs(1);
        returned = true;
    });
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(os::threadWait(thread, 30), kWaitTimeout);
    EXPECT_EQ(os::threadWait(thread, 0), kWaitTimeout);
    finish = true;
    EXPECT_EQ(os::threadWait(thread, 10000), kWaitAcquired);
    EXPECT_TRUE(returned);
    EXPECT_EQ(os::threadWait(thread, 0), kWaitAcquired) << "stays ended";
    os::threadRelease(thread);
}

// Whichever of the handle and the thread lets go last frees the record; the
// sanitizer builds catch a leak or a use after free in either order.
TEST(Threads, HandleMayBeGivenBackBeforeOrAfterTheThreadEnds) {
    std::atomic<bool> finish{false};
    std::atomic<bool> returned{false};
    os::Thread* early = startThread([&] {
        while (!finish) os::sleepMs(1);
        returned = true;
    });
    ASSERT_NE(early, nullptr);
    os::threadRelease(early);
    finish = true;
    const uint64_t start = os::monotonicNs();
    while (!returned && msSince(start) < 10000) os::sleepMs(1);
    EXPECT_TRUE(returned) << "a released thread runs on";

    os::Thread* late = startThread([] {});
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(os::threadWait(late, 10000), kWaitAcquired);
    os::threadRelease(late);
}

TEST(Threads, IsCurrentOnlyOnTheThreadItself) {
    std::atomic<os::Thread*> self{nullptr};
    std::atomic<bool> insideIsCurrent{false};
    os::Thread* thread = startThread([&] {
        while (self.load() == nullptr) os::sleepMs(1);
        insideIsCurrent = os::threadIsCurrent(self.load());
    });
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(os::threadIsCurrent(thread));
    self = thread;
    EXPECT_TRUE(joinThread(thread));
    EXPECT_TRUE(insideIsCurrent);
    EXPECT_FALSE(os::threadIsCurrent(nullptr));
}

// The library asks for 2048 bytes; host callbacks on these threads need far
// more than that.
TEST(Threads, StackHoldsFarMoreThanTheLibraryAsks) {
    std::atomic<int> sum{0};
    os::Thread* thread = startThread([&] {
        volatile unsigned char frame[256 * 1024];
        std::memset(const_cast<unsigned char*>(frame), 1, sizeof frame);
        int total = 0;
        for (size_t i = 0; i < sizeof frame; i += 4096) total += frame[i];
        sum = total;
    });
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(joinThread(thread));
    EXPECT_EQ(sum, 64);
}

TEST(Threads, WaitingForNoThreadFails) { EXPECT_EQ(os::threadWait(nullptr, 0), kWaitFailed); }

TEST(Pauses, SleepLastsAtLeastItsTimeOnTheMonotonicClock) {
    const uint64_t start = os::monotonicNs();
    os::sleepMs(30);
    const double slept = msSince(start);
    EXPECT_GE(slept, 30.0);
    EXPECT_LT(slept, 3000.0);
    EXPECT_GE(os::monotonicNs(), start);
}

}  // namespace
}  // namespace juxhid::test
