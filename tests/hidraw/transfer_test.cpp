// Reads and writes through stand-in device files: the bytes the caller sees,
// the reports of other collections skipped, an unplug, and a read ended by
// cancelling or closing its handle while another thread waits in it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "hidraw/descriptors.h"
#include "hidraw/fake_tree.h"
#include "platform/platform.h"

namespace juxhid::hidraw {
namespace {

using namespace juxhid::platform;
using testing::Bytes;
using testing::FakeTree;

constexpr auto kGenerous = std::chrono::seconds(10);

class HidrawTransfer : public ::testing::Test {
protected:
    void TearDown() override {
        for (Device* device : opened_) deviceClose(device);
        for (int fd : fds_) ::close(fd);
    }

    Device* open(const std::string& path, Access access) {
        uint32_t error = 0;
        Device* device = deviceOpen(path.c_str(), access, &error);
        EXPECT_NE(device, nullptr) << "error " << error;
        if (device != nullptr) opened_.push_back(device);
        return device;
    }

    // Closes a device this fixture opened, ahead of the teardown.
    void close(Device* device) {
        opened_.erase(std::find(opened_.begin(), opened_.end(), device));
        deviceClose(device);
    }

    int feeder(int number) { return keep(tree_.openFeeder(number)); }
    int sink(int number) { return keep(tree_.openSink(number)); }

    int keep(int fd) {
        EXPECT_GE(fd, 0);
        fds_.push_back(fd);
        return fd;
    }

    // One read of `length` bytes: the bytes when it succeeded.
    static Bytes readOne(Device* device, uint32_t length, Transfer* transfer = nullptr) {
        Bytes buffer(length, 0xEE);
        const Transfer result = deviceRead(device, buffer.data(), length);
        if (transfer != nullptr) *transfer = result;
        if (!result.ok) return {};
        buffer.resize(result.count);
        return buffer;
    }

    FakeTree tree_;
    std::vector<Device*> opened_;
    std::vector<int> fds_;
};

TEST_F(HidrawTransfer, UnnumberedReportGetsAZeroIdByteInFront) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kBootMouse);
    Device* mouse = open(tree_.devicePath(0), Access::Read);
    ASSERT_NE(mouse, nullptr);
    ASSERT_TRUE(testing::feed(feeder(0), {0x01, 0x05, 0xFB}));
    EXPECT_EQ(readOne(mouse, 4), (Bytes{0x00, 0x01, 0x05, 0xFB}));
}

TEST_F(HidrawTransfer, NumberedReportsPassAsTheyAreAndShortOnesArePadded) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kCompositeKeyboard);
    Device* vendor = open(tree_.devicePath(0, 3), Access::Read);
    ASSERT_NE(vendor, nullptr);
    const int in = feeder(0);
    Bytes full(33, 0x5A);
    full[0] = 0x03;
    ASSERT_TRUE(testing::feed(in, full));
    ASSERT_TRUE(testing::feed(in, {0x03, 0x01, 0x02}));
    EXPECT_EQ(readOne(vendor, 33), full);
    Bytes padded(33, 0x00);
    padded[0] = 0x03;
    padded[1] = 0x01;
    padded[2] = 0x02;
    EXPECT_EQ(readOne(vendor, 33), padded);
}

TEST_F(HidrawTransfer, EachCollectionOfANodeReadsOnlyItsOwnReports) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kCompositeKeyboard);
    const int in = feeder(0);
    const Bytes key = {0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes volume = {0x02, 0xE9, 0x00};
    Bytes vendorReport(33, 0x11);
    vendorReport[0] = 0x03;

    // A FIFO hands each report to one reader only, so the rows read in turn.
    Device* keyboard = open(tree_.devicePath(0, 1), Access::Read);
    ASSERT_NE(keyboard, nullptr);
    for (const Bytes& report : {volume, key, vendorReport, volume, key}) ASSERT_TRUE(testing::feed(in, report));
    EXPECT_EQ(readOne(keyboard, 9), key);
    EXPECT_EQ(readOne(keyboard, 9), key);
    close(keyboard);

    Device* consumer = open(tree_.devicePath(0, 2), Access::Read);
    ASSERT_NE(consumer, nullptr);
    for (const Bytes& report : {key, vendorReport, volume}) ASSERT_TRUE(testing::feed(in, report));
    EXPECT_EQ(readOne(consumer, 3), volume);
}

// The kernel's HID core drops such a report before hidraw sees it (the kernel
// stage shows it); a node that passed one on would still not reach the caller.
TEST_F(HidrawTransfer, ReportOfAnIdNoCollectionOwnsIsSkipped) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kGamePad);
    Device* pad = open(tree_.devicePath(0), Access::Read);
    ASSERT_NE(pad, nullptr);
    const int in = feeder(0);
    const Bytes state = {0x01, 0x01, 0x00, 0x80, 0x80, 0x80, 0x80, 0x0F};
    ASSERT_TRUE(testing::feed(in, {0x09, 0x01, 0x02}));
    ASSERT_TRUE(testing::feed(in, state));
    EXPECT_EQ(readOne(pad, 8), state);
}

