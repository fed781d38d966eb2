// Ground for tests of the simulated bus on its own: the platform calls the
// library would make, made directly. Every test starts on an empty bus and
// must give back everything it obtained.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "juxhid_sim.h"
#include "platform/platform.h"

namespace juxhid::test {

inline JuxsimDeviceInfo busDevice(uint32_t product, uint32_t inputLength = 8,
                                  uint32_t outputLength = 8, const char* path = nullptr) {
    JuxsimDeviceInfo info{};
    info.vendorId = 0x1A2B;
    info.productId = product;
    info.usagePage = 0xFF00;
    info.usage = 1 + product;
    info.inputReportLength = inputLength;
    info.outputReportLength = outputLength;
    info.path = path;
    return info;
}

inline bool sameCounts(const JuxsimCounts& a, const JuxsimCounts& b) {
    return a.deviceLists == b.deviceLists && a.handles == b.handles && a.preparsed == b.preparsed &&
           a.locks == b.locks && a.signals == b.signals && a.threads == b.threads &&
           a.timers == b.timers && a.allocations == b.allocations;
}

inline std::string describeCounts(const JuxsimCounts& c) {
    return "lists=" + std::to_string(c.deviceLists) + " handles=" + std::to_string(c.handles) +
           " preparsed=" + std::to_string(c.preparsed) + " locks=" + std::to_string(c.locks) +
           " signals=" + std::to_string(c.signals) + " threads=" + std::to_string(c.threads) +
           " timers=" + std::to_string(c.timers) + " allocations=" + std::to_string(c.allocations);
}

inline JuxsimCounts currentCounts() {
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    return counts;
}

inline bool eventually(const std::function<bool()>& condition, int limitMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline JuxsimFault fault(JuxsimCall call, uint32_t error = 31, int32_t count = 1,
                         JuxsimThread thread = JUXSIM_THREAD_ANY, int32_t device = 0, int32_t skip = 0,
                         uint32_t shortCount = 0) {
    return JuxsimFault{call, thread, device, skip, count, error, shortCount};
}

inline int32_t arm(const JuxsimFault& f) { return juxsim_fault_arm(&f); }

class BusTest : public ::testing::Test {
protected:
    void SetUp() override {
        juxsim_reset();
        baseline_ = currentCounts();
    }

    void TearDown() override {
        juxsim_fault_clear();
        JuxsimCounts now{};
        const bool clean = eventually([&] {
            now = currentCounts();
            return sameCounts(now, baseline_);
        });
        EXPECT_TRUE(clean) << "left behind: " << describeCounts(now) << " (before: "
                           << describeCounts(baseline_) << ")";
        juxsim_reset();
    }

    int32_t attach(const JuxsimDeviceInfo& info) {
        const int32_t id = juxsim_attach(&info);
        EXPECT_GT(id, 0);
        return id;
    }

    // The path the bus gives the device at that list position.
    static std::string pathAt(platform::DeviceList* list, uint32_t member) {
        platform::InterfaceRef ref{};
        uint32_t error = 0;
        if (!platform::deviceListMember(list, member, &ref, &error)) return {};
        uint32_t size = 0;
        platform::deviceDetailSize(list, ref, &size, &error);
        std::vector<char> record(size);
        if (!platform::deviceDetailFetch(list, ref, record.data(), size, &error)) return {};
        return platform::deviceDetailPath(record.data());
    }

    static platform::Device* open(const std::string& path, platform::Access access,
                                  uint32_t* error = nullptr) {
        uint32_t ignored = 0;
        return platform::deviceOpen(path.c_str(), access, error != nullptr ? error : &ignored);
    }

    static int32_t deliver(int32_t device, std::vector<uint8_t> bytes) {
        return juxsim_deliver(device, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    JuxsimCounts baseline_{};
};

}  // namespace juxhid::test
