// WriteData, FastWrite and the pacing chain, watched through the times at
// which the simulated devices receive their output reports.
#include <utility>
#include <vector>

#include "frame/library_state.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

constexpr uint32_t kLength = 8;

struct Sent {
    uint8_t tag;
    uint32_t length;
    double atMs;
};

class PacedWrites : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        for (uint32_t p = 1; p <= 3; ++p) {
            JuxsimDeviceInfo info = deviceInfo(p, kLength, kLength);
            devices_.push_back(juxsim_attach(&info));
        }
        ASSERT_EQ(list(), JUXHID_OK);
        for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(SetupInterface(i), JUXHID_OK);
    }

    static std::vector<uint8_t> out(uint8_t tag) { return report(kLength, 0, tag); }
    // Writes to `index` until one is refused; how many the queue accepted, and
    // the refusal. While the chain runs every write is queued, so a write
    // answered 0 here went into the queue (or out through it).
    static std::pair<int32_t, int32_t> fillUntilRefused(int32_t index) {
        const std::vector<uint8_t> bytes = out(9);
        int32_t accepted = 0;
        int32_t status = JUXHID_OK;
        while (accepted < 1000 && (status = WriteData(index, bytes.data())) == JUXHID_OK) ++accepted;
        return {accepted, status};
    }

    static int32_t write(int32_t index, uint8_t tag) { return WriteData(index, out(tag).data()); }
    static int32_t fast(int32_t index, uint8_t tag) { return FastWrite(index, out(tag).data()); }

    std::vector<Sent> taken(int32_t index) {
        std::vector<Sent> sent;
        uint8_t bytes[64];
        uint32_t length = 0;
        uint64_t at = 0;
        while (juxsim_take_output(devices_[index], bytes, sizeof bytes, &length, &at) == 1)
            sent.push_back({bytes[1], length, static_cast<double>(at) / 1e6});
        return sent;
    }
    bool waitForOutputs(int32_t index, int32_t count, int ms = 3000) {
        return eventually([&] { return juxsim_output_count(devices_[index]) >= count; },
                          std::chrono::milliseconds(ms));
    }
    bool waitForIdle() {
        return eventually([] { return !state().pacingActive.load(); });
    }

    std::vector<int32_t> devices_;
};

TEST_F(PacedWrites, DirectWriteGoesOutAtOnceAndTheChainEndsAfterATick) {
    const double before = static_cast<double>(juxsim_now_ns()) / 1e6;
    EXPECT_EQ(write(0, 1), JUXHID_OK);
    std::vector<Sent> sent = taken(0);
    ASSERT_EQ(sent.size(), 1u) << "written before WriteData returned";
    EXPECT_EQ(sent[0].length, kLength);
    EXPECT_LT(sent[0].atMs - before, 20.0);
    EXPECT_TRUE(state().pacingActive.load());
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(write(0, 2), JUXHID_OK);
    EXPECT_EQ(taken(0).size(), 1u) << "after the chain ended the next write is direct again";
}

TEST_F(PacedWrites, QuickWritesGoOutOneTickApart) {
    EXPECT_EQ(write(0, 1), JUXHID_OK);
    EXPECT_EQ(write(0, 2), JUXHID_OK);
    EXPECT_EQ(write(0, 3), JUXHID_OK);
    ASSERT_TRUE(waitForOutputs(0, 3));
    ASSERT_TRUE(waitForIdle());
    const std::vector<Sent> sent = taken(0);
    ASSERT_EQ(sent.size(), 3u);
    for (uint8_t i = 0; i < 3; ++i) EXPECT_EQ(sent[i].tag, i + 1);
    for (int i = 1; i < 3; ++i) {
        const double gap = sent[i].atMs - sent[i - 1].atMs;
        EXPECT_GT(gap, 30.0) << "gap " << i;
        EXPECT_LT(gap, 250.0) << "gap " << i;
    }
}

TEST_F(PacedWrites, OneTickServesEveryInterfaceLowerIndexFirst) {
    EXPECT_EQ(write(2, 1), JUXHID_OK);  // direct, starts the chain
    EXPECT_EQ(write(1, 2), JUXHID_OK);
    EXPECT_EQ(write(0, 3), JUXHID_OK);
    ASSERT_TRUE(waitForOutputs(0, 1));
    ASSERT_TRUE(waitForOutputs(1, 1));
    const Sent low = taken(0).at(0), high = taken(1).at(0);
    EXPECT_LE(low.atMs, high.atMs);
    EXPECT_LT(high.atMs - low.atMs, 20.0) << "both went out in one tick";
}

