// The callbacks, with real threads: delivery modes, the worker's life, the
// device-gone call, and callbacks that call back into the library.
#include <atomic>
#include <mutex>

#include "frame/library_state.h"
#include "support/opening_view.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

constexpr uint32_t kLength = 8;

// What the callbacks saw; the callbacks are plain functions, so the test
// reaches its recorder through one global.
struct Recorder {
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> reports;
    std::atomic<int> errorCalls{0};
    std::atomic<intptr_t> errorStatus{0};
    std::atomic<int32_t> answer{1};
    std::atomic<int> slowMs{0};
    uint32_t payload = kLength - 1;
    std::function<void()> onData;
    std::function<void()> onError;

    size_t count() {
        std::lock_guard<std::mutex> hold(mutex);
        return reports.size();
    }
    std::vector<uint8_t> at(size_t i) {
        std::lock_guard<std::mutex> hold(mutex);
        return reports.at(i);
    }
};
Recorder* recorder = nullptr;

int32_t JUXHID_CALL recordData(uint8_t* bytes) {
    {
        std::lock_guard<std::mutex> hold(recorder->mutex);
        recorder->reports.emplace_back(bytes, bytes + recorder->payload);
    }
    if (recorder->slowMs.load() > 0) sleepMs(recorder->slowMs.load());
    if (recorder->onData) recorder->onData();
    return recorder->answer.load();
}

int32_t JUXHID_CALL recordError(intptr_t status) {
    recorder->errorStatus = status;
    recorder->errorCalls.fetch_add(1);
    if (recorder->onError) recorder->onError();
    return 0;
}

// Overwrites the first byte it was handed, which takes part in the next
// comparison when it is the saved copy.
int32_t JUXHID_CALL recordAndOverwrite(uint8_t* bytes) {
    recordData(bytes);
    bytes[0] = 0x11;
    return 1;
}

class Callbacks : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        recorder = &record_;
        ASSERT_EQ(attachAndOpen(kLength, kLength), JUXHID_OK);
    }
    void TearDown() override {
        SimTest::TearDown();
        recorder = nullptr;
    }
    const InterfaceSlot& slot() { return openingAt(0); }
    void send(uint8_t first, uint8_t fill) { ASSERT_EQ(deliver(device_, report(kLength, first, fill)), 1); }
    bool callbackEnded() {
        return slot().callbackThread.load() != nullptr &&
               platform::threadWait(slot().callbackThread.load(), 0) == platform::kWaitAcquired;
    }

    Recorder record_;
};

TEST_F(Callbacks, ModeZeroStartsNothingAndClearsTheFunction) {
    EXPECT_EQ(SetDataCallback(0, 0, recordData), JUXHID_OK);
    EXPECT_EQ(slot().callbackThread.load(), nullptr);
    EXPECT_EQ(slot().dataCallback.load(), nullptr);
    send(0, 1);
    sleepMs(60);
    EXPECT_FALSE(platform::signalIsSet(slot().dataSignal)) << "mode 0: the reader sets no signal";
}

TEST_F(Callbacks, ModeZeroLeavesARunningWorkerServingTheErrorCallback) {
    ASSERT_EQ(SetErrorCallback(0, recordError), JUXHID_OK);
    ASSERT_NE(slot().callbackThread.load(), nullptr);
    ASSERT_EQ(SetDataCallback(0, 0, nullptr), JUXHID_OK);
    juxsim_detach(device_);
    ASSERT_TRUE(eventually([&] { return record_.errorCalls.load() == 1; }));
    EXPECT_EQ(record_.errorStatus.load(), JUXHID_DEVICE_GONE_STATUS);
    sleepMs(120);
    EXPECT_EQ(record_.errorCalls.load(), 1) << "called once";
    EXPECT_TRUE(callbackEnded());
}

TEST_F(Callbacks, ModeOneDeliversTheReportWithoutItsFirstByte) {
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    std::vector<uint8_t> bytes = report(kLength, 0x42, 3);
    bytes[7] = 9;
    deliver(device_, bytes);
    ASSERT_TRUE(eventually([&] { return record_.count() >= 1; }));
    EXPECT_EQ(record_.at(0), std::vector<uint8_t>(bytes.begin() + 1, bytes.end()));
}

