// What a host or a device can do that once hung, crashed or spun the library:
// a device whose writes stall, callbacks that tear down each other's
// interfaces, an error callback that cleans up under its own setter, a close
// in the middle of a pacing tick's send, a cleanup racing an unplug, reports
// that were never stored, a worker with nothing to wait on, and device paths
// longer than a row keeps. Each case holds a time bound: a hang fails it.
#include <atomic>
#include <ctime>
#include <functional>
#include <future>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

constexpr uint32_t kLength = 8;

// The callbacks are plain functions; each test says through these what they do.
std::function<int32_t(int32_t index)> onData[2];
std::function<void(int32_t index)> onError[2];
std::atomic<int> dataCalls[2];
std::atomic<int> errorCalls[2];

template <int32_t kIndex>
int32_t JUXHID_CALL dataOf(uint8_t*) {
    dataCalls[kIndex].fetch_add(1);
    return onData[kIndex] ? onData[kIndex](kIndex) : 1;
}
template <int32_t kIndex>
int32_t JUXHID_CALL errorOf(intptr_t) {
    errorCalls[kIndex].fetch_add(1);
    if (onError[kIndex]) onError[kIndex](kIndex);
    return 0;
}
constexpr JuxhidDataCallback kData[2] = {dataOf<0>, dataOf<1>};
constexpr JuxhidErrorCallback kError[2] = {errorOf<0>, errorOf<1>};

// Process CPU time, to tell a waiting library from a spinning one. (The C
// library's clock() is wall time on Windows.)
double cpuMs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;  // 100 ns units
#else
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

class Lifetimes : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        for (int i = 0; i < 2; ++i) {
            onData[i] = nullptr;
            onError[i] = nullptr;
            dataCalls[i] = 0;
            errorCalls[i] = 0;
        }
    }
    void TearDown() override {
        // Nothing stalls past the test: an unplug ends every stalled write.
        for (const int32_t id : devices_) juxsim_detach(id);
        SimTest::TearDown();
    }

    void openDevices(int count, uint32_t inputLength = kLength, const char* const* paths = nullptr) {
        for (int i = 0; i < count; ++i) {
            JuxsimDeviceInfo info = deviceInfo(static_cast<uint32_t>(i + 1), inputLength, kLength);
            if (paths != nullptr) info.path = paths[i];
            devices_.push_back(juxsim_attach(&info));
        }
        ASSERT_EQ(list(), JUXHID_OK);
        for (int32_t i = 0; i < count; ++i) ASSERT_EQ(SetupInterface(i), JUXHID_OK);
    }

    std::vector<int32_t> devices_;
};