TEST_F(PacedWrites, FastWriteIsRefusedWhileASlowChainRuns) {
    EXPECT_EQ(write(1, 1), JUXHID_OK);
    EXPECT_EQ(fast(0, 2), JUXHID_WRITE_SLOW_CHAIN);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(taken(0).size(), 0u) << "nothing was queued by the refused write";
    EXPECT_EQ(fast(0, 3), JUXHID_OK) << "once the slow chain ended FastWrite is direct";
    EXPECT_EQ(taken(0).size(), 1u);
}

TEST_F(PacedWrites, FastChainPacesAtFiveMilliseconds) {
    for (uint8_t n = 1; n <= 6; ++n) ASSERT_EQ(fast(0, n), JUXHID_OK);
    ASSERT_TRUE(waitForOutputs(0, 6));
    const std::vector<Sent> sent = taken(0);
    const double span = sent.back().atMs - sent.front().atMs;
    EXPECT_GT(span, 10.0);
    EXPECT_LT(span, 200.0) << "five fast ticks, far from five slow ones";
}

TEST_F(PacedWrites, WriteDataTurnsAFastChainSlow) {
    ASSERT_EQ(fast(0, 1), JUXHID_OK);
    ASSERT_EQ(fast(0, 2), JUXHID_OK);
    ASSERT_EQ(write(0, 3), JUXHID_OK);
    ASSERT_EQ(write(0, 4), JUXHID_OK);
    EXPECT_EQ(fast(0, 5), JUXHID_WRITE_SLOW_CHAIN);
    ASSERT_TRUE(waitForOutputs(0, 4));
    const std::vector<Sent> sent = taken(0);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_GT(sent[3].atMs - sent[2].atMs, 30.0) << "ticks after the WriteData use 50 ms";
}

// A queue holds 128 reports; a tick that ran during the filling took at
// most one out, which made room for one more. So the queue accepted 128 plus
// the reports that had left it by the time it answered 413 (on a quiet
// machine none: the 258 writes take far less than one tick).
TEST_F(PacedWrites, QueueHolds128PerInterfaceThen413) {
    ASSERT_EQ(write(0, 0), JUXHID_OK);  // direct
    for (int32_t index = 0; index < 2; ++index) {
        const auto [accepted, refusal] = fillUntilRefused(index);
        const int32_t sentFromQueue = juxsim_output_count(devices_[index]) - (index == 0 ? 1 : 0);
        EXPECT_EQ(refusal, JUXHID_WRITE_QUEUE_FULL) << "interface " << index;
        EXPECT_GE(accepted, 128) << "interface " << index;
        EXPECT_LE(accepted, 128 + sentFromQueue) << "interface " << index;
    }
}

TEST_F(PacedWrites, QueueHoldsACopyOfTheCallersBuffer) {
    ASSERT_EQ(write(0, 1), JUXHID_OK);
    std::vector<uint8_t> bytes = out(7);
    ASSERT_EQ(WriteData(0, bytes.data()), JUXHID_OK);
    std::fill(bytes.begin(), bytes.end(), 0);
    ASSERT_TRUE(waitForOutputs(0, 2));
    EXPECT_EQ(taken(0).at(1).tag, 7);
}

struct DeferredCase {
    uint32_t error;       // 0: a short write
    int32_t deferred;
};

class DeferredFailures : public PacedWrites, public ::testing::WithParamInterface<DeferredCase> {};

TEST_P(DeferredFailures, ReachTheNextQueuedWriteOnAnyInterfaceOnce) {
    const DeferredCase& param = GetParam();
    ASSERT_EQ(write(0, 1), JUXHID_OK);
    ASSERT_EQ(write(0, 2), JUXHID_OK);
    const int32_t fault = armFault(JUXSIM_CALL_WRITE, param.error, 1, JUXSIM_THREAD_TIMER, 0, 0, 3);
    ASSERT_TRUE(eventually([&] { return juxsim_fault_fired(fault) == 1; }));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(write(1, 3), JUXHID_OK);  // direct: the deferred status waits
    EXPECT_EQ(write(2, 4), param.deferred) << "the first queued write reports it";
    EXPECT_EQ(write(2, 5), JUXHID_OK) << "and only once";
}