TEST_F(Callbacks, ModeOneWithNullFunctionEndsTheWorkerForTheWholeOpening) {
    ASSERT_EQ(SetDataCallback(0, 1, nullptr), JUXHID_OK);
    ASSERT_NE(slot().callbackThread.load(), nullptr);
    send(0, 1);
    ASSERT_TRUE(eventually([&] { return callbackEnded(); }));
    EXPECT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    send(0, 2);
    sleepMs(120);
    EXPECT_EQ(record_.count(), 0u) << "an ended worker is not started again";
}

TEST_F(Callbacks, DataCallbackAnsweringZeroEndsDeliveryAndTheErrorCall) {
    record_.answer = 0;
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    ASSERT_EQ(SetErrorCallback(0, recordError), JUXHID_OK);
    send(0, 1);
    ASSERT_TRUE(eventually([&] { return callbackEnded(); }));
    send(0, 2);
    juxsim_detach(device_);
    sleepMs(150);
    EXPECT_EQ(record_.count(), 1u);
    EXPECT_EQ(record_.errorCalls.load(), 0);
}

class ChangedOnlyModes : public Callbacks, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ChangedOnlyModes, DeliverOnlyReportsThatChangedPastByteZero) {
    ASSERT_EQ(SetDataCallback(0, GetParam(), recordData), JUXHID_OK);
    send(0, 5);
    ASSERT_TRUE(eventually([&] { return record_.count() == 1; }));
    for (uint8_t first = 1; first <= 5; ++first) {
        send(first, 5);  // differs only in byte 0
        sleepMs(15);
    }
    send(0, 6);
    ASSERT_TRUE(eventually([&] { return record_.count() == 2; }));
    sleepMs(60);
    EXPECT_EQ(record_.count(), 2u);
    EXPECT_EQ(record_.at(1), std::vector<uint8_t>(kLength - 1, 6));
}

INSTANTIATE_TEST_SUITE_P(Values, ChangedOnlyModes, ::testing::Values(2u, 255u, 0xFFFFFFFFu));

TEST_F(Callbacks, ChangedOnlyAnnouncesTheFirstReportWhateverItsBytes) {
    ASSERT_EQ(SetDataCallback(0, 2, recordData), JUXHID_OK);
    send(7, 0);  // all zeros after byte 0: "nothing pressed" is news too
    ASSERT_TRUE(eventually([&] { return record_.count() == 1; }));
    send(8, 0);  // differs only in byte 0
    sleepMs(120);
    EXPECT_EQ(record_.count(), 1u);
}

TEST_F(Callbacks, ChangedOnlyHandsOutTheSavedCopyItself) {
    ASSERT_EQ(SetDataCallback(0, 2, recordAndOverwrite), JUXHID_OK);
    send(0, 4);
    ASSERT_TRUE(eventually([&] { return record_.count() == 1; }));
    // Same bytes as delivered: differs from the overwritten saved copy.
    send(1, 4);
    ASSERT_TRUE(eventually([&] { return record_.count() == 2; }));
}

TEST_F(Callbacks, ReportLengthOneCallsOnceInChangedOnlyMode) {
    CloseInterface(0);
    JuxsimDeviceInfo info = deviceInfo(2, 1, 0);
    const int32_t tiny = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(1), JUXHID_OK);
    record_.payload = 0;
    ASSERT_EQ(SetDataCallback(1, 3, recordData), JUXHID_OK);
    for (uint8_t n = 0; n < 3; ++n) juxsim_deliver(tiny, &n, 1);
    sleepMs(120);
    EXPECT_EQ(record_.count(), 1u) << "the first report only: nothing after byte 0 ever changes";
    ASSERT_EQ(SetDataCallback(1, 1, recordData), JUXHID_OK);
    uint8_t one = 9;
    juxsim_deliver(tiny, &one, 1);
    EXPECT_TRUE(eventually([&] { return record_.count() >= 2; })) << "mode 1 calls with nothing meaningful";
}

TEST_F(Callbacks, ReportsArrivingDuringASlowCallbackMergeIntoOneWakeUp) {
    record_.slowMs = 150;
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    send(0, 1);
    ASSERT_TRUE(eventually([&] { return record_.count() == 1; }));
    for (uint8_t n = 2; n <= 6; ++n) send(0, n);
    record_.slowMs = 0;
    ASSERT_TRUE(eventually([&] { return record_.count() >= 2; }));
    sleepMs(200);
    EXPECT_EQ(record_.count(), 2u) << "one wake-up for the five";
    EXPECT_EQ(record_.at(1)[0], 6) << "delivering the newest";
    uint8_t buffer[kLength];
    int taken = 0;
    while (ReadData(0, buffer) == JUXHID_OK) ++taken;
    EXPECT_EQ(taken, 6) << "all stay in the ring for the polled reads";
}