// A closed FIFO ends with end of file; a real node polls hung up and fails
// the read with EIO once its queue is empty (the kernel stage checks that
// path, and errno_translation_test the translation).
TEST_F(HidrawTransfer, UnplugHandsOutQueuedReportsThenDeviceGone) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kBootMouse);
    Device* mouse = open(tree_.devicePath(0), Access::Read);
    ASSERT_NE(mouse, nullptr);
    const int in = tree_.openFeeder(0);
    ASSERT_GE(in, 0);
    ASSERT_TRUE(testing::feed(in, {0x01, 0x00, 0x00}));
    ASSERT_TRUE(testing::feed(in, {0x02, 0x00, 0x00}));
    ::close(in);
    EXPECT_EQ(readOne(mouse, 4), (Bytes{0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(readOne(mouse, 4), (Bytes{0x00, 0x02, 0x00, 0x00}));
    Transfer last{};
    readOne(mouse, 4, &last);
    EXPECT_FALSE(last.ok);
    EXPECT_EQ(last.error, kErrorDeviceNotConnected);
}

TEST_F(HidrawTransfer, CancelEndsAPendingReadAndEveryLaterOne) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kBootMouse);
    Device* mouse = open(tree_.devicePath(0), Access::Read);
    ASSERT_NE(mouse, nullptr);
    feeder(0);  // a writer stays: nothing but the cancel can end the read
    auto pending = std::async(std::launch::async, [mouse] {
        Transfer transfer{};
        readOne(mouse, 4, &transfer);
        return transfer;
    });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    deviceCancelRead(mouse);
    ASSERT_EQ(pending.wait_for(kGenerous), std::future_status::ready);
    const Transfer ended = pending.get();
    EXPECT_FALSE(ended.ok);
    EXPECT_EQ(ended.error, kErrorOperationAborted);

    deviceCancelRead(mouse);
    ASSERT_TRUE(testing::feed(fds_.back(), {0x01, 0x00, 0x00}));
    Transfer later{};
    readOne(mouse, 4, &later);
    EXPECT_FALSE(later.ok);
    EXPECT_EQ(later.error, kErrorOperationAborted);
}

TEST_F(HidrawTransfer, ClosingTheHandleEndsAPendingReadBeforeTheRecordGoes) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kBootMouse);
    uint32_t error = 0;
    Device* mouse = deviceOpen(tree_.devicePath(0).c_str(), Access::Read, &error);
    ASSERT_NE(mouse, nullptr);
    feeder(0);
    std::promise<void> entering;
    auto pending = std::async(std::launch::async, [mouse, &entering] {
        entering.set_value();
        Transfer transfer{};
        readOne(mouse, 4, &transfer);
        return transfer;
    });
    entering.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    deviceClose(mouse);  // returns only once the read has
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(pending.get().error, kErrorOperationAborted);
}

TEST_F(HidrawTransfer, WriteSendsTheCallersBytesReportIdFirst) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kBootKeyboard);
    const int out = sink(0);
    Device* keyboard = open(tree_.devicePath(0), Access::Write);
    ASSERT_NE(keyboard, nullptr);
    const Bytes leds = {0x00, 0x02};
    const Transfer write = deviceWrite(keyboard, leds.data(), 2);
    EXPECT_TRUE(write.ok);
    EXPECT_EQ(write.count, 2u);
    Bytes arrived(16);
    ASSERT_EQ(::read(out, arrived.data(), arrived.size()), 2);
    arrived.resize(2);
    EXPECT_EQ(arrived, leds);
}

TEST_F(HidrawTransfer, OpeningAMissingNodeIsNotFoundAndAGarbageOneIsRefusedForReading) {
    tree_.addNode(0, testing::kBusUsb, 0x1234, 1, testing::kBootMouse);
    tree_.removeDeviceFile(0);
    uint32_t error = 0;
    EXPECT_EQ(deviceOpen(tree_.devicePath(0).c_str(), Access::Read, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
    EXPECT_EQ(deviceOpen(tree_.devicePath(0).c_str(), Access::Write, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);

    tree_.addNode(1, testing::kBusUsb, 0x1234, 1, {0x05, 0x01, 0xC0});
    EXPECT_EQ(deviceOpen(tree_.devicePath(1).c_str(), Access::Read, &error), nullptr);
    EXPECT_NE(error, 0u);
}

}  // namespace
}  // namespace juxhid::hidraw
