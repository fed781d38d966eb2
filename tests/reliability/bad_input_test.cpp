// Bad input: indices outside every table, null pointers, every class of
// callback mode and vendor id. Each call answers its code and nothing else
// happens: no platform call is made, nothing is opened or released, and
// what an open interface holds stays as it was.
#include <climits>

#include "status_families.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

constexpr uint32_t kLength = 8;
constexpr int32_t kOutsideEveryTable[] = {-1, JUXHID_MAX_DEVICES, INT_MIN, INT_MAX};
constexpr uint8_t kUntouched = 0xA5;

std::atomic<int> dataCalls{0};
int32_t JUXHID_CALL countData(uint8_t*) {
    dataCalls.fetch_add(1);
    return 1;
}
int32_t JUXHID_CALL ignoreError(intptr_t) { return 0; }

class BadInput : public SimTest {
protected:
    // A fault that never ends on every kind of call this thread could make:
    // a call that was meant to do nothing fires one.
    std::vector<int32_t> armEveryCall() {
        std::vector<int32_t> faults;
        for (int32_t call = JUXSIM_CALL_LIST_OPEN; call < JUXSIM_CALL_END_; ++call)
            faults.push_back(armFault(call, call == JUXSIM_CALL_LOCK_WAIT ? 258 : 31, -1, JUXSIM_THREAD_ARMING));
        return faults;
    }
    static void expectNoneFired(const std::vector<int32_t>& faults, const std::string& where) {
        for (size_t i = 0; i < faults.size(); ++i)
            EXPECT_EQ(juxsim_fault_fired(faults[i]), 0)
                << where << " made a platform call of kind " << (i + JUXSIM_CALL_LIST_OPEN);
        juxsim_fault_clear();
    }
    static JuxsimCounts countsNow() {
        JuxsimCounts counts{};
        juxsim_counts(&counts);
        return counts;
    }
    // Pacing ticks of a busy interface come and go on their own; everything
    // else the library holds must stay as it was.
    static void expectSameCounts(JuxsimCounts before, const std::string& where) {
        JuxsimCounts after = countsNow();
        before.timers = after.timers = 0;
        EXPECT_EQ(describe(after), describe(before)) << where;
    }

    // Every exported function with `index`, each expected to answer its
    // not-listed code (and the teardowns to do nothing at all).
    void expectNotListedEverywhere(int32_t index, bool teardownsToo) {
        const std::string where = "index " + std::to_string(index);
        uint8_t buffer[kLength];
        std::fill(std::begin(buffer), std::end(buffer), kUntouched);
        const JuxsimCounts before = countsNow();
        const std::vector<int32_t> faults = armEveryCall();
        EXPECT_EQ(GetReadLength(index), -1) << where;
        EXPECT_EQ(GetWriteLength(index), -1) << where;
        EXPECT_EQ(SetupInterface(index), JUXHID_OPEN_BAD_INDEX) << where;
        EXPECT_EQ(ReadData(index, buffer), JUXHID_READ_NOT_OPEN) << where;
        EXPECT_EQ(ReadLast(index, buffer), JUXHID_LAST_NOT_OPEN) << where;
        EXPECT_EQ(ClearBuffer(index), JUXHID_CLEAR_NOT_OPEN) << where;
        EXPECT_EQ(SetDataCallback(index, 1, countData), JUXHID_CALLBACK_NOT_OPEN) << where;
        EXPECT_EQ(SetErrorCallback(index, ignoreError), JUXHID_CALLBACK_NOT_OPEN) << where;
        EXPECT_EQ(WriteData(index, buffer), JUXHID_WRITE_NOT_OPEN) << where;
        EXPECT_EQ(FastWrite(index, buffer), JUXHID_WRITE_NOT_OPEN) << where;
        // Null pointers change nothing: the index is refused first.
        EXPECT_EQ(ReadData(index, nullptr), JUXHID_READ_NOT_OPEN) << where;
        EXPECT_EQ(ReadLast(index, nullptr), JUXHID_LAST_NOT_OPEN) << where;
        EXPECT_EQ(WriteData(index, nullptr), JUXHID_WRITE_NOT_OPEN) << where;
        EXPECT_EQ(FastWrite(index, nullptr), JUXHID_WRITE_NOT_OPEN) << where;
        if (teardownsToo) {
            CloseInterface(index);
            CleanupInterface(index);
        }
        expectNoneFired(faults, where);
        for (const uint8_t byte : buffer) EXPECT_EQ(byte, kUntouched) << where << ": the buffer was written";
        expectSameCounts(before, where);
    }

