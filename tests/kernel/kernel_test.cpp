// The Linux library against the kernel's own HID stack: devices played
// through /dev/uhid, served by the HID core, hid-generic and hidraw, and
// driven through the thirteen functions only. Runs inside the test guest
// (tests/kernel/init), as root; one scenario re-runs this program as an
// ordinary user.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "juxhid.h"
#include "juxhid_status.h"
#include "kernel/uhid_device.h"

namespace juxhid::kernel {
namespace {

using std::chrono::milliseconds;

constexpr uint16_t kVendor = 0x1A2B;
constexpr uint16_t kOtherVendor = 0x0F0F;
constexpr uint16_t kBusBluetooth = 0x05;
constexpr auto kGenerous = std::chrono::seconds(10);
constexpr uid_t kUser = 1000;
constexpr char kOpenAsUser[] = "--open-as-user";

// Vendor page 0xFF00, usage 1: 8-byte input and output reports, no report IDs.
const Bytes kPlain = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
                      0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02, 0xC0};

// Two top-level collections. 0xFF00/1 owns report 1 (8 bytes in, 8 out);
// 0xFF01/2 owns input reports 2 (4 bytes) and 3 (16 bytes) and output report
// 3 (2 bytes).
const Bytes kTwoCollections = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                    // page 0xFF00, usage 1, application
    0x85, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,        //   report 1, bytes
    0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02,  //   8 in, 8 out
    0xC0,                                                        //
    0x06, 0x01, 0xFF, 0x09, 0x02, 0xA1, 0x01,                    // page 0xFF01, usage 2, application
    0x85, 0x02, 0x95, 0x04, 0x09, 0x03, 0x81, 0x02,              //   report 2: 4 in
    0x85, 0x03, 0x95, 0x10, 0x09, 0x04, 0x81, 0x02,              //   report 3: 16 in,
    0x95, 0x02, 0x09, 0x05, 0x91, 0x02,                          //             2 out
    0xC0};

DeviceIdentity plainDevice(const std::string& uniq, uint16_t vendorId = kVendor, uint16_t productId = 0x0001) {
    return DeviceIdentity{vendorId, productId, uniq, kPlain};
}

// A plain device's report numbered `sequence`: the number in its first two
// bytes, the rest derived from it so that every byte is checked.
Bytes numbered(uint32_t sequence) {
    Bytes report(8);
    report[0] = static_cast<uint8_t>(sequence);
    report[1] = static_cast<uint8_t>(sequence >> 8);
    for (size_t at = 2; at < report.size(); ++at) report[at] = static_cast<uint8_t>(sequence * 7 + at);
    return report;
}

// What ReadData hands out for it: the report-ID byte 0 in front.
Bytes asRead(const Bytes& report) {
    Bytes read(report.size() + 1, 0x00);
    std::copy(report.begin(), report.end(), read.begin() + 1);
    return read;
}

uint32_t sequenceOf(const Bytes& read) { return read[1] | (uint32_t{read[2]} << 8); }

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

size_t entriesIn(const char* directory) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
    return count;
}

std::vector<DeviceSummary> list(uint32_t vendorId, int32_t* status = nullptr) {
    DeviceSummary devices[JUXHID_MAX_DEVICES] = {};
    int32_t count = -1;
    const int32_t result = EnumerateJUX(vendorId, devices, &count);
    if (status != nullptr) *status = result;
    if (result != JUXHID_OK) return {};
    return std::vector<DeviceSummary>(devices, devices + count);
}

