// ReadData, ReadLast and ClearBuffer: every code of their tables, the order
// of their checks, and when they write the caller's buffer.
#include "frame/library_state.h"
#include "support/opening_view.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

constexpr uint32_t kLength = 8;

class PolledReads : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(attachAndOpen(kLength, kLength), JUXHID_OK);
        std::fill(std::begin(buffer_), std::end(buffer_), 0xEE);
    }
    void deliverAndWait(uint8_t value) {
        ASSERT_EQ(deliver(device_, report(kLength, 0, value)), 1);
        uint8_t newest[kLength];
        ASSERT_TRUE(eventually([&] { return ReadLast(0, newest) == JUXHID_OK && newest[1] == value; }));
    }
    bool untouched() const { return buffer_[0] == 0xEE && buffer_[kLength - 1] == 0xEE; }

    uint8_t buffer_[kLength];
};

TEST_F(PolledReads, ReadDataOnAnEmptyRingAnswers304AndLeavesTheBuffer) {
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_EMPTY);
    EXPECT_TRUE(untouched());
}

TEST_F(PolledReads, ReadDataHandsOverTheWholeReportFirstByteIncluded) {
    std::vector<uint8_t> bytes = report(kLength, 0x42, 7);
    bytes[7] = 0x99;
    deliver(device_, bytes);
    ASSERT_TRUE(eventually([&] { return ReadData(0, buffer_) == JUXHID_OK; }));
    EXPECT_EQ(std::vector<uint8_t>(buffer_, buffer_ + kLength), bytes);
}

TEST_F(PolledReads, ReadLastWithNoReportAnswers504AfterAboutHalfASecond) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_NO_REPORT);
    const double elapsed = msSince(start);
    EXPECT_GE(elapsed, 400.0);
    EXPECT_LT(elapsed, 2000.0);
    EXPECT_TRUE(untouched());
}

TEST_F(PolledReads, ReadLastReturnsAReportThatArrivesWhileItWaits) {
    std::thread late([&] {
        sleepMs(120);
        deliver(device_, report(kLength, 0, 5));
    });
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_OK);
    late.join();
    EXPECT_EQ(buffer_[1], 5);
}

TEST_F(PolledReads, ReadLastRepeatsTheNewestAfterReadDataTookItUntilCleared) {
    deliverAndWait(1);
    deliverAndWait(2);
    ASSERT_EQ(ReadData(0, buffer_), JUXHID_OK);
    ASSERT_EQ(ReadData(0, buffer_), JUXHID_OK);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_EMPTY);
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_OK);
    EXPECT_EQ(buffer_[1], 2);
    EXPECT_EQ(ClearBuffer(0), JUXHID_OK);
    std::fill(std::begin(buffer_), std::end(buffer_), 0xEE);
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_NO_REPORT);
    EXPECT_TRUE(untouched());
}

// Every report the device sent before it went away can still be taken, in
// order, and only then does ReadData answer 307; ReadLast answers 507 at once.
TEST_F(PolledReads, UnplugHandsOutEveryStoredReportInOrderThen307) {
    constexpr int kSent = 6;
    for (int value = 1; value <= kSent; ++value) ASSERT_EQ(deliver(device_, report(kLength, 0, value)), 1);
    uint8_t newest[kLength];
    ASSERT_TRUE(eventually([&] { return ReadLast(0, newest) == JUXHID_OK && newest[1] == kSent; }));
    juxsim_detach(device_);
    ASSERT_TRUE(eventually([&] { return platform::signalIsSet(openingAt(0).errorSignal); }));
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_DEVICE_GONE);
    EXPECT_TRUE(untouched());
    for (int value = 1; value <= kSent; ++value) {
        ASSERT_EQ(ReadData(0, buffer_), JUXHID_OK) << "report " << value;
        EXPECT_EQ(buffer_[1], value);
    }
    std::fill(std::begin(buffer_), std::end(buffer_), 0xEE);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_DEVICE_GONE);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_DEVICE_GONE) << "and stays so";
    EXPECT_EQ(ClearBuffer(0), JUXHID_OK);
    EXPECT_TRUE(untouched());
}

TEST_F(PolledReads, ClearBufferAfterAnUnplugLeavesOnly307) {
    deliverAndWait(1);
    juxsim_detach(device_);
    ASSERT_TRUE(eventually([&] { return platform::signalIsSet(openingAt(0).errorSignal); }));
    EXPECT_EQ(ClearBuffer(0), JUXHID_OK);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_DEVICE_GONE);
    EXPECT_TRUE(untouched());
}

TEST_F(PolledReads, UnplugDuringReadLastStillEndsWith504) {
    std::thread unplug([&] {
        sleepMs(100);
        juxsim_detach(device_);
    });
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_NO_REPORT);
    unplug.join();
}

