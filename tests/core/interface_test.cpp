// Opening, closing and cleaning up interfaces, and the reader thread that
// fills the ring in between.
#include <atomic>

#include "frame/library_state.h"
#include "frame/lifecycle.h"
#include "frame/lock_convention.h"
#include "support/opening_view.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

class Interface : public SimTest {
protected:
    const InterfaceSlot& slot(int32_t index = 0) { return openingAt(index); }

    // Reads everything ReadData gives until empty; the first byte of each.
    std::vector<uint8_t> drain(int32_t index, uint32_t length) {
        std::vector<uint8_t> firsts, buffer(length);
        while (ReadData(index, buffer.data()) == JUXHID_OK) firsts.push_back(buffer[1]);
        return firsts;
    }

    bool waitForUnread(int32_t count) {
        return eventually([&] {
            if (!tryLock(openingAt(0).readLock, 100)) return false;
            const int32_t unread = openingAt(0).readRing.unread();
            platform::lockRelease(openingAt(0).readLock);
            return unread >= count;
        });
    }
};

TEST_F(Interface, BadIndexAnswers201AndChangesNoSlot) {
    JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
    juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    EXPECT_EQ(SetupInterface(1), JUXHID_OPEN_BAD_INDEX);
    EXPECT_EQ(SetupInterface(-1), JUXHID_OPEN_BAD_INDEX);
    EXPECT_FALSE(slot(1).readRing.exists());
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_TRUE(nothingOpen(counts)) << describe(counts);
}

TEST_F(Interface, OpenInterfaceCollectsReportsInOrder) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    EXPECT_NE(slot().readerThread.load(), nullptr);
    for (uint8_t n = 1; n <= 20; ++n) ASSERT_EQ(deliver(device_, report(8, 0, n)), 1);
    ASSERT_TRUE(waitForUnread(20));
    const std::vector<uint8_t> firsts = drain(0, 8);
    ASSERT_EQ(firsts.size(), 20u);
    for (uint8_t n = 1; n <= 20; ++n) EXPECT_EQ(firsts[n - 1], n);
}

TEST_F(Interface, MoreThan128UnreadKeepsTheNewest128) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    for (int n = 1; n <= 200; ++n) ASSERT_EQ(deliver(device_, report(8, 0, static_cast<uint8_t>(n))), 1);
    uint8_t newest[8] = {};
    ASSERT_TRUE(eventually([&] { return ReadLast(0, newest) == JUXHID_OK && newest[1] == 200; }));
    const std::vector<uint8_t> firsts = drain(0, 8);
    ASSERT_EQ(firsts.size(), 128u);
    for (int i = 0; i < 128; ++i) EXPECT_EQ(firsts[i], static_cast<uint8_t>(73 + i));
}

TEST_F(Interface, ShortReadsAreDroppedAndTheNextFullReportIsStored) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    deliver(device_, report(5, 0, 1));
    deliver(device_, report(8, 0, 2));
    ASSERT_TRUE(waitForUnread(1));
    sleepMs(30);
    const std::vector<uint8_t> firsts = drain(0, 8);
    ASSERT_EQ(firsts.size(), 1u);
    EXPECT_EQ(firsts[0], 2);
}

TEST_F(Interface, ReportLostWhenTheLockIsBusyKeepsOthersInOrder) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    deliver(device_, report(8, 0, 1));
    ASSERT_TRUE(waitForUnread(1));
    const int32_t fault = armFault(JUXSIM_CALL_LOCK_WAIT, 258, 1, JUXSIM_THREAD_READER);
    deliver(device_, report(8, 0, 2));
    ASSERT_TRUE(eventually([&] { return juxsim_fault_fired(fault) == 1; }));
    deliver(device_, report(8, 0, 3));
    ASSERT_TRUE(waitForUnread(2));
    const std::vector<uint8_t> firsts = drain(0, 8);
    EXPECT_EQ(firsts, (std::vector<uint8_t>{1, 3}));
}

TEST_F(Interface, FailingReadsAreRetriedAndStopEndsTheReaderPromptly) {
    JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
    device_ = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    // Armed before the reader starts, so its first three reads fail.
    const int32_t fault = armFault(JUXSIM_CALL_READ, 31, 3, JUXSIM_THREAD_READER);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    ASSERT_TRUE(eventually([&] { return juxsim_fault_fired(fault) == 3; }));
    deliver(device_, report(8, 0, 9));
    ASSERT_TRUE(waitForUnread(1)) << "the reader goes on reading after the failures";

    armFault(JUXSIM_CALL_READ, 31, -1, JUXSIM_THREAD_READER);
    sleepMs(150);
    const auto start = std::chrono::steady_clock::now();
    CloseInterface(0);
    EXPECT_LT(msSince(start), 1000.0);
    EXPECT_EQ(slot().readerThread.load(), nullptr);
}

