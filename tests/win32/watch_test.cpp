// juxhid_watch.dll on the platform's own device notifications: its window
// threads start, register for the HID interface class and end when the
// watches stop, and a host that pumps no messages is still served.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "juxhid_status.h"
#include "juxhid_watch.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_events{0};

void JUXHID_CALL countEvent(const JuxhidWatchEvent* event, void*) {
    if (event != nullptr && event->Path != nullptr) g_events.fetch_add(1);
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// No device of this vendor exists here: whatever the machine has, a watch
// for it must stay silent.
constexpr uint32_t kAbsentVendor = 0xFFFE;

TEST(Win32Watch, WatchesStartRegisteredAndStopWithinTheirBound) {
    std::vector<int32_t> ids;
    for (uint32_t flags : {0u, JUXHID_WATCH_PRESENT}) {
        for (int i = 0; i < JUXHID_MAX_WATCHES / 2; ++i) {
            int32_t id = 0;
            ASSERT_EQ(StartDeviceWatch(kAbsentVendor, flags, countEvent, nullptr, &id), JUXHID_OK);
            ids.push_back(id);
        }
    }
    int32_t extra = 0;
    EXPECT_EQ(StartDeviceWatch(kAbsentVendor, 0, countEvent, nullptr, &extra), JUXHID_WATCH_TOO_MANY);
    for (int32_t id : ids) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
        EXPECT_LT(msSince(start), 2000.0);
        EXPECT_EQ(StopDeviceWatch(id), JUXHID_WATCH_NOT_RUNNING);
    }
    EXPECT_EQ(g_events.load(), 0);
}

}  // namespace
