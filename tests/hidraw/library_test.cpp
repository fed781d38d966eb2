// The real-device library end to end over a fake sysfs tree: what the caller
// lists, opens and reads through the thirteen functions when the devices are
// hidraw nodes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "hidraw/descriptors.h"
#include "hidraw/fake_tree.h"
#include "juxhid.h"
#include "juxhid_status.h"

namespace juxhid::hidraw {
namespace {

using testing::Bytes;
using testing::FakeTree;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kVendor = 0x1234;
constexpr auto kGenerous = std::chrono::seconds(10);

// Vendor page 0xFF00, output reports only: 8 bytes, no report IDs.
const Bytes kOutputOnly = {0x06, 0x00, 0xFF, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08,
                           0x95, 0x08, 0x09, 0x01, 0x91, 0x02, 0xC0};

class HidrawLibrary : public ::testing::Test {
protected:
    void TearDown() override {
        for (int32_t index = 0; index < JUXHID_MAX_DEVICES; ++index) CloseInterface(index);
        for (int fd : fds_) ::close(fd);
    }

    std::vector<DeviceSummary> list(uint32_t vendorId = kVendor, int32_t* status = nullptr) {
        DeviceSummary devices[JUXHID_MAX_DEVICES] = {};
        int32_t count = -1;
        const int32_t result = EnumerateJUX(vendorId, devices, &count);
        if (status != nullptr) *status = result;
        if (result != JUXHID_OK) return {};
        return std::vector<DeviceSummary>(devices, devices + count);
    }

