// The simulated-bus library as a host loads and unloads it with dlopen and
// dlclose: unloading right after a callback closed its own interface, or with
// interfaces open and reports streaming in, must never leave a thread running
// the unmapped library's code.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <chrono>
#include <thread>

#include "juxhid.h"
#include "juxhid_sim.h"

// The simulated bus keeps its devices, faults and counts in objects that live
// as long as the process (a host's tests use them across unloads of the
// library), so unloading the simulated library leaves them behind by design.
// Leaks of the library proper at unload are the hidraw exports test's
// business, which unloads the real library.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "detect_leaks=0";
}

namespace {

struct Library {
    void* handle = nullptr;
    template <typename Function>
    Function get(const char* name) {
        return reinterpret_cast<Function>(::dlsym(handle, name));
    }
};

std::atomic<bool> callbackReturning{false};
decltype(&CloseInterface) closeOfLoaded = nullptr;

// Closes its own interface, then returns into the library's worker, a little
// later than the host starts to unload.
int32_t JUXHID_CALL closeOwnInterface(uint8_t*) {
    closeOfLoaded(0);
    callbackReturning = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 1;
}

int32_t JUXHID_CALL keepGoing(uint8_t*) { return 1; }

// Loads the library, opens `interfaces` devices with data callbacks (the
// first closing its own interface), streams reports, and unloads as soon as
// that callback is on its way back.
void loadUseAndUnload(int interfaces) {
    Library lib{::dlopen(JUXHID_SIM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)};
    ASSERT_NE(lib.handle, nullptr) << ::dlerror();
    auto attach = lib.get<decltype(&juxsim_attach)>("juxsim_attach");
    auto deliver = lib.get<decltype(&juxsim_deliver)>("juxsim_deliver");
    auto enumerate = lib.get<decltype(&EnumerateJUX)>("EnumerateJUX");
    auto setup = lib.get<decltype(&SetupInterface)>("SetupInterface");
    auto setData = lib.get<decltype(&SetDataCallback)>("SetDataCallback");
    closeOfLoaded = lib.get<decltype(&CloseInterface)>("CloseInterface");
    ASSERT_TRUE(attach && deliver && enumerate && setup && setData && closeOfLoaded);

    std::vector<int32_t> devices;
    for (int i = 0; i < interfaces; ++i) {
        JuxsimDeviceInfo info{0x1A2B, static_cast<uint32_t>(i + 1), 0xFF00, 1, 8, 8, nullptr};
        devices.push_back(attach(&info));
    }
    DeviceSummary rows[JUXHID_MAX_DEVICES];
    int32_t count = 0;
    ASSERT_EQ(enumerate(0x1A2B, rows, &count), 0);
    for (int32_t i = 0; i < interfaces; ++i) {
        ASSERT_EQ(setup(i), 0);
        ASSERT_EQ(setData(i, 1, i == 0 ? closeOwnInterface : keepGoing), 0);
    }
    callbackReturning = false;
    const uint8_t report[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!callbackReturning && std::chrono::steady_clock::now() < until) {
        for (const int32_t id : devices) deliver(id, report, sizeof report);
        std::this_thread::yield();
    }
    ASSERT_TRUE(callbackReturning.load()) << "the callback never ran";
    EXPECT_EQ(::dlclose(lib.handle), 0);
}

// A recording ten seconds long: a report every 10 ms.
std::string writeLongRecording() {
    const std::string path = ::testing::TempDir() + "dlclose_replay.txt";
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return "";
    std::fprintf(file, "juxhid-recording 1\nvendor 0x1A2B\nproduct 0x0001\nusage-page 0xFF00\n"
                       "usage 0x0001\ninput-length 8\noutput-length 8\n");
    for (int n = 0; n < 1000; ++n) std::fprintf(file, "%d 00%02x000000000000\n", n * 10000, n % 256);
    std::fclose(file);
    return path;
}

TEST(Dlclose, WithAReplayStillPlaying) {
    const std::string recording = writeLongRecording();
    ASSERT_FALSE(recording.empty());
    for (int round = 0; round < 5; ++round) {
        Library lib{::dlopen(JUXHID_SIM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)};
        ASSERT_NE(lib.handle, nullptr) << ::dlerror();
        auto start = lib.get<decltype(&juxsim_replay_start)>("juxsim_replay_start");
        auto delivered = lib.get<decltype(&juxsim_replay_delivered)>("juxsim_replay_delivered");
        auto enumerate = lib.get<decltype(&EnumerateJUX)>("EnumerateJUX");
        auto setup = lib.get<decltype(&SetupInterface)>("SetupInterface");
        ASSERT_TRUE(start && delivered && enumerate && setup);
        JuxsimReplay* replay = start(recording.c_str(), 1.0);
        ASSERT_NE(replay, nullptr);
        DeviceSummary rows[JUXHID_MAX_DEVICES];
        int32_t count = 0;
        ASSERT_EQ(enumerate(0x1A2B, rows, &count), 0);
        ASSERT_EQ(setup(0), 0);  // the replay's clock starts with the opening
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (delivered(replay) < 2 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(delivered(replay), 2) << "the replay never played";
        // Unloaded without freeing the replay: its thread must not outlive the
        // code, which it would find unmapped at its next report.
        EXPECT_EQ(::dlclose(lib.handle), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

TEST(Dlclose, RightAfterACallbackClosedItsOwnInterface) {
    for (int round = 0; round < 20; ++round) loadUseAndUnload(1);
}

TEST(Dlclose, WithInterfacesOpenAndReportsStreaming) {
    for (int round = 0; round < 20; ++round) loadUseAndUnload(3);
}

}  // namespace