TEST_F(Interface, UnplugRaisesErrorSignalOnceAndEndsTheReader) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    ASSERT_EQ(juxsim_detach(device_), 0);
    ASSERT_TRUE(eventually([&] { return platform::signalIsSet(slot().errorSignal); }));
    ASSERT_EQ(platform::threadWait(slot().readerThread.load(), 2000), platform::kWaitAcquired);
    uint8_t buffer[8];
    EXPECT_EQ(ReadData(0, buffer), JUXHID_READ_DEVICE_GONE);
}

std::atomic<int> g_errorCalls{0};
std::atomic<intptr_t> g_errorStatus{0};

int32_t JUXHID_CALL countError(intptr_t status) {
    g_errorStatus = status;
    ++g_errorCalls;
    return 0;
}

// A read that fails with one of these codes on the open handle ends the
// interface as an unplug does, with the device still on the bus: 5 is what
// Windows' HID class driver answers while it removes a device.
class DeviceGoneReads : public Interface, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(DeviceGoneReads, EndTheInterfaceAsAnUnplugDoes) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    g_errorCalls = 0;
    ASSERT_EQ(SetErrorCallback(0, countError), JUXHID_OK);
    for (uint8_t n = 1; n <= 3; ++n) ASSERT_EQ(deliver(device_, report(8, 0, n)), 1);
    ASSERT_TRUE(waitForUnread(3));
    // The reader waits in its next read already: the fault takes the one after
    // the report that ends this wait.
    const int32_t fault = armFault(JUXSIM_CALL_READ, GetParam(), -1, JUXSIM_THREAD_READER);
    ASSERT_EQ(deliver(device_, report(8, 0, 4)), 1);
    ASSERT_EQ(platform::threadWait(slot().readerThread.load(), 2000), platform::kWaitAcquired);
    EXPECT_EQ(juxsim_fault_fired(fault), 1) << "the reader does not try again";
    ASSERT_TRUE(eventually([&] { return g_errorCalls.load() == 1; }));
    sleepMs(150);
    EXPECT_EQ(g_errorCalls.load(), 1);
    EXPECT_EQ(g_errorStatus.load(), JUXHID_DEVICE_GONE_STATUS);

    uint8_t buffer[8];
    EXPECT_EQ(ReadLast(0, buffer), JUXHID_LAST_DEVICE_GONE);
    EXPECT_EQ(drain(0, 8), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(ReadData(0, buffer), JUXHID_READ_DEVICE_GONE);
    armFault(JUXSIM_CALL_WRITE, GetParam(), 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(WriteData(0, buffer), JUXHID_WRITE_DEVICE_GONE);
    const auto start = std::chrono::steady_clock::now();
    CleanupInterface(0);
    EXPECT_LT(msSince(start), 250.0) << "the error signal was set: nothing to wait for";
    EXPECT_EQ(slot().errorSignal, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Codes, DeviceGoneReads, ::testing::Values(5u, 6u, 1167u));

TEST_F(Interface, OutputOnlyDeviceOpensWithoutAnInputSide) {
    ASSERT_EQ(attachAndOpen(0, 8), JUXHID_OK);
    EXPECT_EQ(slot().readHandle, nullptr);
    EXPECT_EQ(slot().readLock, nullptr);
    EXPECT_EQ(slot().readerThread.load(), nullptr);
    EXPECT_TRUE(slot().readRing.exists());
    EXPECT_NE(slot().writeHandle, nullptr);
    uint8_t buffer[8] = {};
    EXPECT_EQ(ReadData(0, buffer), JUXHID_READ_NO_INPUT);
    EXPECT_EQ(WriteData(0, buffer), JUXHID_OK);
    // Opening it again releases what the first opening held.
    EXPECT_EQ(SetupInterface(0), JUXHID_OK);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(counts.handles, 1) << describe(counts);
}

struct OpenFault {
    int32_t call;
    uint32_t error;
    int32_t status;
};

class OpenFailures : public Interface, public ::testing::WithParamInterface<OpenFault> {};

TEST_P(OpenFailures, AnswerTheirCodeAndCloseReleasesWhatWasCreated) {
    JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
    device_ = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    const OpenFault& param = GetParam();
    const int32_t fault = armFault(param.call, param.error, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(SetupInterface(0), param.status);
    EXPECT_EQ(juxsim_fault_fired(fault), 1);
    EXPECT_TRUE(slot().readRing.exists()) << "nothing is released by a failed opening";
    CloseInterface(0);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_TRUE(nothingOpen(counts)) << describe(counts);
    // And the slot opens cleanly afterwards.
    EXPECT_EQ(SetupInterface(0), JUXHID_OK);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCode, OpenFailures,
    ::testing::Values(OpenFault{JUXSIM_CALL_LOCK_CREATE, 0, JUXHID_OPEN_NO_SYNC_OBJECTS},
                      OpenFault{JUXSIM_CALL_SIGNAL_CREATE, 0, JUXHID_OPEN_NO_SYNC_OBJECTS},
                      OpenFault{JUXSIM_CALL_THREAD_START, 0, JUXHID_OPEN_NO_READER},
                      OpenFault{JUXSIM_CALL_OPEN_READ, 31, JUXHID_OPEN_READ_FAILED},
                      OpenFault{JUXSIM_CALL_OPEN_READ, 5, JUXHID_OPEN_READ_DENIED},
                      OpenFault{JUXSIM_CALL_OPEN_READ, 2, JUXHID_OPEN_READ_NOT_FOUND},
                      OpenFault{JUXSIM_CALL_OPEN_READ, 3, JUXHID_OPEN_READ_NOT_FOUND},
                      OpenFault{JUXSIM_CALL_OPEN_WRITE, 31, JUXHID_OPEN_WRITE_FAILED},
                      OpenFault{JUXSIM_CALL_OPEN_WRITE, 5, JUXHID_OPEN_WRITE_DENIED},
                      OpenFault{JUXSIM_CALL_OPEN_WRITE, 2, JUXHID_OPEN_WRITE_NOT_FOUND},
                      OpenFault{JUXSIM_CALL_OPEN_WRITE, 3, JUXHID_OPEN_WRITE_NOT_FOUND}));

TEST_F(Interface, ReaderScratchThatCannotBeHadAnswers204) {
    JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
    juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    // Ring storage twice, then the reader's buffer.
    const int32_t fault = armFault(JUXSIM_CALL_ALLOCATE, 0, 1, JUXSIM_THREAD_ARMING, 0, 2);
    EXPECT_EQ(SetupInterface(0), JUXHID_OPEN_NO_READER);
    EXPECT_EQ(juxsim_fault_fired(fault), 1);
    EXPECT_NE(slot().readHandle, nullptr) << "the read handle stays open after 204";
}

TEST_F(Interface, WriteOpenFailureLeavesAWorkingInputSide) {
    JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
    device_ = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    armFault(JUXSIM_CALL_OPEN_WRITE, 5, 1, JUXSIM_THREAD_ARMING);
    ASSERT_EQ(SetupInterface(0), JUXHID_OPEN_WRITE_DENIED);
    deliver(device_, report(8, 0, 4));
    uint8_t buffer[8] = {};
    ASSERT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_OK; }));
    EXPECT_EQ(buffer[1], 4);
    EXPECT_EQ(WriteData(0, buffer), JUXHID_WRITE_NOT_OPEN);
}