    // Two devices listed, index 0 open with a callback worker, a stored
    // report and a report waiting in its write queue behind a pending tick.
    void openBusyInterface() {
        for (uint32_t p = 1; p <= 2; ++p) {
            JuxsimDeviceInfo info = deviceInfo(p, kLength, kLength);
            devices_.push_back(juxsim_attach(&info));
        }
        ASSERT_EQ(list(), JUXHID_OK);
        ASSERT_EQ(SetupInterface(0), JUXHID_OK);
        ASSERT_EQ(SetDataCallback(0, 1, countData), JUXHID_OK);
        ASSERT_EQ(deliver(devices_[0], report(kLength, 0, 0x42)), 1);
        ASSERT_TRUE(eventually([] { return dataCalls.load() > 0; }));
        ASSERT_EQ(WriteData(0, report(kLength, 0, 1).data()), JUXHID_OK);
        ASSERT_EQ(WriteData(0, report(kLength, 0, 2).data()), JUXHID_OK);
    }
    // The busy interface is untouched: its report is still there and the
    // queued report still goes out with the pending tick.
    void expectBusyInterfaceIntact() {
        uint8_t buffer[kLength] = {};
        EXPECT_EQ(ReadData(0, buffer), JUXHID_OK);
        EXPECT_EQ(buffer[1], 0x42);
        EXPECT_TRUE(eventually([&] { return juxsim_output_count(devices_[0]) == 2; }))
            << "the pending tick was cancelled";
    }

    void SetUp() override {
        SimTest::SetUp();
        dataCalls = 0;
    }

    std::vector<int32_t> devices_;
};

TEST_F(BadInput, IndicesOutsideEveryTableBeforeAnyListing) {
    for (const int32_t index : kOutsideEveryTable) expectNotListedEverywhere(index, true);
    // Any index is unlisted before the first listing; the teardowns accept 0..24.
    for (const int32_t index : {0, 24}) expectNotListedEverywhere(index, false);
}

TEST_F(BadInput, IndicesOutsideEveryTableWithAnInterfaceBusy) {
    openBusyInterface();
    for (const int32_t index : kOutsideEveryTable) expectNotListedEverywhere(index, true);
    // Beyond the listing but inside the tables: unlisted for all but the teardowns.
    for (const int32_t index : {2, 24}) expectNotListedEverywhere(index, false);
    expectBusyInterfaceIntact();
}

TEST_F(BadInput, NullDeviceArrayOrCountAnswers104AndKeepsTheListing) {
    JuxsimDeviceInfo info = deviceInfo(1, kLength, 4);
    juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    const std::vector<int32_t> faults = armEveryCall();
    int32_t count = 77;
    EXPECT_EQ(EnumerateJUX(kVendor, nullptr, &count), JUXHID_LIST_BAD_POINTER);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(EnumerateJUX(kVendor, summaries_, nullptr), JUXHID_LIST_BAD_POINTER);
    EXPECT_EQ(EnumerateJUX(kVendor, nullptr, nullptr), JUXHID_LIST_BAD_POINTER);
    expectNoneFired(faults, "EnumerateJUX with a null pointer");
    EXPECT_EQ(GetReadLength(0), static_cast<int32_t>(kLength)) << "the earlier listing stands";
    EXPECT_EQ(GetWriteLength(0), 4);
}

