// Device watches on the kernel's own HID stack: uhid devices plugged and
// unplugged while libjuxhid_watch watches, its events timed against the
// moment the kernel created or removed the device.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "juxhid.h"
#include "juxhid_status.h"
#include "juxhid_watch.h"
#include "kernel/uhid_device.h"

namespace juxhid::kernel {
namespace {

using std::chrono::milliseconds;

constexpr uint16_t kVendor = 0x1A2B;
constexpr uint16_t kOtherVendor = 0x0F0F;
constexpr auto kWithinASecond = milliseconds(1000);
constexpr uid_t kUser = 1000;

// Vendor page 0xFF00, usage 1: 8-byte input and output reports, no report IDs.
const Bytes kPlain = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
                      0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02, 0xC0};

// Two top-level collections: 0xFF00/1 with report 1 (8 in, 8 out), 0xFF01/2
// with report 2 (4 in, no output).
const Bytes kTwoCollections = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26,
                               0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02,
                               0x91, 0x02, 0xC0, 0x06, 0x01, 0xFF, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02,
                               0x95, 0x04, 0x09, 0x03, 0x81, 0x02, 0xC0};

struct Seen {
    int32_t kind;
    std::string path;
    uint32_t vendor, product, usagePage, usage, inputLength, outputLength;
    Clock::time_point at;
};

class Events {
public:
    static void JUXHID_CALL onEvent(const JuxhidWatchEvent* event, void* context) {
        auto* self = static_cast<Events*>(context);
        std::lock_guard<std::mutex> hold(self->mutex_);
        self->seen_.push_back({event->Kind, event->Path, event->VendorID, event->ProductID, event->UsagePage,
                               event->Usage, event->InputReportByteLength, event->OutputReportByteLength,
                               Clock::now()});
        self->wake_.notify_all();
    }

    // Waits until `count` events arrived in all; the events so far.
    std::vector<Seen> waitFor(size_t count, Clock::duration limit) {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait_for(hold, limit, [&] { return seen_.size() >= count; });
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Seen> seen_;
};

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void note(const char* format, auto... values) {
    std::printf("[ kernel   ] ");
    std::printf(format, values...);
    std::printf("\n");
    std::fflush(stdout);
}

class KernelWatch : public ::testing::Test {
protected:
    int32_t start(Events& events, uint32_t flags = 0) {
        int32_t id = 0;
        EXPECT_EQ(StartDeviceWatch(kVendor, flags, Events::onEvent, &events, &id), JUXHID_OK);
        return id;
    }
};

TEST_F(KernelWatch, UhidDevicesArriveAndGoWithinASecondOneEventPerCollection) {
    Events events;
    const int32_t id = start(events);
    UhidDevice plain(DeviceIdentity{kVendor, 0x0001, "watched-plain", kPlain});
    UhidDevice composite(DeviceIdentity{kVendor, 0x0003, "watched-composite", kTwoCollections});
    UhidDevice stranger(DeviceIdentity{kOtherVendor, 0x0001, "watched-stranger", kPlain});
    const Clock::time_point plugged = Clock::now();
    ASSERT_TRUE(plain.plug());
    ASSERT_TRUE(composite.plug());
    ASSERT_TRUE(stranger.plug());
    std::vector<Seen> seen = events.waitFor(3, kWithinASecond + milliseconds(500));
    ASSERT_EQ(seen.size(), 3u);
    struct Expected {
        std::string path;
        uint32_t product, usagePage, usage, inputLength, outputLength;
    };
    const Expected arrivals[] = {{plain.node(), 1, 0xFF00, 1, 9, 9},
                                 {composite.node() + "#1", 3, 0xFF00, 1, 9, 9},
                                 {composite.node() + "#2", 3, 0xFF01, 2, 5, 0}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].kind, JUXHID_WATCH_ARRIVED) << i;
        EXPECT_EQ(seen[i].path, arrivals[i].path) << i;
        EXPECT_EQ(seen[i].vendor, kVendor) << i;
        EXPECT_EQ(seen[i].product, arrivals[i].product) << i;
        EXPECT_EQ(seen[i].usagePage, arrivals[i].usagePage) << i;
        EXPECT_EQ(seen[i].usage, arrivals[i].usage) << i;
        EXPECT_EQ(seen[i].inputLength, arrivals[i].inputLength) << i;
        EXPECT_EQ(seen[i].outputLength, arrivals[i].outputLength) << i;
    }
    const double arrivedMs = msBetween(plugged, seen[2].at);
    EXPECT_LT(arrivedMs, 1000.0);

    const Clock::time_point unplugged = Clock::now();
    composite.unplug();
    plain.unplug();
    stranger.unplug();
    seen = events.waitFor(6, kWithinASecond + milliseconds(500));
    ASSERT_EQ(seen.size(), 6u);
    // Each removal carries its arrival's description, in the order the nodes went.
    const Expected* removals[] = {&arrivals[1], &arrivals[2], &arrivals[0]};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[3 + i].kind, JUXHID_WATCH_REMOVED) << i;
        EXPECT_EQ(seen[3 + i].path, removals[i]->path) << i;
        EXPECT_EQ(seen[3 + i].usagePage, removals[i]->usagePage) << i;
    }
    const double removedMs = msBetween(unplugged, seen[5].at);
    EXPECT_LT(removedMs, 1000.0);
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(events.waitFor(7, milliseconds(1)).size(), 6u) << "the other vendor's device was announced";
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
    note("watch: three arrivals %.1f ms after the plugs began, removals %.1f ms after the unplugs began",
         arrivedMs, removedMs);
}

