// Unloading the library while interfaces are open, callbacks run (and call
// back into the library), reports stream in and a pacing chain is on:
// everything is given back, no callback runs after the unload, and a new
// load starts a library that works.
#include <atomic>
#include <chrono>

#include "frame/lifecycle.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

constexpr uint32_t kLength = 8;
constexpr int kInterfaces = 3;

std::atomic<int> callbacksRunning{0};
std::atomic<int> callbackCalls{0};

// A slow callback that also polls its own interface, as hosts do.
template <int32_t kIndex>
int32_t JUXHID_CALL slowData(uint8_t*) {
    callbacksRunning.fetch_add(1);
    callbackCalls.fetch_add(1);
    uint8_t buffer[kLength];
    ReadData(kIndex, buffer);
    sleepMs(15);
    callbacksRunning.fetch_sub(1);
    return 1;
}
constexpr JuxhidDataCallback kSlowData[kInterfaces] = {slowData<0>, slowData<1>, slowData<2>};
int32_t JUXHID_CALL ignoreError(intptr_t) { return 0; }

// Interface 1's callback, held inside until the unload has begun, then
// polling interface 0 for a while: every answer must be one an open
// interface gives.
std::atomic<bool> holdInCallback{false};
std::atomic<bool> heldInCallback{false};
std::atomic<bool> unloadBegun{false};
std::atomic<int32_t> pollsOfTheOther{0};
std::atomic<int32_t> closedAnswer{0};

int32_t JUXHID_CALL pollOtherDuringUnload(uint8_t*) {
    if (!holdInCallback.exchange(false)) return 1;
    heldInCallback = true;
    while (!unloadBegun) sleepMs(1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    uint8_t buffer[kLength];
    while (std::chrono::steady_clock::now() < until) {
        const int32_t code = ReadData(0, buffer);
        if (code != JUXHID_OK && code != JUXHID_READ_EMPTY && closedAnswer == 0) closedAnswer = code;
        pollsOfTheOther.fetch_add(1);
    }
    return 1;
}

class Unload : public SimTest {
protected:
    void TearDown() override {
        stop_ = true;
        if (producer_.joinable()) producer_.join();
        SimTest::TearDown();
    }

    void openStreamingInterfaces() {
        for (uint32_t p = 1; p <= kInterfaces; ++p) {
            JuxsimDeviceInfo info = deviceInfo(p, kLength, kLength);
            devices_.push_back(juxsim_attach(&info));
        }
        ASSERT_EQ(list(), JUXHID_OK);
        for (int32_t i = 0; i < kInterfaces; ++i) {
            ASSERT_EQ(SetupInterface(i), JUXHID_OK);
            ASSERT_EQ(SetDataCallback(i, 1, kSlowData[i]), JUXHID_OK);
            ASSERT_EQ(SetErrorCallback(i, ignoreError), JUXHID_OK);
        }
        producer_ = std::thread([this] {
            for (uint8_t n = 0; !stop_; ++n) {
                for (const int32_t id : devices_) deliver(id, report(kLength, 0, n));
                sleepMs(1);
            }
        });
        // Writes slow enough that the unload finds the write lock held.
        juxsim_set_write_delay(devices_[0], 30);
        const std::vector<uint8_t> out = report(kLength, 0, 1);
        ASSERT_EQ(WriteData(0, out.data()), JUXHID_OK);
        for (int32_t i = 0; i < kInterfaces; ++i) EXPECT_EQ(WriteData(i, out.data()), JUXHID_OK);
        ASSERT_TRUE(eventually([] { return callbacksRunning.load() > 0; })) << "no callback is running";
    }

    std::vector<int32_t> devices_;
    std::thread producer_;
    std::atomic<bool> stop_{false};
};

TEST_F(Unload, WhileCallbacksRunGivesEverythingBackAndLoadStartsAfresh) {
    openStreamingInterfaces();
    frame::libraryUnload();
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(describe(counts), describe(JuxsimCounts{})) << "the unloaded library holds nothing, its lock included";
    EXPECT_EQ(callbacksRunning.load(), 0) << "a callback runs after the unload";
    const int calls = callbackCalls.load();
    sleepMs(100);
    EXPECT_EQ(callbackCalls.load(), calls) << "callbacks went on after the unload";
    stop_ = true;
    producer_.join();

    frame::libraryLoad();
    juxsim_counts(&counts);
    EXPECT_TRUE(nothingOpen(counts)) << "a new load holds what the first did: " << describe(counts);
    juxsim_reset();
    JuxsimDeviceInfo info = deviceInfo(9, kLength, kLength);
    const int32_t device = juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    deliver(device, report(kLength, 0, 0x33));
    uint8_t buffer[kLength] = {};
    EXPECT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_OK; }));
    EXPECT_EQ(buffer[1], 0x33);
    // The pacing chain works after the reload: a direct write and a queued one.
    EXPECT_EQ(WriteData(0, buffer), JUXHID_OK);
    EXPECT_EQ(WriteData(0, buffer), JUXHID_OK);
    EXPECT_TRUE(eventually([&] { return juxsim_output_count(device) == 2; })) << "the queued report never went out";
}

TEST_F(Unload, KeepsEveryInterfaceOpenUntilNoCallbackCanPollIt) {
    for (uint32_t p = 1; p <= 2; ++p) {
        JuxsimDeviceInfo info = deviceInfo(p, kLength, kLength);
        devices_.push_back(juxsim_attach(&info));
    }
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    ASSERT_EQ(SetupInterface(1), JUXHID_OK);
    ASSERT_EQ(SetDataCallback(1, 1, pollOtherDuringUnload), JUXHID_OK);
    holdInCallback = true;
    deliver(devices_[0], report(kLength, 0, 7));
    deliver(devices_[1], report(kLength, 0, 1));
    ASSERT_TRUE(eventually([] { return heldInCallback.load(); })) << "the callback never ran";

    unloadBegun = true;
    frame::libraryUnload();
    EXPECT_GT(pollsOfTheOther.load(), 0);
    EXPECT_EQ(closedAnswer.load(), 0) << "interface 0 went while interface 1's callback could still poll it";
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(describe(counts), describe(JuxsimCounts{}));
    frame::libraryLoad();
}

TEST_F(Unload, WithNothingOpenAndAgainRightAfterALoad) {
    frame::libraryUnload();
    frame::libraryLoad();
    frame::libraryUnload();
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(describe(counts), describe(JuxsimCounts{}));
    frame::libraryLoad();
    EXPECT_EQ(list(), JUXHID_LIST_NO_DEVICE);
}

}  // namespace
}  // namespace juxhid::test