TEST_F(Callbacks, PolledReadsStillGetEveryReportInOrder) {
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    for (uint8_t n = 1; n <= 40; ++n) send(0, n);
    uint8_t newest[kLength];
    ASSERT_TRUE(eventually([&] { return ReadLast(0, newest) == JUXHID_OK && newest[1] == 40; }));
    uint8_t buffer[kLength];
    for (uint8_t n = 1; n <= 40; ++n) {
        ASSERT_EQ(ReadData(0, buffer), JUXHID_OK);
        EXPECT_EQ(buffer[1], n);
    }
}

TEST_F(Callbacks, BothSignalsSetServeDataFirstThenTheError) {
    // Hold the worker in a slow callback while a report and the unplug land.
    record_.slowMs = 100;
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    ASSERT_EQ(SetErrorCallback(0, recordError), JUXHID_OK);
    send(0, 1);
    ASSERT_TRUE(eventually([&] { return record_.count() == 1; }));
    send(0, 2);
    ASSERT_TRUE(eventually([&] { return platform::signalIsSet(slot().dataSignal); }));
    juxsim_detach(device_);
    ASSERT_TRUE(eventually([&] { return platform::signalIsSet(slot().errorSignal); }));
    record_.slowMs = 0;
    ASSERT_TRUE(eventually([&] { return record_.errorCalls.load() == 1; }));
    EXPECT_EQ(record_.count(), 2u) << "the data wake-up came before the error call";
}

// Once the worker has seen the unplug with no error callback to call, it
// waits without a look at the clock; installing one wakes it. An error
// callback installed and taken away again before the worker woke must leave
// it waiting as before: neither handing the last report out again nor
// missing the one installed after.
class LateErrorCallback : public Callbacks, public ::testing::WithParamInterface<bool> {};

TEST_P(LateErrorCallback, AfterAnUnplugRepeatsNothingAndIsCalledPromptlyOnce) {
    const bool installedAndRemovedFirst = GetParam();
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    send(0, 3);
    ASSERT_TRUE(eventually([&] { return record_.count() == 1; }));
    juxsim_detach(device_);
    ASSERT_TRUE(eventually([&] { return slot().workerAwaitsErrorCallback.load(); }));
    if (installedAndRemovedFirst) {
        ASSERT_EQ(SetErrorCallback(0, recordError), JUXHID_OK);
        ASSERT_EQ(SetErrorCallback(0, nullptr), JUXHID_OK);
    }
    sleepMs(200);
    EXPECT_EQ(record_.count(), 1u) << "the last report is not delivered again";
    EXPECT_LE(record_.errorCalls.load(), 1);
    const int before = record_.errorCalls.load();
    const auto installed = std::chrono::steady_clock::now();
    ASSERT_EQ(SetErrorCallback(0, recordError), JUXHID_OK);
    if (before == 0) {
        ASSERT_TRUE(eventually([&] { return record_.errorCalls.load() == 1; }));
        EXPECT_LT(msSince(installed), 1000.0);
    }
    sleepMs(50);
    EXPECT_EQ(record_.errorCalls.load(), 1) << "the error callback is called once";
    EXPECT_EQ(record_.count(), 1u);
}
// false: installed once; true: installed and removed again first.
INSTANTIATE_TEST_SUITE_P(Values, LateErrorCallback, ::testing::Bool());

