// The Win32 OS layer against the outcomes the library's lock convention,
// workers and pacing rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/os.h"
#include "platform/win32/timer_service.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace juxhid::os {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Polls until `condition` holds or a generous limit passes.
template <typename Condition>
bool eventually(Condition condition, int limitMs = 3000) {
    const auto start = Clock::now();
    while (!condition()) {
        if (msSince(start) > limitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---- Locks ---------------------------------------------------------------------

TEST(Win32Lock, IsRecursiveForItsOwnerAndRefusesReleaseByOthers) {
    Lock* lock = lockCreate();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lockWait(lock, 0), platform::kWaitAcquired);
    EXPECT_EQ(lockWait(lock, 0), platform::kWaitAcquired);
    bool releasedElsewhere = true;
    std::thread([&] { releasedElsewhere = lockRelease(lock); }).join();
    EXPECT_FALSE(releasedElsewhere);
    EXPECT_TRUE(lockRelease(lock));
    EXPECT_TRUE(lockRelease(lock));
    EXPECT_FALSE(lockRelease(lock)) << "released more often than acquired";
    lockClose(lock);
}

TEST(Win32Lock, HeldByAnotherThreadTimesOutAfterTheWait) {
    Lock* lock = lockCreate();
    ASSERT_NE(lock, nullptr);
    std::atomic<bool> held{false};
    std::atomic<bool> done{false};
    std::thread holder([&] {
        lockWait(lock, 0);
        held = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lockRelease(lock);
    });
    ASSERT_TRUE(eventually([&] { return held.load(); }));
    const auto start = Clock::now();
    EXPECT_EQ(lockWait(lock, 60), platform::kWaitTimeout);
    const double waited = msSince(start);
    EXPECT_GT(waited, 30.0);
    EXPECT_LT(waited, 2000.0);
    done = true;
    holder.join();
    EXPECT_EQ(lockWait(lock, 1000), platform::kWaitAcquired);
    EXPECT_TRUE(lockRelease(lock));
    lockClose(lock);
}

TEST(Win32Lock, OwnerThatEndedHoldingItGivesAbandonedAndOwnership) {
    Lock* lock = lockCreate();
    ASSERT_NE(lock, nullptr);
    std::thread([&] { lockWait(lock, 0); }).join();
    EXPECT_EQ(lockWait(lock, 100), platform::kWaitAbandoned);
    EXPECT_TRUE(lockRelease(lock)) << "an abandoned wait must leave the waiter owning the lock";
    EXPECT_EQ(lockWait(lock, 0), platform::kWaitAcquired);
    EXPECT_TRUE(lockRelease(lock));
    lockClose(lock);
}

// ---- Signals -------------------------------------------------------------------

class Win32Signals : public ::testing::Test {
protected:
    void SetUp() override {
        first_ = signalCreate();
        second_ = signalCreate();
        ASSERT_NE(first_, nullptr);
        ASSERT_NE(second_, nullptr);
    }
    void TearDown() override {
        signalClose(first_);
        signalClose(second_);
    }
    Signal* first_ = nullptr;
    Signal* second_ = nullptr;
};

TEST_F(Win32Signals, StartClearAndStaySetUntilReset) {
    EXPECT_FALSE(signalIsSet(first_));
    EXPECT_EQ(signalWait(first_, 0), platform::kWaitTimeout);
    signalSet(first_);
    EXPECT_EQ(signalWait(first_, 0), platform::kWaitAcquired);
    EXPECT_TRUE(signalIsSet(first_)) << "a wait must not reset a manual-reset signal";
    signalReset(first_);
    EXPECT_FALSE(signalIsSet(first_));
}

TEST_F(Win32Signals, WaitForEitherPrefersTheFirstAndResetsNeither) {
    signalSet(first_);
    signalSet(second_);
    EXPECT_EQ(signalWaitEither(first_, second_, 0), platform::kWaitAcquired);
    EXPECT_TRUE(signalIsSet(first_));
    EXPECT_TRUE(signalIsSet(second_));
    signalReset(first_);
    EXPECT_EQ(signalWaitEither(first_, second_, 0), platform::kWaitSecond);
    signalReset(second_);
    const auto start = Clock::now();
    EXPECT_EQ(signalWaitEither(first_, second_, 40), platform::kWaitTimeout);
    EXPECT_GT(msSince(start), 20.0);
}

TEST_F(Win32Signals, WaitForEitherWakesWhenAnotherThreadSets) {
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        signalSet(second_);
    });
    const auto start = Clock::now();
    EXPECT_EQ(signalWaitEither(first_, second_, 5000), platform::kWaitSecond);
    EXPECT_LT(msSince(start), 2000.0);
    setter.join();
}

