// The Win32 device services against the HID interfaces the platform itself
// reports in this run (under Wine: Wine's own devices).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <vector>

#include "hid_census.h"
#include "platform/platform.h"
#include "platform/win32/device_record.h"

namespace juxhid::platform {
namespace {

using test::HidInterface;

class Win32Devices : public ::testing::Test {
protected:
    void SetUp() override { census_ = test::takeHidCensus(); }

    // An interface with input reports that opens for reading.
    const HidInterface* readable() const {
        for (const HidInterface& hid : census_) {
            if (hid.inputLength > 0 && hid.readOpenError == 0) return &hid;
        }
        return nullptr;
    }

    std::vector<HidInterface> census_;
};

std::vector<std::string> walkPaths() {
    std::vector<std::string> paths;
    DeviceList* list = deviceListOpen();
    EXPECT_NE(list, nullptr);
    if (list == nullptr) return paths;
    uint32_t error = 0;
    InterfaceRef ref{};
    for (uint32_t member = 0; deviceListMember(list, member, &ref, &error); ++member) {
        EXPECT_EQ(ref.member, member);
        uint32_t size = 0;
        error = 0;
        const bool sized = deviceDetailSize(list, ref, &size, &error);
        EXPECT_TRUE(sized || error == kErrorInsufficientBuffer) << "size query error " << error;
        std::vector<char> record(size);
        const bool fetched = deviceDetailFetch(list, ref, record.data(), size, &error);
        EXPECT_TRUE(fetched) << "fetch error " << error;
        if (fetched) paths.emplace_back(deviceDetailPath(record.data()));
    }
    EXPECT_EQ(error, kErrorNoMoreItems);
    deviceListClose(list);
    return paths;
}

TEST_F(Win32Devices, ListWalkGivesThePlatformsPathsInItsOrder) {
    const std::vector<std::string> paths = walkPaths();
    std::vector<std::string> described;
    for (const HidInterface& hid : census_) described.push_back(hid.path);
    // Every interface the platform describes is in the walk, in the same
    // order; the walk may hold more (interfaces that answer no identity).
    size_t at = 0;
    for (const std::string& path : paths) {
        if (at < described.size() && path == described[at]) ++at;
    }
    EXPECT_EQ(at, described.size());
}

TEST_F(Win32Devices, QueryOpenAnswersTheIdentityAndCapabilities) {
    if (census_.empty()) GTEST_SKIP() << "the platform reports no HID interface";
    for (const HidInterface& hid : census_) {
        uint32_t error = 0;
        Device* device = deviceOpen(hid.path.c_str(), Access::Query, &error);
        ASSERT_NE(device, nullptr) << hid.path << " error " << error;
        DeviceAttributes attributes{};
        ASSERT_TRUE(deviceAttributes(device, &attributes, &error));
        EXPECT_EQ(attributes.vendorId, hid.vendorId);
        EXPECT_EQ(attributes.productId, hid.productId);
        Preparsed* preparsed = devicePreparsed(device, &error);
        ASSERT_NE(preparsed, nullptr);
        DeviceCaps caps{};
        EXPECT_TRUE(deviceCaps(preparsed, &caps));
        EXPECT_EQ(caps.usage, hid.usage);
        EXPECT_EQ(caps.usagePage, hid.usagePage);
        EXPECT_EQ(caps.inputReportByteLength, hid.inputLength);
        EXPECT_EQ(caps.outputReportByteLength, hid.outputLength);
        preparsedFree(preparsed);
        deviceClose(device);
    }
}

TEST_F(Win32Devices, OpeningAMissingPathAnswersNotFound) {
    uint32_t error = 0;
    const char* missing =
        "\\\\?\\hid#vid_0000&pid_0000#0&0000&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    EXPECT_EQ(deviceOpen(missing, Access::Read, &error), nullptr);
    EXPECT_TRUE(error == kErrorFileNotFound || error == kErrorPathNotFound) << "error " << error;
}

// The driver's queue of a reading handle is enlarged beyond the default that
// a handle opened for anything else keeps.
TEST_F(Win32Devices, ReadHandleAsksTheDriverForALargerInputQueue) {
    const HidInterface* hid = readable();
    if (hid == nullptr) GTEST_SKIP() << "no HID interface with input reports opens for reading";
    uint32_t error = 0;
    Device* query = deviceOpen(hid->path.c_str(), Access::Query, &error);
    Device* reader = deviceOpen(hid->path.c_str(), Access::Read, &error);
    ASSERT_NE(query, nullptr);
    ASSERT_NE(reader, nullptr);
    ULONG byDefault = 0, enlarged = 0;
    EXPECT_TRUE(HidD_GetNumInputBuffers(query->handle, &byDefault));
    EXPECT_TRUE(HidD_GetNumInputBuffers(reader->handle, &enlarged));
    EXPECT_GE(enlarged, 64u);
    EXPECT_GT(enlarged, byDefault) << "default " << byDefault;
    deviceClose(reader);
    deviceClose(query);
}

// A read on a device that sends nothing stays pending until it is cancelled.
std::future<Transfer> readInBackground(Device* device, uint32_t length) {
    return std::async(std::launch::async, [=] {
        std::vector<uint8_t> buffer(length);
        return deviceRead(device, buffer.data(), length);
    });
}

TEST_F(Win32Devices, CancelEndsAPendingReadAndEveryLaterOne) {
    const HidInterface* hid = readable();
    if (hid == nullptr) GTEST_SKIP() << "no HID interface with input reports opens for reading";
    uint32_t error = 0;
    Device* device = deviceOpen(hid->path.c_str(), Access::Read, &error);
    ASSERT_NE(device, nullptr);
    std::future<Transfer> read = readInBackground(device, hid->inputLength);
    if (read.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready) {
        deviceClose(device);
        GTEST_SKIP() << "the device delivered a report; no read stayed pending";
    }
    deviceCancelRead(device);
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the read was not ended";
    const Transfer ended = read.get();
    EXPECT_FALSE(ended.ok);
    EXPECT_EQ(ended.error, kErrorOperationAborted);
    std::vector<uint8_t> buffer(hid->inputLength);
    const Transfer later = deviceRead(device, buffer.data(), hid->inputLength);
    EXPECT_FALSE(later.ok);
    EXPECT_EQ(later.error, kErrorOperationAborted);
    deviceCancelRead(device);  // again: nothing more happens
    deviceClose(device);
}

// The teardown may come while the reader is just about to read: whichever
// wins, the read must end.
TEST_F(Win32Devices, CancelRacingTheStartOfAReadAlwaysEndsIt) {
    const HidInterface* hid = readable();
    if (hid == nullptr) GTEST_SKIP() << "no HID interface with input reports opens for reading";
    for (int round = 0; round < 40; ++round) {
        uint32_t error = 0;
        Device* device = deviceOpen(hid->path.c_str(), Access::Read, &error);
        ASSERT_NE(device, nullptr);
        std::future<Transfer> read = readInBackground(device, hid->inputLength);
        if (round % 2 == 1) std::this_thread::yield();
        deviceCancelRead(device);
        ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready)
            << "round " << round << ": the read was not ended";
        const Transfer ended = read.get();
        if (!ended.ok) {
            EXPECT_EQ(ended.error, kErrorOperationAborted) << "round " << round;
        }
        deviceClose(device);
    }
}

}  // namespace
}  // namespace juxhid::platform