// Runs `call` on its own thread and answers whether it returned within `ms`.
bool returnsWithin(std::function<void()> call, int ms) {
    auto done = std::async(std::launch::async, std::move(call));
    return done.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

TEST_F(Lifetimes, AStalledDeviceHoldsUpNoOtherInterfaceAndItsOwnCloseEndsTheWrite) {
    openDevices(2);
    juxsim_set_write_delay(devices_[0], JUXSIM_WRITE_STALL);
    const std::vector<uint8_t> out = report(kLength, 0, 1);
    auto stalled = std::async(std::launch::async, [&] { return WriteData(0, out.data()); });
    sleepMs(50);  // the writer is inside the device write, holding the write lock
    EXPECT_TRUE(returnsWithin([] { CloseInterface(1); }, 1000)) << "closing a healthy interface waited";
    EXPECT_TRUE(returnsWithin([] { EXPECT_EQ(SetupInterface(1), JUXHID_OK); }, 1000));
    EXPECT_TRUE(returnsWithin([] { CleanupInterface(1); }, 2000));
    EXPECT_EQ(WriteData(1, out.data()), JUXHID_WRITE_NOT_OPEN);
    // Closing the stalled interface ends its write, whose caller learns it failed.
    EXPECT_TRUE(returnsWithin([] { CloseInterface(0); }, 1000));
    ASSERT_EQ(stalled.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(stalled.get(), JUXHID_WRITE_FAILED);
    EXPECT_EQ(juxsim_output_count(devices_[0]), 0) << "the stalled device received nothing";
}

TEST_F(Lifetimes, CallbacksThatTearDownEachOthersInterfacesNeverDeadlock) {
    openDevices(2);
    std::atomic<int> inside{0};
    // Each callback waits until both are inside, then closes the other's interface.
    const auto closeTheOther = [&](int32_t index) {
        inside.fetch_add(1);
        eventually([&] { return inside.load() == 2; }, std::chrono::milliseconds(1000));
        CloseInterface(1 - index);
        return 1;
    };
    onData[0] = onData[1] = closeTheOther;
    ASSERT_EQ(SetDataCallback(0, 1, kData[0]), JUXHID_OK);
    ASSERT_EQ(SetDataCallback(1, 1, kData[1]), JUXHID_OK);
    deliver(devices_[0], report(kLength, 0, 1));
    deliver(devices_[1], report(kLength, 0, 1));
    uint8_t buffer[kLength];
    ASSERT_TRUE(eventually([&] {
        return ReadData(0, buffer) == JUXHID_READ_NOT_OPEN && ReadData(1, buffer) == JUXHID_READ_NOT_OPEN;
    })) << "the two closes did not both return";

    // The same after a joint unplug, with error callbacks cleaning up each other's.
    inside = 0;
    juxsim_reset();
    devices_.clear();
    openDevices(2);
    onError[0] = onError[1] = [&](int32_t index) {
        inside.fetch_add(1);
        eventually([&] { return inside.load() == 2; }, std::chrono::milliseconds(1000));
        CleanupInterface(1 - index);
    };
    ASSERT_EQ(SetErrorCallback(0, kError[0]), JUXHID_OK);
    ASSERT_EQ(SetErrorCallback(1, kError[1]), JUXHID_OK);
    juxsim_detach(devices_[0]);
    juxsim_detach(devices_[1]);
    ASSERT_TRUE(eventually([&] { return errorCalls[0] == 1 && errorCalls[1] == 1; }));
    EXPECT_TRUE(returnsWithin([] { CloseInterface(0); CloseInterface(1); }, 2000));
}

TEST_F(Lifetimes, ACallbackMayReopenAnotherInterfaceAndItsOwn) {
    openDevices(2);
    std::atomic<bool> reopened{false};
    onData[0] = [&](int32_t) {
        EXPECT_EQ(SetupInterface(1), JUXHID_OK);
        EXPECT_EQ(SetupInterface(0), JUXHID_OK);  // its own: the worker ends after it returns
        reopened = true;
        return 1;
    };
    ASSERT_EQ(SetDataCallback(0, 1, kData[0]), JUXHID_OK);
    deliver(devices_[0], report(kLength, 0, 1));
    ASSERT_TRUE(eventually([&] { return reopened.load(); }));
    // Both interfaces work in their new openings.
    uint8_t buffer[kLength];
    deliver(devices_[0], report(kLength, 0, 7));
    deliver(devices_[1], report(kLength, 0, 8));
    EXPECT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_OK && buffer[1] == 7; }));
    EXPECT_TRUE(eventually([&] { return ReadData(1, buffer) == JUXHID_OK && buffer[1] == 8; }));
    sleepMs(100);
    EXPECT_EQ(dataCalls[0], 1) << "the old worker served the new opening";
}

TEST_F(Lifetimes, AnErrorCallbackThatCleansUpUnderItsSetterLeavesTheSetterIntact) {
    for (int round = 0; round < 20; ++round) {
        openDevices(1);
        juxsim_detach(devices_.back());
        uint8_t buffer[kLength];
        ASSERT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_READ_DEVICE_GONE; }));
        onError[0] = [](int32_t index) { CleanupInterface(index); };
        // The worker calls the callback at once, while the setter may still hold the lock.
        EXPECT_EQ(SetErrorCallback(0, kError[0]), JUXHID_OK) << "round " << round;
        ASSERT_TRUE(eventually([] { return errorCalls[0] == 1; }));
        errorCalls[0] = 0;
        ASSERT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_READ_NOT_OPEN; }));
        juxsim_reset();
    }
}