// ---- Threads -------------------------------------------------------------------

struct ThreadProbe {
    std::atomic<bool> ran{false};
    std::atomic<bool> wasCurrent{false};
    std::atomic<bool> proceed{true};
    Thread* self = nullptr;
    std::atomic<bool> selfKnown{false};
};

void probeRoutine(void* argument) {
    auto* probe = static_cast<ThreadProbe*>(argument);
    while (!probe->proceed) Sleep(1);
    while (!probe->selfKnown) Sleep(1);
    probe->wasCurrent = threadIsCurrent(probe->self);
    probe->ran = true;
}

TEST(Win32Thread, RunsTheRoutineWithItsArgumentAndEndsVisibly) {
    ThreadProbe probe;
    probe.proceed = false;
    Thread* thread = threadStart(probeRoutine, &probe, 2048);
    ASSERT_NE(thread, nullptr);
    probe.self = thread;
    probe.selfKnown = true;
    EXPECT_EQ(threadWait(thread, 20), platform::kWaitTimeout) << "ended before it was let go";
    EXPECT_FALSE(threadIsCurrent(thread));
    probe.proceed = true;
    EXPECT_EQ(threadWait(thread, 5000), platform::kWaitAcquired);
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.wasCurrent) << "the thread did not recognise itself";
    EXPECT_EQ(threadWait(thread, 0), platform::kWaitAcquired) << "a zero-time wait answers 0 once ended";
    threadRelease(thread);
}

TEST(Win32Thread, ReleasedWhileRunningGoesOnToTheEnd) {
    ThreadProbe probe;
    probe.proceed = false;
    Thread* thread = threadStart(probeRoutine, &probe, 2048);
    ASSERT_NE(thread, nullptr);
    probe.self = thread;
    threadRelease(thread);
    probe.selfKnown = true;
    probe.proceed = true;
    EXPECT_TRUE(eventually([&] { return probe.ran.load(); }));
}

// Host callbacks run on the workers; a 2048-byte request must not leave them
// a 2048-byte stack.
void deepStackRoutine(void* argument) {
    volatile char frame[256 * 1024];
    for (size_t at = 0; at < sizeof(frame); at += 4096) frame[at] = 1;
    frame[sizeof(frame) - 1] = 1;
    static_cast<std::atomic<bool>*>(argument)->store(true);
}

TEST(Win32Thread, SmallStackRequestStillCarriesDeepCallbacks) {
    std::atomic<bool> survived{false};
    Thread* thread = threadStart(deepStackRoutine, &survived, 2048);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(threadWait(thread, 5000), platform::kWaitAcquired);
    EXPECT_TRUE(survived);
    threadRelease(thread);
}

// ---- Clock ---------------------------------------------------------------------