// The next unread report of `index`; empty when none came in time.
Bytes nextReport(int32_t index, Clock::duration limit = kGenerous) {
    Bytes report(static_cast<size_t>(GetReadLength(index)));
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        const int32_t status = ReadData(index, report.data());
        if (status == JUXHID_OK) return report;
        if (status != JUXHID_READ_EMPTY) {
            ADD_FAILURE() << "ReadData(" << index << ") answered " << status;
            break;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return {};
}

// Waits until ReadLast shows `wanted` as the newest stored report.
bool newestIs(int32_t index, const Bytes& wanted) {
    Bytes newest(wanted.size());
    const auto deadline = Clock::now() + kGenerous;
    while (Clock::now() < deadline) {
        if (ReadLast(index, newest.data()) == JUXHID_OK && newest == wanted) return true;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return false;
}

void note(const char* format, auto... values) {
    std::printf("[ kernel   ] ");
    std::printf(format, values...);
    std::printf("\n");
    std::fflush(stdout);
}

class KernelStack : public ::testing::Test {
protected:
    void TearDown() override {
        for (int32_t index = 0; index < JUXHID_MAX_DEVICES; ++index) CloseInterface(index);
    }
};

// ---------------------------------------------------------------- listing

TEST_F(KernelStack, ListsTheVendorsDevicesOneRowPerCollectionWithWindowsLengths) {
    UhidDevice plain(plainDevice("plain"));
    UhidDevice stranger(plainDevice("stranger", kOtherVendor, 0x0002));
    UhidDevice composite(DeviceIdentity{kVendor, 0x0003, "composite", kTwoCollections});
    UhidDevice wireless(DeviceIdentity{kVendor, 0x0004, "wireless", kPlain, kBusBluetooth});
    for (UhidDevice* device : {&plain, &stranger, &composite, &wireless}) ASSERT_TRUE(device->plug());
    note("nodes: %s (plain), %s (other vendor), %s (two collections), %s (Bluetooth)", plain.node().c_str(),
         stranger.node().c_str(), composite.node().c_str(), wireless.node().c_str());

    const std::vector<DeviceSummary> devices = list(kVendor);
    ASSERT_EQ(devices.size(), 4u);
    const uint32_t expected[4][3] = {
        {0x0001, 0xFF00, 0x01}, {0x0003, 0xFF00, 0x01}, {0x0003, 0xFF01, 0x02}, {0x0004, 0xFF00, 0x01}};
    const int32_t lengths[4][2] = {{9, 9}, {9, 9}, {17, 3}, {9, 9}};
    for (int32_t row = 0; row < 4; ++row) {
        const DeviceSummary& device = devices[static_cast<size_t>(row)];
        EXPECT_EQ(device.ProductID, expected[row][0]) << "row " << row;
        EXPECT_EQ(device.UsagePage, expected[row][1]) << "row " << row;
        EXPECT_EQ(device.Usage, expected[row][2]) << "row " << row;
        EXPECT_EQ(device.Index, row);
        EXPECT_EQ(GetReadLength(row), lengths[row][0]) << "row " << row;
        EXPECT_EQ(GetWriteLength(row), lengths[row][1]) << "row " << row;
    }
    const std::vector<DeviceSummary> others = list(kOtherVendor);
    ASSERT_EQ(others.size(), 1u);
    EXPECT_EQ(others[0].ProductID, 0x0002u);
    int32_t status = 0;
    EXPECT_TRUE(list(0x4444, &status).empty());
    EXPECT_EQ(status, JUXHID_LIST_NO_DEVICE);
}

TEST_F(KernelStack, EachCollectionsRowReceivesOnlyItsOwnReports) {
    UhidDevice composite(DeviceIdentity{kVendor, 0x0003, "composite", kTwoCollections});
    ASSERT_TRUE(composite.plug());
    ASSERT_EQ(list(kVendor).size(), 2u);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    ASSERT_EQ(SetupInterface(1), JUXHID_OK);

    const Bytes first = {0x01, 1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes shortOne = {0x02, 0xA1, 0xA2, 0xA3, 0xA4};
    Bytes longOne = {0x03};
    for (uint8_t at = 0; at < 16; ++at) longOne.push_back(static_cast<uint8_t>(0xB0 + at));
    const Bytes last = {0x01, 9, 9, 9, 9, 9, 9, 9, 9};
    const Bytes undefined = {0x09, 0xEE, 0xEE};  // a report ID the descriptor does not define
    for (const Bytes& report : {first, undefined, shortOne, longOne, last}) ASSERT_TRUE(composite.send(report));

    EXPECT_EQ(nextReport(0), first);
    EXPECT_EQ(nextReport(0), last);
    Bytes padded = shortOne;
    padded.resize(17, 0x00);  // as long as the collection's longest input report
    EXPECT_EQ(nextReport(1), padded);
    EXPECT_EQ(nextReport(1), longOne);
    Bytes none(17);
    EXPECT_EQ(ReadData(0, none.data()), JUXHID_READ_EMPTY);
    EXPECT_EQ(ReadData(1, none.data()), JUXHID_READ_EMPTY);
}

// ---------------------------------------------------------------- reading

std::mutex g_deliveredMutex;
std::vector<Bytes> g_delivered;

int32_t JUXHID_CALL keepDelivered(uint8_t* report) {
    std::lock_guard<std::mutex> hold(g_deliveredMutex);
    g_delivered.emplace_back(report, report + 8);
    return 1;
}

std::vector<Bytes> delivered() {
    std::lock_guard<std::mutex> hold(g_deliveredMutex);
    return g_delivered;
}

void forgetDelivered() {
    std::lock_guard<std::mutex> hold(g_deliveredMutex);
    g_delivered.clear();
}

bool deliveredEndsWith(const Bytes& report) {
    const auto deadline = Clock::now() + kGenerous;
    while (Clock::now() < deadline) {
        const std::vector<Bytes> so_far = delivered();
        if (!so_far.empty() && so_far.back() == report) return true;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return false;
}

// Reports a device sends now and then: callbacks in both modes, the newest
// through ReadLast, and every one of them, in order, through ReadData.
TEST_F(KernelStack, ReadDataReadLastAndBothCallbackModesSeeWhatTheDeviceSent) {
    UhidDevice device(plainDevice("callbacks"));
    ASSERT_TRUE(device.plug());
    ASSERT_EQ(list(kVendor).size(), 1u);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    forgetDelivered();
    ASSERT_EQ(SetDataCallback(0, 1, keepDelivered), JUXHID_OK);

    std::vector<Bytes> sent;
    auto sendSpaced = [&](const Bytes& report) {
        ASSERT_TRUE(device.send(report));
        sent.push_back(report);
        std::this_thread::sleep_for(milliseconds(30));
    };
    for (uint32_t sequence = 0; sequence < 5; ++sequence) sendSpaced(numbered(sequence));
    ASSERT_TRUE(deliveredEndsWith(numbered(4)));
    std::vector<Bytes> everyWakeUp = delivered();
    for (size_t at = 1; at < everyWakeUp.size(); ++at)
        EXPECT_LT(everyWakeUp[at - 1][0], everyWakeUp[at][0]) << "delivered out of order";

    // The same report again and again: every wake-up still delivers it.
    forgetDelivered();
    for (int repeat = 0; repeat < 5; ++repeat) sendSpaced(numbered(5));
    ASSERT_TRUE(deliveredEndsWith(numbered(5)));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_GE(delivered().size(), 2u);
    const size_t repeatsDelivered = delivered().size();

    // Changed-only: a repeated report once, then the next different one.
    ASSERT_EQ(SetDataCallback(0, 2, keepDelivered), JUXHID_OK);
    forgetDelivered();
    for (int repeat = 0; repeat < 5; ++repeat) sendSpaced(numbered(6));
    sendSpaced(numbered(7));
    ASSERT_TRUE(deliveredEndsWith(numbered(7)));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(delivered(), (std::vector<Bytes>{numbered(6), numbered(7)}));
    ASSERT_EQ(SetDataCallback(0, 0, nullptr), JUXHID_OK);

    Bytes newest(9);
    ASSERT_EQ(ReadLast(0, newest.data()), JUXHID_OK);
    EXPECT_EQ(newest, asRead(numbered(7)));
    for (const Bytes& report : sent) ASSERT_EQ(nextReport(0), asRead(report));
    EXPECT_EQ(ReadData(0, newest.data()), JUXHID_READ_EMPTY);
    note("callbacks: %zu distinct reports, %zu deliveries of 5 repeats in every-wake-up mode, "
         "2 in changed-only mode; %zu reports read in order",
         everyWakeUp.size(), repeatsDelivered, sent.size());
}

// A device's pace: a report, a short pause, the next. Nothing is lost on
// the way: the reader keeps up with the kernel's queue and the caller with
// the ring.
TEST_F(KernelStack, ThousandsOfReportsAtADevicesPaceAllArriveInOrder) {
    constexpr uint32_t kReports = 3000;
    constexpr auto kPause = std::chrono::microseconds(500);
    UhidDevice device(plainDevice("paced"));
    ASSERT_TRUE(device.plug());
    ASSERT_EQ(list(kVendor).size(), 1u);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);

    auto taken = std::async(std::launch::async, [&] {
        std::vector<uint32_t> sequences;
        Bytes report(9);
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (sequences.size() < kReports && Clock::now() < deadline) {
            const int32_t status = ReadData(0, report.data());
            if (status == JUXHID_OK) {
                sequences.push_back(sequenceOf(report));
                if (report != asRead(numbered(sequences.back()))) break;
            } else if (status != JUXHID_READ_EMPTY) {
                break;
            } else {
                std::this_thread::sleep_for(milliseconds(1));
            }
        }
        return sequences;
    });
    const auto start = Clock::now();
    for (uint32_t sequence = 0; sequence < kReports; ++sequence) {
        ASSERT_TRUE(device.send(numbered(sequence)));
        std::this_thread::sleep_for(kPause);
    }
    const double sendMs = msBetween(start, Clock::now());
    const std::vector<uint32_t> sequences = taken.get();
    ASSERT_EQ(sequences.size(), kReports) << "reports lost or damaged";
    for (uint32_t at = 0; at < kReports; ++at) ASSERT_EQ(sequences[at], at) << "out of order";
    note("device pace: %u reports in %.0f ms (%.0f per second), all %zu read in order", kReports, sendMs,
         kReports * 1000.0 / sendMs, sequences.size());
}

// Far above any USB rate reports are lost in two places. The kernel keeps 63
// reports per open hidraw file and drops each new one while that queue is
// full; the library's ring keeps the newest 128 and overwrites the oldest.
TEST_F(KernelStack, AFloodIsCutByTheKernelsQueueAndByTheRing) {
    UhidDevice device(plainDevice("flood"));
    ASSERT_TRUE(device.plug());

    // The kernel's queue alone: a file nobody reads while 100 reports come.
    const int raw = ::open(device.node().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(raw, 0) << std::strerror(errno);
    for (uint32_t sequence = 0; sequence < 100; ++sequence) ASSERT_TRUE(device.send(numbered(sequence)));
    std::vector<uint32_t> queued;
    Bytes report(64);
    while (::read(raw, report.data(), report.size()) == 8) queued.push_back(report[0] | (uint32_t{report[1]} << 8));
    ::close(raw);
    ASSERT_EQ(queued.size(), 63u) << "the kernel's queue per open file";
    for (uint32_t at = 0; at < queued.size(); ++at) EXPECT_EQ(queued[at], at) << "the newest are the ones dropped";

    // The ring alone: bursts the reader drains in time, nothing taken out.
    ASSERT_EQ(list(kVendor).size(), 1u);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    constexpr uint32_t kRingTest = 1000;
    constexpr uint32_t kBurst = 32;
    for (uint32_t sequence = 0; sequence < kRingTest; ++sequence) {
        ASSERT_TRUE(device.send(numbered(sequence)));
        if ((sequence + 1) % kBurst == 0 || sequence + 1 == kRingTest) {
            ASSERT_TRUE(newestIs(0, asRead(numbered(sequence)))) << "report " << sequence << " never stored";
        }
    }
    Bytes stored(9);
    for (uint32_t sequence = kRingTest - 128; sequence < kRingTest; ++sequence) {
        ASSERT_EQ(ReadData(0, stored.data()), JUXHID_OK) << "the ring holds fewer than 128";
        ASSERT_EQ(stored, asRead(numbered(sequence))) << "not the newest 128";
    }
    EXPECT_EQ(ReadData(0, stored.data()), JUXHID_READ_EMPTY);

    // Both at once: back to back, with a caller taking what it can. What
    // arrives is in order, whatever is lost. A marker sent after a pause,
    // when every queue has drained, ends the count.
    constexpr uint32_t kFlood = 3000;
    auto taken = std::async(std::launch::async, [&] {
        std::vector<uint32_t> sequences;
        Bytes read(9);
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < deadline) {
            const int32_t status = ReadData(0, read.data());
            if (status == JUXHID_OK) {
                if (sequenceOf(read) == kFlood) break;
                sequences.push_back(sequenceOf(read));
            } else if (status != JUXHID_READ_EMPTY) {
                break;
            } else {
                std::this_thread::sleep_for(milliseconds(1));
            }
        }
        return sequences;
    });
    const auto start = Clock::now();
    for (uint32_t sequence = 0; sequence < kFlood; ++sequence) ASSERT_TRUE(device.send(numbered(sequence)));
    const double floodMs = msBetween(start, Clock::now());
    std::this_thread::sleep_for(milliseconds(200));
    ASSERT_TRUE(device.send(numbered(kFlood)));
    const std::vector<uint32_t> sequences = taken.get();
    ASSERT_FALSE(sequences.empty());
    for (size_t at = 1; at < sequences.size(); ++at) ASSERT_LT(sequences[at - 1], sequences[at]) << "out of order";
    note("flood: kernel queue kept 63 of 100; ring kept the newest 128 of %u; %u back to back in %.0f ms "
         "(%.0f per second): %zu arrived",
         kRingTest, kFlood, floodMs, kFlood * 1000.0 / floodMs, sequences.size());
}

// ---------------------------------------------------------------- writing

std::vector<double> gapsMs(const std::vector<Output>& outputs, size_t from) {
    std::vector<double> gaps;
    for (size_t at = from + 1; at < outputs.size(); ++at) gaps.push_back(msBetween(outputs[at - 1].at, outputs[at].at));
    return gaps;
}

std::string joined(const std::vector<double>& values) {
    std::string text;
    for (double value : values) text += (text.empty() ? "" : " ") + std::to_string(static_cast<int>(value + 0.5));
    return text;
}

TEST_F(KernelStack, WritesReachTheDeviceAsTheyAreAtTheirPace) {
    UhidDevice plain(plainDevice("writer"));
    UhidDevice composite(DeviceIdentity{kVendor, 0x0003, "composite", kTwoCollections});
    ASSERT_TRUE(plain.plug());
    ASSERT_TRUE(composite.plug());
    ASSERT_EQ(list(kVendor).size(), 3u);
    for (int32_t index = 0; index < 3; ++index) ASSERT_EQ(SetupInterface(index), JUXHID_OK);

    // WriteData: the first at once, the next ones about 50 ms apart.
    std::vector<Bytes> slow;
    for (uint32_t sequence = 0; sequence < 4; ++sequence) {
        slow.push_back(asRead(numbered(100 + sequence)));
        ASSERT_EQ(WriteData(0, slow.back().data()), JUXHID_OK);
    }
    std::vector<Output> outputs = plain.waitForOutputs(slow.size(), kGenerous);
    ASSERT_EQ(outputs.size(), slow.size());
    std::this_thread::sleep_for(milliseconds(200));  // the chain ends

    // FastWrite: about 5 ms apart.
    std::vector<Bytes> fast;
    for (uint32_t sequence = 0; sequence < 8; ++sequence) {
        fast.push_back(asRead(numbered(200 + sequence)));
        ASSERT_EQ(FastWrite(0, fast.back().data()), JUXHID_OK);
    }
    outputs = plain.waitForOutputs(slow.size() + fast.size(), kGenerous);
    ASSERT_EQ(outputs.size(), slow.size() + fast.size());
    std::vector<Bytes> expected = slow;
    expected.insert(expected.end(), fast.begin(), fast.end());
    for (size_t at = 0; at < outputs.size(); ++at) {
        EXPECT_EQ(outputs[at].bytes, expected[at]) << "output " << at;
        EXPECT_EQ(outputs[at].reportType, UHID_OUTPUT_REPORT);
    }
    // Spans rather than single gaps: a late look at one output by the
    // device's event thread shortens one gap and lengthens the next.
    const std::vector<double> slowGaps = gapsMs(std::vector<Output>(outputs.begin(), outputs.begin() + 4), 0);
    const std::vector<double> fastGaps = gapsMs(outputs, 4);
    const double slowSpan = msBetween(outputs[0].at, outputs[3].at);
    const double fastSpan = msBetween(outputs[4].at, outputs.back().at);
    EXPECT_GE(slowSpan, 100.0) << "3 ticks of 50 ms";
    EXPECT_LE(slowSpan, 3000.0);
    EXPECT_GE(fastSpan, 15.0) << "7 ticks of 5 ms";
    EXPECT_LE(fastSpan, 700.0);
    note("WriteData gaps (ms): %s; FastWrite gaps (ms): %s", joined(slowGaps).c_str(), joined(fastGaps).c_str());

    // Numbered reports go out with their ID first, each to its own node.
    std::this_thread::sleep_for(milliseconds(100));
    const Bytes one = {0x01, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
    const Bytes three = {0x03, 0xAB, 0xCD};
    ASSERT_EQ(GetWriteLength(1), 9);
    ASSERT_EQ(GetWriteLength(2), 3);
    ASSERT_EQ(FastWrite(1, one.data()), JUXHID_OK);
    ASSERT_EQ(FastWrite(2, three.data()), JUXHID_OK);
    outputs = composite.waitForOutputs(2, kGenerous);
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].bytes, one);
    EXPECT_EQ(outputs[1].bytes, three);
}

// ---------------------------------------------------------------- unplug

std::atomic<int> g_errorCalls{0};
std::atomic<intptr_t> g_errorStatus{0};

int32_t JUXHID_CALL noteError(intptr_t status) {
    g_errorStatus = status;
    ++g_errorCalls;
    return 0;
}

struct UnpluggedFile {
    short events;     // what poll() says
    int reportsLeft;  // reports read before the read failed
    int readErrno;
    int writeErrno;
};

UnpluggedFile inspectUnplugged(int file) {
    UnpluggedFile seen{0, 0, 0, 0};
    pollfd watched{file, POLLIN, 0};
    if (::poll(&watched, 1, 1000) == 1) seen.events = watched.revents;
    Bytes report(64);
    while (::read(file, report.data(), report.size()) > 0) ++seen.reportsLeft;
    seen.readErrno = errno;
    const Bytes out = asRead(numbered(9));
    if (::write(file, out.data(), out.size()) < 0) seen.writeErrno = errno;
    return seen;
}

TEST_F(KernelStack, UnplugIsReportedOnceAndCleanupGivesEverythingBack) {
    UhidDevice device(plainDevice("unplugged"));
    ASSERT_TRUE(device.plug());
    ASSERT_EQ(list(kVendor).size(), 1u);
    // A first write starts the library's timer thread, which stays for the
    // life of the process; then an opening's own threads and files can be
    // counted.
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    const Bytes out = asRead(numbered(1));
    ASSERT_EQ(WriteData(0, out.data()), JUXHID_OK);
    ASSERT_EQ(device.waitForOutputs(1, kGenerous).size(), 1u);
    std::this_thread::sleep_for(milliseconds(200));
    CloseInterface(0);
    const size_t files = entriesIn("/proc/self/fd");
    const size_t threads = entriesIn("/proc/self/task");

    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    g_errorCalls = 0;
    ASSERT_EQ(SetErrorCallback(0, noteError), JUXHID_OK);
    // A file of its own on the node shows what the library's reader meets.
    const int raw = ::open(device.node().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(raw, 0) << std::strerror(errno);
    for (uint32_t sequence = 0; sequence < 3; ++sequence) ASSERT_TRUE(device.send(numbered(sequence)));
    ASSERT_TRUE(newestIs(0, asRead(numbered(2))));
    device.unplug();
    const UnpluggedFile seen = inspectUnplugged(raw);
    ::close(raw);
    EXPECT_EQ(seen.events & (POLLHUP | POLLERR), POLLHUP | POLLERR);
    EXPECT_EQ(seen.reportsLeft, 3) << "what was queued is still handed out";
    EXPECT_EQ(seen.readErrno, EIO) << std::strerror(seen.readErrno);
    EXPECT_EQ(seen.writeErrno, ENODEV) << std::strerror(seen.writeErrno);
    const auto deadline = Clock::now() + kGenerous;
    while (g_errorCalls == 0 && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(2));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(g_errorCalls.load(), 1);
    EXPECT_EQ(g_errorStatus.load(), JUXHID_DEVICE_GONE_STATUS);

    Bytes report(9);
    EXPECT_EQ(ReadLast(0, report.data()), JUXHID_LAST_DEVICE_GONE);
    for (uint32_t sequence = 0; sequence < 3; ++sequence) {
        ASSERT_EQ(ReadData(0, report.data()), JUXHID_OK) << "stored report " << sequence;
        EXPECT_EQ(report, asRead(numbered(sequence)));
    }
    EXPECT_EQ(ReadData(0, report.data()), JUXHID_READ_DEVICE_GONE);
    const int32_t writeStatus = WriteData(0, out.data());
    EXPECT_EQ(writeStatus, JUXHID_WRITE_DEVICE_GONE);
    std::this_thread::sleep_for(milliseconds(200));  // the chain that write started ends

    const auto cleanupStart = Clock::now();
    CleanupInterface(0);
    const double cleanupMs = msBetween(cleanupStart, Clock::now());
    EXPECT_LT(cleanupMs, 400.0) << "the error signal was set: nothing to wait for";
    // The device side's own file and event thread went with the unplug.
    EXPECT_EQ(entriesIn("/proc/self/fd"), files - 1) << "a file of the opening is still open";
    EXPECT_EQ(entriesIn("/proc/self/task"), threads - 1) << "a thread of the opening still runs";
    EXPECT_EQ(ReadData(0, report.data()), JUXHID_READ_NOT_OPEN);
    int32_t status = 0;
    EXPECT_TRUE(list(kVendor, &status).empty());
    EXPECT_EQ(status, JUXHID_LIST_NO_DEVICE);

    // Plugged in again: listed, opened and read as before.
    ASSERT_TRUE(device.plug());
    ASSERT_EQ(list(kVendor).size(), 1u);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    ASSERT_TRUE(device.send(numbered(42)));
    EXPECT_EQ(nextReport(0), asRead(numbered(42)));
    note("unplug: the node's file polled 0x%x, handed out %d queued reports, then read failed with %s and "
         "write with %s; error callback called %d time(s) with %ld; write after unplug %d; CleanupInterface %.1f ms",
         seen.events, seen.reportsLeft, strerrorname_np(seen.readErrno), strerrorname_np(seen.writeErrno),
         g_errorCalls.load(), static_cast<long>(g_errorStatus.load()), writeStatus, cleanupMs);
}

// ---------------------------------------------------------------- access

// This program again, as an ordinary user: it lists, opens row 0 and exits
// with SetupInterface's answer (or 1 when listing failed).
int openAsUser() {
    char self[512] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kUser) != 0 || ::setuid(kUser) != 0) ::_exit(2);
        const char* arguments[] = {self, kOpenAsUser, nullptr};
        ::execv(arguments[0], const_cast<char* const*>(arguments));
        ::_exit(3);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int openAsUserChild() {
    if (::geteuid() == 0) return 4;
    if (list(kVendor).size() != 1) return 1;
    const int32_t status = SetupInterface(0);
    CloseInterface(0);
    return status;
}

TEST_F(KernelStack, AUserWithoutPermissionOnTheNodeIsRefused) {
    UhidDevice device(plainDevice("guarded"));
    ASSERT_TRUE(device.plug());
    const char* node = device.node().c_str();
    ASSERT_EQ(::chmod(node, 0600), 0);
    EXPECT_EQ(openAsUser(), JUXHID_OPEN_READ_DENIED);
    ASSERT_EQ(::chmod(node, 0644), 0);
    EXPECT_EQ(openAsUser(), JUXHID_OPEN_WRITE_DENIED);
    ASSERT_EQ(::chmod(node, 0666), 0);
    EXPECT_EQ(openAsUser(), JUXHID_OK);
}

// ---------------------------------------------------------------- closing

TEST_F(KernelStack, CloseInterfaceEndsTheReadPendingOnTheNode) {
    UhidDevice device(plainDevice("closing"));
    ASSERT_TRUE(device.plug());
    ASSERT_EQ(list(kVendor).size(), 1u);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    std::this_thread::sleep_for(milliseconds(100));  // the reader waits on the node
    const auto start = Clock::now();
    auto closing = std::async(std::launch::async, [] { CloseInterface(0); });
    ASSERT_EQ(closing.wait_for(kGenerous), std::future_status::ready);
    const double closeMs = msBetween(start, Clock::now());
    EXPECT_LT(closeMs, 2000.0);
    note("CloseInterface with a read pending: %.1f ms", closeMs);
}

}  // namespace
}  // namespace juxhid::kernel

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], juxhid::kernel::kOpenAsUser) == 0)
        return juxhid::kernel::openAsUserChild();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
