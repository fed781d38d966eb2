#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "os_test_support.h"

namespace juxhid::test {
namespace {

// Timer routines take nothing but their id, so what they see is kept here.
struct Firings {
    std::mutex mutex;
    std::vector<uint32_t> ids;
    std::vector<uint64_t> atNs;
    std::vector<bool> onCallerThread;
};
Firings firings;
thread_local bool isTestThread = false;

void record(uint32_t id) {
    std::lock_guard<std::mutex> hold(firings.mutex);
    firings.ids.push_back(id);
    firings.atNs.push_back(os::monotonicNs());
    firings.onCallerThread.push_back(isTestThread);
}

size_t fired() {
    std::lock_guard<std::mutex> hold(firings.mutex);
    return firings.ids.size();
}

bool waitForFirings(size_t count, double limitMs = 5000) {
    const uint64_t start = os::monotonicNs();
    while (fired() < count) {
        if (msSince(start) > limitMs) return false;
        os::sleepMs(1);
    }
    return true;
}

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        isTestThread = true;
        std::lock_guard<std::mutex> hold(firings.mutex);
        firings.ids.clear();
        firings.atNs.clear();
        firings.onCallerThread.clear();
    }
    void TearDown() override { os::timerShutdown(); }
};

TEST_F(Timers, OneShotRunsOnceWithItsIdOnTheTimerThreadAfterItsDelay) {
    const uint64_t start = os::monotonicNs();
    const uint32_t id = os::timerSchedule(25, 0, record);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(waitForFirings(1));
    os::sleepMs(60);
    std::lock_guard<std::mutex> hold(firings.mutex);
    ASSERT_EQ(firings.ids.size(), 1u) << "one-shot";
    EXPECT_EQ(firings.ids[0], id);
    EXPECT_FALSE(firings.onCallerThread[0]);
    const double late = static_cast<double>(firings.atNs[0] - start) / 1e6;
    EXPECT_GE(late, 25.0);
    EXPECT_LT(late, 3000.0);
}

TEST_F(Timers, IdsAreNonzeroAndIncreasingAndEntriesRunInDeadlineOrder) {
    // Far apart, so that a scheduling thread preempted between two calls on a
    // loaded machine (hundreds of ms under sanitizers) keeps the order.
    const uint32_t slow = os::timerSchedule(900, 0, record);
    const uint32_t fast = os::timerSchedule(10, 0, record);
    const uint32_t middle = os::timerSchedule(450, 0, record);
    EXPECT_NE(slow, 0u);
    EXPECT_GT(fast, slow);
    EXPECT_GT(middle, fast);
    ASSERT_TRUE(waitForFirings(3));
    std::lock_guard<std::mutex> hold(firings.mutex);
    EXPECT_EQ(firings.ids, (std::vector<uint32_t>{fast, middle, slow}));
}

TEST_F(Timers, CancelBeforeFiringKeepsTheRoutineFromRunning) {
    const uint32_t id = os::timerSchedule(60, 0, record);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(os::timerCancel(id));
    EXPECT_FALSE(os::timerCancel(id)) << "no longer pending";
    const uint32_t witness = os::timerSchedule(120, 0, record);
    ASSERT_TRUE(waitForFirings(1));
    std::lock_guard<std::mutex> hold(firings.mutex);
    EXPECT_EQ(firings.ids, std::vector<uint32_t>{witness});
}

TEST_F(Timers, CancelAfterFiringAnswersFalse) {
    const uint32_t id = os::timerSchedule(1, 0, record);
    ASSERT_TRUE(waitForFirings(1));
    EXPECT_FALSE(os::timerCancel(id));
    EXPECT_FALSE(os::timerCancel(0));
}

// A routine runs without the service's lock: it can schedule the next one.
std::atomic<int> chainLeft{0};
void chain(uint32_t id) {
    record(id);
    if (--chainLeft > 0) os::timerSchedule(2, 0, chain);
}

TEST_F(Timers, RoutineMaySchedulePastItself) {
    chainLeft = 3;
    ASSERT_NE(os::timerSchedule(2, 0, chain), 0u);
    ASSERT_TRUE(waitForFirings(3));
}

std::atomic<bool> slowStarted{false};
std::atomic<bool> slowFinished{false};
void slowRoutine(uint32_t) {
    slowStarted = true;
    os::sleepMs(100);
    slowFinished = true;
}

TEST_F(Timers, ShutdownWaitsForARunningRoutineAndDropsPendingOnes) {
    slowStarted = false;
    slowFinished = false;
    ASSERT_NE(os::timerSchedule(1, 0, slowRoutine), 0u);
    ASSERT_NE(os::timerSchedule(150, 0, record), 0u);
    const uint64_t start = os::monotonicNs();
    while (!slowStarted && msSince(start) < 5000) os::sleepMs(1);
    ASSERT_TRUE(slowStarted);
    os::timerShutdown();
    EXPECT_TRUE(slowFinished) << "shutdown returned while the routine still ran";
    os::sleepMs(200);
    EXPECT_EQ(fired(), 0u) << "a pending entry ran after shutdown";
}

TEST_F(Timers, ScheduleAfterShutdownStartsTheServiceAgain) {
    os::timerShutdown();
    os::timerShutdown();
    ASSERT_NE(os::timerSchedule(5, 0, record), 0u);
    EXPECT_TRUE(waitForFirings(1));
}

void shutDownFromInside(uint32_t id) {
    os::timerShutdown();
    record(id);
}

TEST_F(Timers, ShutdownFromInsideARoutineDoesNotWaitForItself) {
    ASSERT_NE(os::timerSchedule(1, 0, shutDownFromInside), 0u);
    ASSERT_TRUE(waitForFirings(1));
    ASSERT_NE(os::timerSchedule(1, 0, record), 0u);
    EXPECT_TRUE(waitForFirings(2)) << "the next schedule starts a new service";
}

}  // namespace
}  // namespace juxhid::test