    // Waits for the next unread report of `index`; empty if none came.
    static Bytes nextReport(int32_t index) {
        Bytes report(static_cast<size_t>(GetReadLength(index)));
        const auto deadline = Clock::now() + kGenerous;
        while (Clock::now() < deadline) {
            const int32_t status = ReadData(index, report.data());
            if (status == JUXHID_OK) return report;
            if (status != JUXHID_READ_EMPTY) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return {};
    }

    int keep(int fd) {
        EXPECT_GE(fd, 0);
        fds_.push_back(fd);
        return fd;
    }

    FakeTree tree_;
    std::vector<int> fds_;
};

TEST_F(HidrawLibrary, ListsTheVendorsDevicesOfEveryBusAndNothingElse) {
    tree_.addNode(0, testing::kBusUsb, kVendor, 0x0010, testing::kBootKeyboard);
    tree_.addNode(1, testing::kBusUsb, 0x4321, 0x0020, testing::kBootMouse);
    tree_.addNode(2, testing::kBusUsb, kVendor, 0x0030, testing::kBootMouse);
    tree_.breakDescriptor(2);
    tree_.addNode(3, testing::kBusBluetooth, kVendor, 0x0040, testing::kGamePad);
    tree_.addNode(4, testing::kBusUsb, kVendor, 0x0050, testing::kFeatureOnly);
    const std::vector<DeviceSummary> devices = list();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].ProductID, 0x0010u);
    EXPECT_EQ(devices[0].UsagePage, 0x01u);
    EXPECT_EQ(devices[0].Usage, 0x06u);
    EXPECT_EQ(devices[1].ProductID, 0x0040u);
    EXPECT_EQ(devices[1].Usage, 0x05u);
    EXPECT_EQ(devices[2].ProductID, 0x0050u);
    EXPECT_EQ(devices[2].UsagePage, 0xFF60u);
    for (int32_t index = 0; index < 3; ++index) EXPECT_EQ(devices[static_cast<size_t>(index)].Index, index);
    EXPECT_EQ(GetReadLength(0), 9);
    EXPECT_EQ(GetWriteLength(0), 2);
    EXPECT_EQ(GetReadLength(1), 8);
    EXPECT_EQ(GetWriteLength(1), 3);
    EXPECT_EQ(GetReadLength(2), 0);
    EXPECT_EQ(GetWriteLength(2), 0);
    int32_t status = 0;
    EXPECT_TRUE(list(0x9999, &status).empty());
    EXPECT_EQ(status, JUXHID_LIST_NO_DEVICE);
}

TEST_F(HidrawLibrary, NodeWithThreeCollectionsIsThreeRowsOfOneProduct) {
    tree_.addNode(0, testing::kBusUsb, kVendor, 0x0777, testing::kCompositeKeyboard);
    const std::vector<DeviceSummary> devices = list();
    ASSERT_EQ(devices.size(), 3u);
    for (const DeviceSummary& device : devices) EXPECT_EQ(device.ProductID, 0x0777u);
    EXPECT_EQ(devices[0].UsagePage, 0x01u);
    EXPECT_EQ(devices[0].Usage, 0x06u);
    EXPECT_EQ(devices[1].UsagePage, 0x0Cu);
    EXPECT_EQ(devices[1].Usage, 0x01u);
    EXPECT_EQ(devices[2].UsagePage, 0xFF00u);
    EXPECT_EQ(devices[2].Usage, 0x01u);
    EXPECT_EQ(GetReadLength(1), 3);
    EXPECT_EQ(GetWriteLength(1), 0);
    EXPECT_EQ(GetReadLength(2), 33);
    EXPECT_EQ(GetWriteLength(2), 33);
}

TEST_F(HidrawLibrary, TwentyFiveRowsAreTheMostWhateverTheNodes) {
    for (int node = 0; node < 9; ++node)  // 27 rows
        tree_.addNode(node, testing::kBusUsb, kVendor, static_cast<uint16_t>(node), testing::kCompositeKeyboard);
    const std::vector<DeviceSummary> devices = list();
    ASSERT_EQ(devices.size(), 25u);
    EXPECT_EQ(devices[24].ProductID, 8u);
    EXPECT_EQ(devices[24].UsagePage, 0x01u);
}

TEST_F(HidrawLibrary, EachOpenedRowReceivesOnlyItsCollectionsReports) {
    tree_.addNode(0, testing::kBusUsb, kVendor, 0x0777, testing::kCompositeKeyboard);
    ASSERT_EQ(list().size(), 3u);
    const int in = keep(tree_.openFeeder(0));
    const Bytes key = {0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes volumeUp = {0x02, 0xE9, 0x00};
    const Bytes volumeDown = {0x02, 0xEA, 0x00};

    ASSERT_EQ(SetupInterface(1), JUXHID_OK);
    for (const Bytes& report : {volumeUp, key, volumeDown}) ASSERT_TRUE(testing::feed(in, report));
    EXPECT_EQ(nextReport(1), volumeUp);
    EXPECT_EQ(nextReport(1), volumeDown);  // the key report between them never reached the ring
    CloseInterface(1);

    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    for (const Bytes& report : {volumeUp, key}) ASSERT_TRUE(testing::feed(in, report));
    EXPECT_EQ(nextReport(0), key);
}

TEST_F(HidrawLibrary, CloseInterfaceEndsTheReadItsReaderHasPending) {
    tree_.addNode(0, testing::kBusUsb, kVendor, 0x0001, testing::kBootMouse);
    ASSERT_EQ(list().size(), 1u);
    keep(tree_.openFeeder(0));  // a writer stays: nothing arrives, nothing hangs up
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto closing = std::async(std::launch::async, [] { CloseInterface(0); });
    EXPECT_EQ(closing.wait_for(kGenerous), std::future_status::ready);
}

TEST_F(HidrawLibrary, WriteDataSendsTheReportToTheNode) {
    tree_.addNode(0, testing::kBusUsb, kVendor, 0x0001, kOutputOnly);
    ASSERT_EQ(list().size(), 1u);
    ASSERT_EQ(GetWriteLength(0), 9);
    const int out = keep(tree_.openSink(0));
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    const Bytes report = {0x00, 1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(WriteData(0, report.data()), JUXHID_OK);
    Bytes arrived(16);
    ASSERT_EQ(::read(out, arrived.data(), arrived.size()), 9);
    arrived.resize(9);
    EXPECT_EQ(arrived, report);
}

}  // namespace
}  // namespace juxhid::hidraw