TEST_F(BadInput, NullBuffersAreRefusedAndTakeNothing) {
    ASSERT_EQ(attachAndOpen(kLength, kLength), JUXHID_OK);
    ASSERT_EQ(deliver(device_, report(kLength, 0, 7)), 1);
    uint8_t buffer[kLength] = {};
    ASSERT_TRUE(eventually([&] { return ReadLast(0, buffer) == JUXHID_OK; }));
    const JuxsimCounts before = countsNow();
    const std::vector<int32_t> faults = armEveryCall();
    EXPECT_EQ(ReadData(0, nullptr), JUXHID_READ_BAD_POINTER);
    EXPECT_EQ(ReadLast(0, nullptr), JUXHID_LAST_BAD_POINTER);
    EXPECT_EQ(WriteData(0, nullptr), JUXHID_WRITE_BAD_POINTER);
    EXPECT_EQ(FastWrite(0, nullptr), JUXHID_WRITE_BAD_POINTER);
    expectNoneFired(faults, "a null buffer");
    expectSameCounts(before, "a null buffer");
    EXPECT_EQ(juxsim_output_count(device_), 0) << "nothing was written";
    EXPECT_EQ(ReadData(0, buffer), JUXHID_OK) << "the report was not taken";
    EXPECT_EQ(buffer[1], 7);
    // No chain was started: the next write goes out at once.
    EXPECT_EQ(WriteData(0, buffer), JUXHID_OK);
    EXPECT_EQ(juxsim_output_count(device_), 1);
}

TEST_F(BadInput, NullCallbacksAreAllowed) {
    ASSERT_EQ(attachAndOpen(kLength, kLength), JUXHID_OK);
    EXPECT_EQ(SetErrorCallback(0, nullptr), JUXHID_OK);
    EXPECT_EQ(SetDataCallback(0, 1, nullptr), JUXHID_OK);
    EXPECT_EQ(SetDataCallback(0, 0, nullptr), JUXHID_OK);
    EXPECT_EQ(SetDataCallback(0, 2, nullptr), JUXHID_OK);
    deliver(device_, report(kLength, 0, 1));
    juxsim_detach(device_);
    uint8_t buffer[kLength];
    EXPECT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_READ_DEVICE_GONE; }));
    CleanupInterface(0);
}

TEST_F(BadInput, EveryModeClassSelectsItsDelivery) {
    struct ModeClass {
        uint32_t mode;
        int callsForTwoEqualReports;  // 0 none, 2 every wake-up, 1 changed-only
    };
    const ModeClass classes[] = {{0, 0}, {1, 2}, {2, 1}, {255, 1}, {0x7FFFFFFFu, 1}, {0x80000000u, 1}, {0xFFFFFFFFu, 1}};
    JuxsimDeviceInfo info = deviceInfo(1, kLength, kLength);
    device_ = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    for (const ModeClass& c : classes) {
        const std::string where = "mode " + std::to_string(c.mode);
        ASSERT_EQ(SetupInterface(0), JUXHID_OK) << where;
        dataCalls = 0;
        const int32_t threadsBefore = countsNow().threads;
        EXPECT_EQ(SetDataCallback(0, c.mode, countData), JUXHID_OK) << where;
        EXPECT_EQ(countsNow().threads, threadsBefore + (c.mode == 0 ? 0 : 1)) << where << ": worker started?";
        for (int n = 1; n <= 2; ++n) {
            deliver(device_, report(kLength, 0, 9));
            if (c.callsForTwoEqualReports >= n) EXPECT_TRUE(eventually([&] { return dataCalls.load() >= n; })) << where;
            else sleepMs(80);
        }
        EXPECT_EQ(dataCalls.load(), c.callsForTwoEqualReports) << where;
        CloseInterface(0);
    }
}

