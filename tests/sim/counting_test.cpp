// What the bus counts of the platform objects the library holds, and the
// message box it records instead of showing.
#include <cstring>

#include "bus_test_support.h"

namespace juxhid::test {
namespace {

class BusCounting : public BusTest {};

TEST_F(BusCounting, MemoryLocksAndSignalsCountWhileHeld) {
    void* block = platform::allocate(64);
    platform::Lock* lock = platform::lockCreate();
    platform::Signal* signal = platform::signalCreate();
    ASSERT_NE(block, nullptr);
    ASSERT_NE(lock, nullptr);
    ASSERT_NE(signal, nullptr);
    JuxsimCounts held = currentCounts();
    EXPECT_EQ(held.allocations, baseline_.allocations + 1);
    EXPECT_EQ(held.locks, baseline_.locks + 1);
    EXPECT_EQ(held.signals, baseline_.signals + 1);
    platform::release(block);
    platform::release(nullptr);
    platform::lockClose(lock);
    platform::signalClose(signal);
    EXPECT_TRUE(sameCounts(currentCounts(), baseline_)) << describeCounts(currentCounts());
}

// Locks and signals through the bus are the operating system's own.
TEST_F(BusCounting, LocksAndSignalsBehaveAsTheOperatingSystemsOwn) {
    platform::Lock* lock = platform::lockCreate();
    platform::Signal* signal = platform::signalCreate();
    EXPECT_EQ(platform::lockWait(lock, 0), platform::kWaitAcquired);
    std::atomic<int32_t> elsewhere{0};
    std::thread([&] { elsewhere = platform::lockWait(lock, 0); }).join();
    EXPECT_EQ(elsewhere, platform::kWaitTimeout);
    EXPECT_TRUE(platform::lockRelease(lock));
    EXPECT_FALSE(platform::lockRelease(lock));
    EXPECT_EQ(platform::signalWaitEither(signal, signal, 0), platform::kWaitTimeout);
    platform::signalSet(signal);
    EXPECT_TRUE(platform::signalIsSet(signal));
    EXPECT_EQ(platform::signalWait(signal, 0), platform::kWaitAcquired);
    platform::signalReset(signal);
    EXPECT_FALSE(platform::signalIsSet(signal));
    platform::lockClose(lock);
    platform::signalClose(signal);
}

std::atomic<bool> threadMayEnd{false};
void waitUntilAllowed(void*) {
    while (!threadMayEnd) platform::sleepMs(1);
}

// A thread counts until it has ended and its handle has been given back,
// in whichever order the two happen.
TEST_F(BusCounting, ThreadCountsUntilEndedAndReleasedInEitherOrder) {
    threadMayEnd = false;
    platform::Thread* releasedFirst = platform::threadStart(waitUntilAllowed, nullptr, platform::ThreadRole::Reader);
    platform::Thread* endedFirst = platform::threadStart(waitUntilAllowed, nullptr, platform::ThreadRole::Callback);
    ASSERT_NE(releasedFirst, nullptr);
    ASSERT_NE(endedFirst, nullptr);
    EXPECT_EQ(currentCounts().threads, baseline_.threads + 2);
    EXPECT_EQ(platform::threadWait(endedFirst, 0), platform::kWaitTimeout);
    platform::threadRelease(releasedFirst);
    EXPECT_EQ(currentCounts().threads, baseline_.threads + 2) << "still running";
    threadMayEnd = true;
    ASSERT_EQ(platform::threadWait(endedFirst, 10000), platform::kWaitAcquired);
    EXPECT_TRUE(eventually([&] { return currentCounts().threads == baseline_.threads + 1; }));
    EXPECT_EQ(currentCounts().threads, baseline_.threads + 1) << "ended, handle still held";
    platform::threadRelease(endedFirst);
    EXPECT_EQ(currentCounts().threads, baseline_.threads);
}

std::atomic<platform::Thread*> selfHandle{nullptr};
std::atomic<int> selfSeen{0};
void lookAtSelf(void*) {
    while (selfHandle.load() == nullptr) platform::sleepMs(1);
    selfSeen = platform::threadIsCurrent(selfHandle.load()) ? 1 : -1;
}

TEST_F(BusCounting, ThreadIsCurrentOnlyOnItself) {
    selfHandle = nullptr;
    selfSeen = 0;
    platform::Thread* thread = platform::threadStart(lookAtSelf, nullptr, platform::ThreadRole::Callback);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(platform::threadIsCurrent(thread));
    selfHandle = thread;
    ASSERT_EQ(platform::threadWait(thread, 10000), platform::kWaitAcquired);
    EXPECT_EQ(selfSeen, 1);
    platform::threadRelease(thread);
}

std::atomic<int> ticks{0};
void tick(uint32_t) { ++ticks; }

TEST_F(BusCounting, TimerCountsUntilItRunsOrIsCancelled) {
    ticks = 0;
    // Long enough that both are still pending when counted, also on a
    // loaded machine.
    const uint32_t ran = platform::timerSchedule(300, 0, tick);
    const uint32_t cancelled = platform::timerSchedule(10000, 0, tick);
    ASSERT_NE(ran, 0u);
    ASSERT_NE(cancelled, 0u);
    EXPECT_EQ(currentCounts().timers, baseline_.timers + 2);
    ASSERT_TRUE(eventually([] { return ticks == 1; }));
    // A timer counts until its routine has returned, a moment after the tick.
    EXPECT_TRUE(eventually([&] { return currentCounts().timers == baseline_.timers + 1; }));
    EXPECT_FALSE(platform::timerCancel(ran));
    EXPECT_TRUE(platform::timerCancel(cancelled));
    EXPECT_EQ(currentCounts().timers, baseline_.timers);
    EXPECT_FALSE(platform::timerCancel(cancelled));
    EXPECT_EQ(currentCounts().timers, baseline_.timers);
}

TEST_F(BusCounting, TimerShutdownForgetsWhatWasPending) {
    ticks = 0;
    ASSERT_NE(platform::timerSchedule(10000, 0, tick), 0u);
    EXPECT_EQ(currentCounts().timers, baseline_.timers + 1);
    platform::timerShutdown();
    EXPECT_EQ(currentCounts().timers, baseline_.timers);
    ASSERT_NE(platform::timerSchedule(1, 0, tick), 0u);
    EXPECT_TRUE(eventually([] { return ticks == 1; })) << "a schedule after shutdown runs";
}

TEST_F(BusCounting, MessageBoxIsRecordedCountedAndForgottenByReset) {
    char text[64] = "x";
    char caption[64] = "x";
    juxsim_last_message_box(text, sizeof text, caption, sizeof caption);
    EXPECT_STREQ(text, "");
    EXPECT_STREQ(caption, "");
    ::testing::internal::CaptureStderr();
    platform::messageBox("first text", "first caption");
    platform::messageBox("Error:Out of Memory", "malloc error");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "first caption: first text\nmalloc error: Error:Out of Memory\n");
    EXPECT_EQ(currentCounts().messageBoxes, 2);
    juxsim_last_message_box(text, sizeof text, caption, 7);
    EXPECT_STREQ(text, "Error:Out of Memory");
    EXPECT_STREQ(caption, "malloc") << "cut to the capacity, NUL included";
    juxsim_reset();
    EXPECT_EQ(currentCounts().messageBoxes, 0);
    juxsim_last_message_box(text, sizeof text, caption, sizeof caption);
    EXPECT_STREQ(text, "");
}

TEST_F(BusCounting, ResetKeepsCountingWhatIsStillHeld) {
    attach(busDevice(1, 8, 8, "held"));
    platform::Device* handle = open("held", platform::Access::Read);
    void* block = platform::allocate(8);
    juxsim_reset();
    const JuxsimCounts afterReset = currentCounts();
    EXPECT_EQ(afterReset.handles, baseline_.handles + 1);
    EXPECT_EQ(afterReset.allocations, baseline_.allocations + 1);
    platform::deviceClose(handle);
    platform::release(block);
}

}  // namespace
}  // namespace juxhid::test