TEST(Win32Clock, AdvancesWithRealTime) {
    const uint64_t before = monotonicNs();
    sleepMs(30);
    const uint64_t after = monotonicNs();
    ASSERT_GT(after, before);
    EXPECT_GT(after - before, 15'000'000u);
    EXPECT_LT(after - before, 2'000'000'000u);
}

// ---- Timers --------------------------------------------------------------------

struct TimerLog {
    std::atomic<int> runs{0};
    std::atomic<uint32_t> id{0};
    std::atomic<DWORD> thread{0};
    std::atomic<int64_t> firedAtNs{0};
};
TimerLog logA;
TimerLog logB;

void note(TimerLog& log, uint32_t timerId) {
    log.id = timerId;
    log.thread = GetCurrentThreadId();
    log.firedAtNs = static_cast<int64_t>(monotonicNs());
    log.runs.fetch_add(1);
}
void routineA(uint32_t timerId) { note(logA, timerId); }
void routineB(uint32_t timerId) { note(logB, timerId); }

class Win32Timer : public ::testing::Test {
protected:
    void SetUp() override {
        for (TimerLog* log : {&logA, &logB}) {
            log->runs = 0;
            log->id = 0;
            log->thread = 0;
            log->firedAtNs = 0;
        }
    }
};

TEST_F(Win32Timer, FiresOnceOnTheTimerThreadWithItsId) {
    const uint64_t start = monotonicNs();
    const uint32_t id = timerSchedule(50, 10, routineA);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(eventually([] { return logA.runs.load() > 0; }));
    sleepMs(150);
    EXPECT_EQ(logA.runs.load(), 1) << "a one-shot timer ran more than once";
    EXPECT_EQ(logA.id.load(), id);
    EXPECT_NE(logA.thread.load(), GetCurrentThreadId());
    const double delayMs =
        static_cast<double>(logA.firedAtNs.load() - static_cast<int64_t>(start)) / 1e6;
    EXPECT_GT(delayMs, 25.0);
    EXPECT_LT(delayMs, 1500.0);
    EXPECT_FALSE(timerCancel(id)) << "a timer that already ran is not pending";
}

TEST_F(Win32Timer, CancelledBeforeItIsDueNeverRuns) {
    const uint32_t id = timerSchedule(150, 10, routineA);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(timerCancel(id));
    EXPECT_FALSE(timerCancel(id)) << "cancelled twice";
    sleepMs(400);
    EXPECT_EQ(logA.runs.load(), 0);
}

TEST_F(Win32Timer, EachTimerRunsItsOwnRoutine) {
    const uint32_t idA = timerSchedule(40, 0, routineA);
    const uint32_t idB = timerSchedule(10, 0, routineB);
    ASSERT_NE(idA, 0u);
    ASSERT_NE(idB, 0u);
    ASSERT_TRUE(eventually([] { return logA.runs.load() > 0 && logB.runs.load() > 0; }));
    sleepMs(100);
    EXPECT_EQ(logA.runs.load(), 1);
    EXPECT_EQ(logB.runs.load(), 1);
    EXPECT_EQ(logA.id.load(), idA);
    EXPECT_EQ(logB.id.load(), idB);
}

// The pacing tick schedules its successor from the timer thread itself.
std::atomic<int> chainLeft{0};
void chainRoutine(uint32_t) {
    if (chainLeft.fetch_sub(1) > 1 && timerSchedule(1, 0, chainRoutine) == 0) chainLeft = -1000;
}

TEST_F(Win32Timer, ScheduledFromItsOwnRoutineChainsOn) {
    chainLeft = 20;
    ASSERT_NE(timerSchedule(1, 0, chainRoutine), 0u);
    ASSERT_TRUE(eventually([] { return chainLeft.load() <= 0; }));
    EXPECT_EQ(chainLeft.load(), 0) << "a link of the chain could not be scheduled";
}

std::atomic<bool> slowStarted{false};
std::atomic<bool> slowFinished{false};
void slowRoutine(uint32_t) {
    slowStarted = true;
    sleepMs(150);
    slowFinished = true;
}

TEST_F(Win32Timer, ShutdownWaitsForARunningRoutineAndEndsPendingOnes) {
    ASSERT_NE(timerSchedule(1, 0, slowRoutine), 0u);
    ASSERT_TRUE(eventually([] { return slowStarted.load(); }));
    const uint32_t pending = timerSchedule(100, 0, routineA);
    ASSERT_NE(pending, 0u);
    timerShutdown();
    EXPECT_TRUE(slowFinished) << "shutdown returned while a routine was still running";
    EXPECT_FALSE(timerCancel(pending)) << "a pending timer outlived the shutdown";
    sleepMs(300);
    EXPECT_EQ(logA.runs.load(), 0) << "a pending timer ran after shutdown";
    // The service is not gone for good: a later timer runs.
    ASSERT_NE(timerSchedule(1, 0, routineB), 0u);
    EXPECT_TRUE(eventually([] { return logB.runs.load() == 1; }));
}

// Declared last: once the library goes away, this process's timer service
// refuses every new timer for good.
TEST_F(Win32Timer, RefusedForGoodOnceTheLibraryGoesAway) {
    const uint32_t pending = timerSchedule(100, 0, routineA);
    ASSERT_NE(pending, 0u);
    win32::refuseNewTimers();
    EXPECT_EQ(timerSchedule(1, 0, routineB), 0u);
    timerShutdown();
    sleepMs(250);
    EXPECT_EQ(logA.runs.load(), 0);
    EXPECT_EQ(logB.runs.load(), 0);
}

}  // namespace
}  // namespace juxhid::os