TEST_F(BadInput, VendorIdsThatMatchNoDeviceAnswer102) {
    JuxsimDeviceInfo info = deviceInfo(1, kLength, kLength);
    juxsim_attach(&info);
    for (const uint32_t vendor : {0u, kVendor | 0x10000u, 0xFFFFFFFFu, 0xFFFFu, kVendor + 1}) {
        count_ = 55;
        EXPECT_EQ(EnumerateJUX(vendor, summaries_, &count_), JUXHID_LIST_NO_DEVICE) << "vendor " << vendor;
        EXPECT_EQ(count_, 55) << "vendor " << vendor;
        EXPECT_EQ(GetReadLength(0), -1) << "a failed listing leaves no device listed";
    }
    EXPECT_EQ(list(kVendor), JUXHID_OK);
    EXPECT_EQ(count_, 1);
}

// Each state an index can be in, and the code every function gives there.
TEST_F(BadInput, CallsInEveryStateBeforeAndAfterListingAnswerTheirCodes) {
    uint8_t buffer[kLength];
    auto expectClosed = [&](int32_t index, const std::string& where) {
        EXPECT_EQ(ReadData(index, buffer), JUXHID_READ_NOT_OPEN) << where;
        EXPECT_EQ(ReadLast(index, buffer), JUXHID_LAST_NOT_OPEN) << where;
        EXPECT_EQ(ClearBuffer(index), JUXHID_CLEAR_NOT_OPEN) << where;
        EXPECT_EQ(SetDataCallback(index, 1, countData), JUXHID_CALLBACK_NOT_OPEN) << where;
        EXPECT_EQ(SetErrorCallback(index, ignoreError), JUXHID_CALLBACK_NOT_OPEN) << where;
        EXPECT_EQ(WriteData(index, buffer), JUXHID_WRITE_NOT_OPEN) << where;
        EXPECT_EQ(FastWrite(index, buffer), JUXHID_WRITE_NOT_OPEN) << where;
    };
    JuxsimDeviceInfo info = deviceInfo(1, kLength, kLength);
    EXPECT_EQ(list(), JUXHID_LIST_NO_DEVICE);
    expectNotListedEverywhere(0, false);
    const int32_t first = juxsim_attach(&info);
    JuxsimDeviceInfo inputOnly = deviceInfo(2, kLength, 0);
    juxsim_attach(&inputOnly);
    JuxsimDeviceInfo outputOnly = deviceInfo(3, 0, kLength);
    juxsim_attach(&outputOnly);
    ASSERT_EQ(list(), JUXHID_OK);
    expectClosed(0, "listed, never opened");
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    CloseInterface(0);
    expectClosed(0, "closed");
    // Devices without one side answer that side's code, open or not.
    for (int round = 0; round < 2; ++round) {
        const std::string where = round == 0 ? "never opened" : "open";
        EXPECT_EQ(WriteData(1, buffer), JUXHID_WRITE_NO_OUTPUT) << where;
        EXPECT_EQ(FastWrite(1, buffer), JUXHID_WRITE_NO_OUTPUT) << where;
        EXPECT_EQ(ReadData(2, buffer), JUXHID_READ_NO_INPUT) << where;
        EXPECT_EQ(ReadLast(2, buffer), JUXHID_LAST_NO_INPUT) << where;
        EXPECT_EQ(ClearBuffer(2), JUXHID_CLEAR_NOT_OPEN) << where;
        EXPECT_EQ(SetDataCallback(2, 1, countData), JUXHID_CALLBACK_NOT_OPEN) << where;
        ASSERT_EQ(SetupInterface(1), JUXHID_OK);
        ASSERT_EQ(SetupInterface(2), JUXHID_OK);
    }
    // Gone, then cleaned up.
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    juxsim_detach(first);
    ASSERT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_READ_DEVICE_GONE; }));
    EXPECT_EQ(ReadLast(0, buffer), JUXHID_LAST_DEVICE_GONE);
    EXPECT_EQ(ClearBuffer(0), JUXHID_OK) << "the ring of a gone device can still be emptied";
    CleanupInterface(0);
    expectClosed(0, "cleaned up");
    for (int32_t i = 0; i < 3; ++i) CloseInterface(i);
    // Listed again with fewer devices: the old indices beyond are unlisted.
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(count_, 2);
    expectNotListedEverywhere(2, false);
}

}  // namespace
}  // namespace juxhid::test