TEST_F(Lifetimes, AClosedInterfacesQueueIsNeverSentFromAfterTheClose) {
    openDevices(2);
    juxsim_set_write_delay(devices_[0], 20);
    juxsim_set_write_delay(devices_[1], 20);
    for (uint8_t n = 1; n <= 20; ++n) {
        const std::vector<uint8_t> out = report(kLength, 0, n);
        WriteData(0, out.data());
        WriteData(1, out.data());
    }
    // Closing while ticks send, with the caller's lock waits failing as well.
    sleepMs(70);
    armFault(JUXSIM_CALL_LOCK_WAIT, 0xFFFFFFFFu, -1, JUXSIM_THREAD_ARMING);
    EXPECT_TRUE(returnsWithin([] { CloseInterface(0); }, 1000));
    juxsim_fault_clear();
    EXPECT_TRUE(eventually([&] { return juxsim_output_count(devices_[1]) == 20; }, std::chrono::milliseconds(5000)))
        << "the chain went on for the other interface";
    // Device 0 received whole reports of its queue in order, then nothing;
    // device 1 received every one of its own.
    uint8_t bytes[kLength];
    uint32_t length = 0;
    for (uint8_t expected = 1; juxsim_take_output(devices_[0], bytes, kLength, &length, nullptr) == 1; ++expected) {
        ASSERT_EQ(length, kLength);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + kLength), report(kLength, 0, expected));
    }
}

TEST_F(Lifetimes, ACleanupThatRacesAnUnplugAnswersConsistentlyAndReleasesEverything) {
    openDevices(1);
    // The reader stops reading when the cleanup's wait has ended (a report
    // read together with the stop); the unplug comes after that wait.
    auto cleanup = std::async(std::launch::async, [] { CleanupInterface(0); });
    sleepMs(520);
    juxsim_detach(devices_[0]);
    cleanup.get();
    uint8_t buffer[kLength];
    const int32_t code = ReadData(0, buffer);
    EXPECT_TRUE(code == JUXHID_READ_DEVICE_GONE || code == JUXHID_READ_NO_LOCK) << code;
    EXPECT_EQ(ReadLast(0, buffer), code == JUXHID_READ_DEVICE_GONE ? JUXHID_LAST_DEVICE_GONE
                                                                   : JUXHID_LAST_LOCK_FAILED);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_TRUE(nothingOpen(counts)) << describe(counts);
}

TEST_F(Lifetimes, OnlyStoredReportsAreDelivered) {
    // A ring without storage keeps nothing, so there is nothing to deliver.
    JuxsimDeviceInfo info = deviceInfo(1, kLength, kLength);
    devices_.push_back(juxsim_attach(&info));
    ASSERT_EQ(list(), JUXHID_OK);
    armFault(JUXSIM_CALL_ALLOCATE, 0, 1, JUXSIM_THREAD_ARMING);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    ASSERT_EQ(SetDataCallback(0, 1, kData[0]), JUXHID_OK);
    for (uint8_t n = 1; n <= 5; ++n) deliver(devices_[0], report(kLength, 0, n));
    sleepMs(150);
    EXPECT_EQ(dataCalls[0], 0) << "a report never stored was delivered";

    // A report cleared before the worker woke is not delivered again.
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    std::atomic<bool> clearDuringCallback{true};
    onData[0] = [&](int32_t) {
        if (clearDuringCallback.exchange(false)) {
            deliver(devices_[0], report(kLength, 0, 2));
            sleepMs(50);  // stored, and the worker signalled, while this runs
            EXPECT_EQ(ClearBuffer(0), JUXHID_OK);
        }
        return 1;
    };
    ASSERT_EQ(SetDataCallback(0, 1, kData[0]), JUXHID_OK);
    deliver(devices_[0], report(kLength, 0, 1));
    ASSERT_TRUE(eventually([] { return dataCalls[0] == 1; }));
    sleepMs(150);
    EXPECT_EQ(dataCalls[0], 1) << "the worker delivered its old copy after the clear";
}