INSTANTIATE_TEST_SUITE_P(Codes, DeferredFailures,
                         ::testing::Values(DeferredCase{1167, JUXHID_WRITE_DEVICE_GONE},
                                           DeferredCase{6, JUXHID_WRITE_DEVICE_GONE},
                                           DeferredCase{5, JUXHID_WRITE_DEVICE_GONE},
                                           DeferredCase{31, JUXHID_WRITE_FAILED},
                                           DeferredCase{0, JUXHID_WRITE_SHORT}));

TEST_F(PacedWrites, LastFailureInOneTickWinsInIndexOrder) {
    ASSERT_EQ(write(2, 9), JUXHID_OK);
    ASSERT_EQ(write(0, 1), JUXHID_OK);
    ASSERT_EQ(write(1, 2), JUXHID_OK);
    armFault(JUXSIM_CALL_WRITE, 31, 1, JUXSIM_THREAD_TIMER, devices_[0]);
    armFault(JUXSIM_CALL_WRITE, 6, 1, JUXSIM_THREAD_TIMER, devices_[1]);
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(write(2, 3), JUXHID_OK);
    EXPECT_EQ(write(2, 4), JUXHID_WRITE_DEVICE_GONE);
}

TEST_F(PacedWrites, DirectWriteFailuresStillStartTheChain) {
    armFault(JUXSIM_CALL_WRITE, 6, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(write(0, 1), JUXHID_WRITE_DEVICE_GONE);
    EXPECT_TRUE(state().pacingActive.load());
    EXPECT_EQ(write(0, 2), JUXHID_OK) << "queued behind the tick the failed write scheduled";
    armFault(JUXSIM_CALL_WRITE, 0, 1, JUXSIM_THREAD_ARMING, 0, 0, 2);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(write(1, 3), JUXHID_WRITE_SHORT);
}

TEST_F(PacedWrites, DirectWriteWhoseTickCannotBeScheduledAnswers411AndStaysIdle) {
    armFault(JUXSIM_CALL_TIMER_SCHEDULE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(write(0, 1), JUXHID_WRITE_SCHEDULE_FAILED);
    EXPECT_FALSE(state().pacingActive.load());
    EXPECT_EQ(taken(0).size(), 1u) << "the report was written all the same";
    EXPECT_EQ(write(0, 2), JUXHID_OK);
    EXPECT_EQ(taken(0).size(), 1u) << "the next write is direct as well";
}

TEST_F(PacedWrites, TickThatCannotScheduleItsSuccessorDefers411) {
    ASSERT_EQ(write(0, 1), JUXHID_OK);
    ASSERT_EQ(write(0, 2), JUXHID_OK);
    const int32_t fault = armFault(JUXSIM_CALL_TIMER_SCHEDULE, 0, 1, JUXSIM_THREAD_TIMER);
    ASSERT_TRUE(eventually([&] { return juxsim_fault_fired(fault) == 1; }));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(write(0, 3), JUXHID_OK);
    EXPECT_EQ(write(0, 4), JUXHID_WRITE_SCHEDULE_FAILED);
}

TEST_F(PacedWrites, TickThatCannotReleaseDefers412) {
    ASSERT_EQ(write(0, 1), JUXHID_OK);
    ASSERT_EQ(write(0, 2), JUXHID_OK);
    const int32_t fault = armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_TIMER);
    ASSERT_TRUE(eventually([&] { return juxsim_fault_fired(fault) == 1; }));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(write(0, 3), JUXHID_OK);
    EXPECT_EQ(write(0, 4), JUXHID_WRITE_TICK_RELEASE_FAILED);
}

TEST_F(PacedWrites, TickWithoutTheLockEndsTheChainKeepsTheQueueAndDefers405) {
    ASSERT_EQ(write(0, 1), JUXHID_OK);
    ASSERT_EQ(write(0, 2), JUXHID_OK);
    const int32_t fault = armFault(JUXSIM_CALL_LOCK_WAIT, 258, 1, JUXSIM_THREAD_TIMER);
    ASSERT_TRUE(eventually([&] { return juxsim_fault_fired(fault) == 1; }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(taken(0).size(), 1u) << "the queued report stayed queued";
    EXPECT_EQ(write(0, 3), JUXHID_OK) << "direct, ahead of the queued one";
    EXPECT_EQ(write(0, 4), JUXHID_WRITE_LOCK_TIMEOUT);
    ASSERT_TRUE(waitForOutputs(0, 3));
    const std::vector<Sent> sent = taken(0);
    EXPECT_EQ(sent[0].tag, 3);
    EXPECT_EQ(sent[1].tag, 2);
    EXPECT_EQ(sent[2].tag, 4);
}

TEST_F(PacedWrites, WriterLockFaultsGive405And406) {
    armFault(JUXSIM_CALL_LOCK_WAIT, 258, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(write(0, 1), JUXHID_WRITE_LOCK_TIMEOUT);
    EXPECT_FALSE(state().pacingActive.load());
    EXPECT_EQ(taken(0).size(), 0u);
    armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(write(0, 2), JUXHID_WRITE_RELEASE_FAILED);
    EXPECT_EQ(taken(0).size(), 1u) << "the direct write happened";
    EXPECT_TRUE(state().pacingActive.load());
}

TEST_F(PacedWrites, IndexZeroLengthAndNotOpenAreRefusedFirst) {
    JuxsimDeviceInfo inputOnly = deviceInfo(9, kLength, 0);
    juxsim_attach(&inputOnly);
    JuxsimDeviceInfo unopened = deviceInfo(10, kLength, kLength);
    juxsim_attach(&unopened);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(count_, 5);
    for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(SetupInterface(i), JUXHID_OK);
    EXPECT_EQ(write(5, 1), JUXHID_WRITE_NOT_OPEN);
    EXPECT_EQ(write(-1, 1), JUXHID_WRITE_NOT_OPEN);
    EXPECT_EQ(write(3, 1), JUXHID_WRITE_NO_OUTPUT);
    EXPECT_EQ(fast(4, 1), JUXHID_WRITE_NOT_OPEN);
    EXPECT_EQ(WriteData(0, nullptr), JUXHID_WRITE_BAD_POINTER);
    EXPECT_FALSE(state().pacingActive.load());
}

TEST_F(PacedWrites, ClosingOneInterfaceMidChainLetsTheOthersGoOut) {
    ASSERT_EQ(write(0, 1), JUXHID_OK);
    ASSERT_EQ(write(0, 2), JUXHID_OK);
    ASSERT_EQ(write(1, 3), JUXHID_OK);
    ASSERT_EQ(write(1, 4), JUXHID_OK);
    CloseInterface(0);
    ASSERT_TRUE(waitForOutputs(1, 2)) << "queued reports of the other interface still went out";
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(taken(0).size(), 1u) << "the closed interface's queue was dropped";
    EXPECT_EQ(write(2, 5), JUXHID_OK);
    EXPECT_EQ(taken(2).size(), 1u) << "the chain ended and writes are direct again";
}

TEST_F(PacedWrites, ReportsLongerThanTheTickBufferTravelThroughTheQueue) {
    JuxsimDeviceInfo big = deviceInfo(20, 0, 1024);
    const int32_t bigDevice = juxsim_attach(&big);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(3), JUXHID_OK);
    std::vector<uint8_t> bytes(1024, 0x5A);
    bytes[1023] = 0x77;
    ASSERT_EQ(WriteData(3, bytes.data()), JUXHID_OK);
    ASSERT_EQ(WriteData(3, bytes.data()), JUXHID_OK);
    ASSERT_TRUE(eventually([&] { return juxsim_output_count(bigDevice) == 2; }));
    std::vector<uint8_t> got(1024);
    uint32_t length = 0;
    uint64_t at = 0;
    juxsim_take_output(bigDevice, got.data(), 1024, &length, &at);
    ASSERT_EQ(juxsim_take_output(bigDevice, got.data(), 1024, &length, &at), 1);
    EXPECT_EQ(length, 1024u);
    EXPECT_EQ(got, bytes);
}

}  // namespace
}  // namespace juxhid::test