TEST_F(Callbacks, SetterCodes) {
    EXPECT_EQ(SetDataCallback(1, 1, recordData), JUXHID_CALLBACK_NOT_OPEN);
    EXPECT_EQ(SetErrorCallback(-1, recordError), JUXHID_CALLBACK_NOT_OPEN);
    armFault(JUXSIM_CALL_LOCK_WAIT, 258, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(SetDataCallback(0, 1, recordData), JUXHID_CALLBACK_LOCK_FAILED);
    EXPECT_EQ(slot().dataCallbackMode.load(), 0u) << "703 changes nothing";
    armFault(JUXSIM_CALL_THREAD_START, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(SetErrorCallback(0, recordError), JUXHID_CALLBACK_NO_WORKER);
    EXPECT_EQ(slot().callbackThread.load(), nullptr);
    EXPECT_EQ(slot().errorCallback.load(), recordError) << "the setting stays after 704";
    armFault(JUXSIM_CALL_ALLOCATE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(SetDataCallback(0, 1, recordData), JUXHID_CALLBACK_NO_WORKER);
    armFault(JUXSIM_CALL_LOCK_RELEASE, 0, 1, JUXSIM_THREAD_ARMING);
    EXPECT_EQ(SetDataCallback(0, 1, recordData), JUXHID_CALLBACK_RELEASE_FAILED);
    EXPECT_NE(slot().callbackThread.load(), nullptr) << "the worker started by 705's call runs";
    send(0, 1);
    EXPECT_TRUE(eventually([&] { return record_.count() == 1; }));
    CloseInterface(0);
    EXPECT_EQ(SetErrorCallback(0, recordError), JUXHID_CALLBACK_NOT_OPEN);
}

TEST_F(Callbacks, OutputOnlyInterfaceHasNoCallbacks) {
    JuxsimDeviceInfo info = deviceInfo(2, 0, 8);
    juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(1), JUXHID_OK);
    EXPECT_EQ(SetDataCallback(1, 1, recordData), JUXHID_CALLBACK_NOT_OPEN);
}

TEST_F(Callbacks, CloseFromInsideTheDataCallback) {
    std::atomic<bool> closed{false};
    record_.onData = [&] {
        CloseInterface(0);
        closed = true;
    };
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    const auto start = std::chrono::steady_clock::now();
    send(0, 1);
    ASSERT_TRUE(eventually([&] { return closed.load(); }));
    EXPECT_LT(msSince(start), 1000.0) << "the close did not wait for its own thread";
    EXPECT_FALSE(slot().readRing.exists());
    EXPECT_EQ(record_.count(), 1u);
}

TEST_F(Callbacks, CleanupFromInsideTheErrorCallback) {
    std::atomic<bool> cleaned{false};
    record_.onError = [&] {
        CleanupInterface(0);
        cleaned = true;
    };
    ASSERT_EQ(SetErrorCallback(0, recordError), JUXHID_OK);
    juxsim_detach(device_);
    ASSERT_TRUE(eventually([&] { return cleaned.load(); }));
    EXPECT_EQ(slot().errorSignal, nullptr);
}

TEST_F(Callbacks, ReopenFromInsideTheCallbackStartsAFreshOpening) {
    std::atomic<int32_t> reopened{-1};
    record_.onData = [&] {
        if (reopened.load() == -1) reopened = SetupInterface(0);
    };
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    send(0, 1);
    ASSERT_TRUE(eventually([&] { return reopened.load() != -1; }));
    EXPECT_EQ(reopened.load(), JUXHID_OK);
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    send(0, 2);
    ASSERT_TRUE(eventually([&] { return record_.count() == 2; }));
    EXPECT_EQ(record_.at(1)[0], 2);
}

TEST_F(Callbacks, CallbackMayUseThePolledReadsAndSetters) {
    std::atomic<int32_t> readStatus{-1}, setStatus{-1};
    record_.onData = [&] {
        uint8_t buffer[kLength];
        readStatus = ReadData(0, buffer);
        setStatus = SetErrorCallback(0, recordError);
    };
    ASSERT_EQ(SetDataCallback(0, 1, recordData), JUXHID_OK);
    send(0, 1);
    ASSERT_TRUE(eventually([&] { return setStatus.load() != -1; }));
    EXPECT_EQ(readStatus.load(), JUXHID_OK);
    EXPECT_EQ(setStatus.load(), JUXHID_OK);
}

TEST_F(Callbacks, LongInputReportsReachTheCallbackWhole) {
    CloseInterface(0);
    JuxsimDeviceInfo info = deviceInfo(3, 600, 0);
    const int32_t big = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(1), JUXHID_OK);
    record_.payload = 599;
    ASSERT_EQ(SetDataCallback(1, 2, recordData), JUXHID_OK);
    std::vector<uint8_t> bytes(600, 1);
    bytes[599] = 0xAB;
    juxsim_deliver(big, bytes.data(), 600);
    ASSERT_TRUE(eventually([&] { return record_.count() == 1; }));
    EXPECT_EQ(record_.at(0).back(), 0xAB);
}

}  // namespace
}  // namespace juxhid::test