TEST_F(Lifetimes, NoStateBusyLoops) {
    // After an unplug with no error callback.
    openDevices(1);
    ASSERT_EQ(SetDataCallback(0, 1, kData[0]), JUXHID_OK);
    juxsim_detach(devices_[0]);
    sleepMs(50);
    double cpuBefore = cpuMs();
    sleepMs(500);
    EXPECT_LT(cpuMs() - cpuBefore, 250.0) << "something spins after the unplug";
    EXPECT_EQ(dataCalls[0], 0);

    // After an opening whose signals could not be created, no setter starts a
    // worker that would have nothing to wait on.
    juxsim_reset();
    devices_.clear();
    JuxsimDeviceInfo info = deviceInfo(1, kLength, kLength);
    devices_.push_back(juxsim_attach(&info));
    ASSERT_EQ(list(), JUXHID_OK);
    armFault(JUXSIM_CALL_SIGNAL_CREATE, 0, 1, JUXSIM_THREAD_ARMING, 0, 1);
    ASSERT_EQ(SetupInterface(0), JUXHID_OPEN_NO_SYNC_OBJECTS);
    EXPECT_EQ(SetDataCallback(0, 1, kData[0]), JUXHID_CALLBACK_NOT_OPEN);
    EXPECT_EQ(SetErrorCallback(0, kError[0]), JUXHID_CALLBACK_NOT_OPEN);
    cpuBefore = cpuMs();
    sleepMs(300);
    EXPECT_LT(cpuMs() - cpuBefore, 150.0);
}

TEST_F(Lifetimes, ARowOpensTheVeryDeviceItListsWhateverItsPathLength) {
    // Two paths that agree in their first 255 characters and differ after.
    const std::string common(280, 'p');
    const std::string paths[2] = {common + "-first", common + "-second"};
    const char* const pathTexts[2] = {paths[0].c_str(), paths[1].c_str()};
    openDevices(2, kLength, pathTexts);
    const std::vector<uint8_t> out = report(kLength, 0, 0x42);
    ASSERT_EQ(WriteData(1, out.data()), JUXHID_OK);
    ASSERT_TRUE(eventually([&] { return juxsim_output_count(devices_[1]) == 1; }));
    EXPECT_EQ(juxsim_output_count(devices_[0]), 0) << "the write went to the other device";
    deliver(devices_[0], report(kLength, 0, 5));
    uint8_t buffer[kLength];
    EXPECT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_OK && buffer[1] == 5; }));
}

TEST_F(Lifetimes, TheSimulatedBusRefusesWhatNoDeviceCanBeAndTakesEmptyReports) {
    JuxsimDeviceInfo info = deviceInfo(1, 65536, kLength);
    EXPECT_EQ(juxsim_attach(&info), -1) << "a length that would silently become 0";
    info = deviceInfo(1, kLength, kLength, 0x10000);
    EXPECT_EQ(juxsim_attach(&info), -1);
    info = deviceInfo(1, 65535, kLength);
    EXPECT_GT(juxsim_attach(&info), 0);
    juxsim_reset();
    openDevices(1);
    EXPECT_EQ(juxsim_deliver(devices_[0], nullptr, 0), 1);  // a short read, dropped
    deliver(devices_[0], report(kLength, 0, 3));
    uint8_t buffer[kLength];
    ASSERT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_OK; }));
    EXPECT_EQ(buffer[1], 3);
    EXPECT_EQ(ReadData(0, buffer), JUXHID_READ_EMPTY);
}

}  // namespace
}  // namespace juxhid::test