TEST_F(Interface, RingWithoutStorageShowsTheMessageAndOpeningGoesOn) {
    JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
    device_ = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    armFault(JUXSIM_CALL_ALLOCATE, 0, 1, JUXSIM_THREAD_ARMING);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(counts.messageBoxes, 1);
    deliver(device_, report(8, 0, 4));
    sleepMs(30);
    uint8_t buffer[8] = {};
    EXPECT_EQ(ReadData(0, buffer), JUXHID_READ_EMPTY) << "a ring without storage stores nothing";
}

TEST_F(Interface, ReopeningAnOpenInterfaceClosesItFirst) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    platform::Thread* firstReader = slot().readerThread.load();
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    EXPECT_NE(slot().readerThread.load(), nullptr);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(counts.threads, 1) << "the first reader ended: " << describe(counts);
    EXPECT_EQ(counts.handles, 2) << describe(counts);
    (void)firstReader;
    deliver(device_, report(8, 0, 6));
    uint8_t buffer[8] = {};
    ASSERT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_OK; }));
    EXPECT_EQ(buffer[1], 6);
}

TEST_F(Interface, CloseOnAnUntouchedSlotChangesNothing) {
    const auto start = std::chrono::steady_clock::now();
    CloseInterface(24);
    CleanupInterface(24);
    EXPECT_LT(msSince(start), 50.0);
    EXPECT_EQ(state().interfaces[24].current, nullptr);
    CloseInterface(25);
    CloseInterface(-1);
    CleanupInterface(25);
    CleanupInterface(-1);
}