TEST_F(PolledReads, IndexOutsideTheListingAnswersTheNotOpenCodes) {
    for (const int32_t index : {-1, 1, 24, 25}) {
        EXPECT_EQ(ReadData(index, buffer_), JUXHID_READ_NOT_OPEN) << index;
        EXPECT_EQ(ReadLast(index, buffer_), JUXHID_LAST_NOT_OPEN) << index;
        EXPECT_EQ(ClearBuffer(index), JUXHID_CLEAR_NOT_OPEN) << index;
    }
}

TEST_F(PolledReads, ClosedInterfaceAnswersTheNotOpenCodes) {
    CloseInterface(0);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_NOT_OPEN);
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_NOT_OPEN);
    EXPECT_EQ(ClearBuffer(0), JUXHID_CLEAR_NOT_OPEN);
}

TEST_F(PolledReads, NullBuffersAreRefusedWithoutTakingAReport) {
    deliverAndWait(3);
    EXPECT_EQ(ReadData(0, nullptr), JUXHID_READ_BAD_POINTER);
    EXPECT_EQ(ReadLast(0, nullptr), JUXHID_LAST_BAD_POINTER);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_OK);
    EXPECT_EQ(buffer_[1], 3);
}

TEST_F(PolledReads, LockTimeoutAndFailureGiveTheirCodes) {
    deliverAndWait(3);
    armFault(JUXSIM_CALL_LOCK_WAIT, 258, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_LOCK_TIMEOUT);
    armFault(JUXSIM_CALL_LOCK_WAIT, 0xFFFFFFFFu, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_LOCK_FAILED);
    armFault(JUXSIM_CALL_LOCK_WAIT, 258, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_LOCK_FAILED);
    armFault(JUXSIM_CALL_LOCK_WAIT, 0xFFFFFFFFu, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ClearBuffer(0), JUXHID_CLEAR_LOCK_FAILED);
    EXPECT_TRUE(untouched());
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_OK) << "a refused call changed nothing";
}

TEST_F(PolledReads, ReleaseFailuresGiveTheirCodesAndKeepTheirEffect) {
    deliverAndWait(3);
    armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_RELEASE_FAILED);
    EXPECT_EQ(buffer_[1], 3);
    armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_EMPTY_RELEASE_FAILED);
    armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_RELEASE_FAILED);
    armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(ClearBuffer(0), JUXHID_CLEAR_RELEASE_FAILED);
    EXPECT_EQ(ReadData(0, buffer_), JUXHID_READ_EMPTY) << "the ring was emptied all the same";
}

TEST_F(PolledReads, ReadLastReleaseFailureBetweenLooksAnswers506) {
    armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_ARMING);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_LAST_RELEASE_FAILED);
    EXPECT_LT(msSince(start), 300.0);
    EXPECT_TRUE(untouched());
}

TEST_F(PolledReads, DeviceWithoutInputAnswers302And502OpenOrNot) {
    JuxsimDeviceInfo info = deviceInfo(2, 0, 8);
    juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(count_, 2);
    EXPECT_EQ(ReadData(1, buffer_), JUXHID_READ_NO_INPUT);
    EXPECT_EQ(ReadLast(1, buffer_), JUXHID_LAST_NO_INPUT);
    EXPECT_EQ(ClearBuffer(1), JUXHID_CLEAR_NOT_OPEN);
    ASSERT_EQ(SetupInterface(1), JUXHID_OK);
    EXPECT_EQ(ReadData(1, buffer_), JUXHID_READ_NO_INPUT);
    EXPECT_EQ(ReadLast(1, buffer_), JUXHID_LAST_NO_INPUT);
    EXPECT_EQ(ClearBuffer(1), JUXHID_CLEAR_NOT_OPEN);
}

TEST_F(PolledReads, ReadLastNeverHoldsTheLockWhileItPauses) {
    // A reader that needs the lock while ReadLast waits must get it well
    // within its own 100 ms limit.
    std::thread late([&] {
        for (uint8_t n = 1; n <= 5; ++n) {
            sleepMs(30);
            deliver(device_, report(kLength, 0, n));
        }
    });
    EXPECT_EQ(ReadLast(0, buffer_), JUXHID_OK);
    late.join();
    uint8_t newest[kLength];
    ASSERT_TRUE(eventually([&] { return ReadLast(0, newest) == JUXHID_OK && newest[1] == 5; }));
    int taken = 0;
    while (ReadData(0, buffer_) == JUXHID_OK) ++taken;
    EXPECT_EQ(taken, 5) << "no report was dropped for want of the lock";
}

}  // namespace
}  // namespace juxhid::test