TEST_F(KernelWatch, PresentDevicesArriveFirstAndOnlyOnce) {
    UhidDevice early(DeviceIdentity{kVendor, 0x0001, "watched-early", kPlain});
    ASSERT_TRUE(early.plug());
    Events events;
    const int32_t id = start(events, JUXHID_WATCH_PRESENT);
    std::vector<Seen> seen = events.waitFor(1, kWithinASecond);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, early.node());
    UhidDevice late(DeviceIdentity{kVendor, 0x0002, "watched-late", kPlain});
    ASSERT_TRUE(late.plug());
    seen = events.waitFor(2, kWithinASecond);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].path, late.node());
    EXPECT_EQ(seen[1].product, 2u);
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(events.waitFor(3, milliseconds(1)).size(), 2u);
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
}

TEST_F(KernelWatch, WatchingLeavesAnOpenInterfaceAndTheTableAlone) {
    UhidDevice held(DeviceIdentity{kVendor, 0x0001, "watched-held", kPlain});
    ASSERT_TRUE(held.plug());
    DeviceSummary devices[JUXHID_MAX_DEVICES] = {};
    int32_t count = 0;
    ASSERT_EQ(EnumerateJUX(kVendor, devices, &count), JUXHID_OK);
    ASSERT_EQ(count, 1);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    Events events;
    const int32_t id = start(events, JUXHID_WATCH_PRESENT);
    {
        UhidDevice passing(DeviceIdentity{kVendor, 0x0002, "watched-passing", kPlain});
        ASSERT_TRUE(passing.plug());
        ASSERT_EQ(events.waitFor(2, kWithinASecond).size(), 2u);
    }
    ASSERT_EQ(events.waitFor(3, kWithinASecond).size(), 3u);
    const Bytes report = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(held.send(report));
    Bytes read(9);
    int32_t status = JUXHID_READ_EMPTY;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (status == JUXHID_READ_EMPTY && Clock::now() < deadline) {
        status = ReadData(0, read.data());
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_EQ(status, JUXHID_OK);
    EXPECT_EQ(read, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(GetReadLength(0), 9);
    EXPECT_EQ(GetReadLength(1), -1);
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
    CloseInterface(0);
}

// As udev does: the kernel makes the node root's alone, and only later is it
// given to the user. A watch run by that user announces the device only once
// it can open the node. The watch runs in a child process as the user.
TEST_F(KernelWatch, AnArrivalWaitsUntilTheUserCanOpenTheNode) {
    int ready[2];
    int report[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kUser) != 0 || ::setuid(kUser) != 0) ::_exit(2);
        Events events;
        int32_t id = 0;
        if (StartDeviceWatch(kVendor, 0, Events::onEvent, &events, &id) != JUXHID_OK) ::_exit(3);
        (void)!::write(ready[1], "r", 1);
        const std::vector<Seen> seen = events.waitFor(1, std::chrono::seconds(5));
        char answer = 'n';  // no event
        if (!seen.empty()) {
            const int fd = ::open(seen[0].path.c_str(), O_RDWR | O_CLOEXEC);
            answer = fd >= 0 ? 'o' : 'd';  // opens, denied
            if (fd >= 0) ::close(fd);
        }
        (void)!::write(report[1], &answer, 1);
        StopDeviceWatch(id);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    UhidDevice guarded(DeviceIdentity{kVendor, 0x0001, "watched-guarded", kPlain});
    ASSERT_TRUE(guarded.plug());
    struct stat status {};
    ASSERT_EQ(::stat(guarded.node().c_str(), &status), 0);
    const unsigned kernelMode = status.st_mode & 0777;
    ASSERT_EQ(::chmod(guarded.node().c_str(), 0600), 0);
    std::this_thread::sleep_for(milliseconds(300));
    const Clock::time_point granted = Clock::now();
    ASSERT_EQ(::chmod(guarded.node().c_str(), 0666), 0);
    ASSERT_EQ(::read(report[0], &byte, 1), 1);
    const double afterGrantMs = msBetween(granted, Clock::now());
    int exitStatus = 0;
    ASSERT_EQ(::waitpid(child, &exitStatus, 0), child);
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << exitStatus;
    EXPECT_EQ(byte, 'o') << "n: no arrival within 5 s; d: announced while the user could not open it";
    EXPECT_LT(afterGrantMs, 1000.0);
    for (int fd : {ready[0], ready[1], report[0], report[1]}) ::close(fd);
    note("watch as a user: the kernel made the node %03o; the arrival came %.1f ms after it was opened to "
         "the user",
         kernelMode, afterGrantMs);
}

}  // namespace
}  // namespace juxhid::kernel