TEST_F(Interface, CloseReachesASlotBeyondAShrunkenListing) {
    for (uint32_t p = 1; p <= 4; ++p) {
        JuxsimDeviceInfo info = deviceInfo(p, 8, 8);
        juxsim_attach(&info);
    }
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(3), JUXHID_OK);
    juxsim_reset();
    JuxsimDeviceInfo info = deviceInfo(9, 8, 8);
    juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(count_, 1);
    CloseInterface(3);
    EXPECT_FALSE(slot(3).readRing.exists());
    EXPECT_EQ(slot(3).readHandle, nullptr);
}

TEST_F(Interface, CleanupAfterUnplugIsImmediateAndReleasesEverything) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    juxsim_detach(device_);
    ASSERT_TRUE(eventually([&] { return platform::signalIsSet(slot().errorSignal); }));
    const auto start = std::chrono::steady_clock::now();
    CleanupInterface(0);
    EXPECT_LT(msSince(start), 250.0);
    EXPECT_EQ(slot().errorSignal, nullptr);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_TRUE(nothingOpen(counts)) << describe(counts);
}

TEST_F(Interface, CleanupWhileAttachedWaitsReleasesEverythingAndKeepsItsCodes) {
    ASSERT_EQ(attachAndOpen(8, 8), JUXHID_OK);
    const auto start = std::chrono::steady_clock::now();
    CleanupInterface(0);
    const double elapsed = msSince(start);
    EXPECT_GE(elapsed, 400.0);
    EXPECT_LT(elapsed, 2000.0);
    EXPECT_EQ(slot().readLock, nullptr);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_TRUE(nothingOpen(counts)) << "reader ended, handles and signals given back: " << describe(counts);
    uint8_t buffer[8];
    EXPECT_EQ(ReadData(0, buffer), JUXHID_READ_NO_LOCK);
    EXPECT_EQ(ReadLast(0, buffer), JUXHID_LAST_LOCK_FAILED);
    EXPECT_EQ(ClearBuffer(0), JUXHID_CLEAR_NOT_OPEN);
    // A new opening starts afresh.
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    EXPECT_EQ(ClearBuffer(0), JUXHID_OK);
    juxsim_counts(&counts);
    EXPECT_EQ(counts.signals, 2) << describe(counts);
}

TEST_F(Interface, AnySequenceOfOpenCloseCleanupAndUnplugLeavesNothingOpen) {
    for (int round = 0; round < 6; ++round) {
        JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
        device_ = juxsim_attach(&info);
        ASSERT_EQ(list(), JUXHID_OK);
        ASSERT_EQ(SetupInterface(0), JUXHID_OK);
        deliver(device_, report(8, 0, 1));
        if (round % 2 == 0) juxsim_detach(device_);
        if (round % 3 == 0) CleanupInterface(0);
        else CloseInterface(0);
        CloseInterface(0);
        juxsim_reset();
    }
}

TEST_F(Interface, UnloadClosesEveryOpenInterface) {
    for (uint32_t p = 1; p <= 3; ++p) {
        JuxsimDeviceInfo info = deviceInfo(p, 8, 8);
        juxsim_attach(&info);
    }
    ASSERT_EQ(list(), JUXHID_OK);
    for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(SetupInterface(i), JUXHID_OK);
    uint8_t out[8] = {};
    ASSERT_EQ(WriteData(0, out), JUXHID_OK);
    ASSERT_EQ(WriteData(1, out), JUXHID_OK);  // queued behind a pending tick
    frame::libraryUnload();
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(counts.locks, 0) << "writeLock went last: " << describe(counts);
    counts.locks = baseline.locks;
    EXPECT_TRUE(nothingOpen(counts)) << describe(counts);
    frame::libraryLoad();
}

}  // namespace
}  // namespace juxhid::test
