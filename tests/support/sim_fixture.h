// Shared ground for tests that drive the library through its public
// functions over the simulated bus: every test starts on an empty bus and
// ends by closing every interface and proving that nothing is left open.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "juxhid.h"
#include "juxhid_sim.h"
#include "juxhid_status.h"

namespace juxhid::test {

inline constexpr uint32_t kVendor = 0x1A2B;

inline JuxsimDeviceInfo deviceInfo(uint32_t product, uint32_t inputLength, uint32_t outputLength,
                                   uint32_t vendor = kVendor) {
    JuxsimDeviceInfo info{};
    info.vendorId = vendor;
    info.productId = product;
    info.usagePage = 0xFF00;
    info.usage = 1;
    info.inputReportLength = inputLength;
    info.outputReportLength = outputLength;
    return info;
}

inline std::string describe(const JuxsimCounts& c) {
    return "lists=" + std::to_string(c.deviceLists) + " handles=" + std::to_string(c.handles) +
           " preparsed=" + std::to_string(c.preparsed) + " locks=" + std::to_string(c.locks) +
           " signals=" + std::to_string(c.signals) + " threads=" + std::to_string(c.threads) +
           " timers=" + std::to_string(c.timers) + " allocations=" + std::to_string(c.allocations);
}

// What the loaded library holds with no interface open (its writeLock),
// taken when a test starts.
inline JuxsimCounts baseline{};

inline bool nothingOpen(const JuxsimCounts& c) {
    return c.deviceLists == baseline.deviceLists && c.handles == baseline.handles &&
           c.preparsed == baseline.preparsed && c.locks == baseline.locks &&
           c.signals == baseline.signals && c.threads == baseline.threads &&
           c.timers == baseline.timers && c.allocations == baseline.allocations;
}

// Polls `condition` until it holds or `limit` passes.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

inline double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        juxsim_reset();
        juxsim_counts(&baseline);
    }

    void TearDown() override {
        juxsim_fault_clear();
        for (int32_t index = 0; index < JUXHID_MAX_DEVICES; ++index) CloseInterface(index);
        // Pacing ticks and workers that a callback orphaned end on their own.
        JuxsimCounts counts{};
        const bool clean = eventually([&] {
            juxsim_counts(&counts);
            return nothingOpen(counts);
        });
        EXPECT_TRUE(clean) << "left open after closing every interface: " << describe(counts);
        juxsim_reset();
    }

    // Attaches the devices and lists them; answers the listing status.
    int32_t list(uint32_t vendor = kVendor) {
        count_ = -1;
        return EnumerateJUX(vendor, summaries_, &count_);
    }

    // Attaches one device, lists it and opens it at index 0.
    int32_t attachAndOpen(uint32_t inputLength, uint32_t outputLength) {
        JuxsimDeviceInfo info = deviceInfo(0x100, inputLength, outputLength);
        device_ = juxsim_attach(&info);
        EXPECT_GT(device_, 0);
        EXPECT_EQ(list(), JUXHID_OK);
        return SetupInterface(0);
    }

    static std::vector<uint8_t> report(uint32_t length, uint8_t first, uint8_t fill) {
        std::vector<uint8_t> bytes(length, fill);
        if (!bytes.empty()) bytes[0] = first;
        return bytes;
    }

    static int32_t deliver(int32_t device, const std::vector<uint8_t>& bytes) {
        return juxsim_deliver(device, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    static int32_t armFault(int32_t call, uint32_t error, int32_t count = 1, int32_t thread = 0,
                            int32_t device = 0, int32_t skip = 0, uint32_t shortCount = 0) {
        JuxsimFault fault{};
        fault.call = call;
        fault.thread = thread;
        fault.device = device;
        fault.skip = skip;
        fault.count = count;
        fault.error = error;
        fault.shortCount = shortCount;
        return juxsim_fault_arm(&fault);
    }

    DeviceSummary summaries_[JUXHID_MAX_DEVICES]{};
    int32_t count_ = -1;
    int32_t device_ = 0;
};

}  // namespace juxhid::test
