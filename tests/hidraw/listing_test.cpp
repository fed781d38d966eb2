// Listing through the seam against a fake sysfs tree: which members the
// walk finds, under which paths, and what a query handle learns of each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hidraw/descriptors.h"
#include "hidraw/fake_tree.h"
#include "platform/hidraw/roots.h"
#include "platform/platform.h"

namespace juxhid::hidraw {
namespace {

using namespace juxhid::platform;
using testing::FakeTree;

// Every member's path, fetched the way the listing does: size first.
std::vector<std::string> listedPaths(uint32_t* endError = nullptr) {
    std::vector<std::string> paths;
    DeviceList* list = deviceListOpen();
    if (list == nullptr) return paths;
    for (uint32_t member = 0;; ++member) {
        InterfaceRef ref{};
        uint32_t error = 0;
        if (!deviceListMember(list, member, &ref, &error)) {
            if (endError != nullptr) *endError = error;
            break;
        }
        uint32_t size = 0;
        EXPECT_FALSE(deviceDetailSize(list, ref, &size, &error));
        EXPECT_EQ(error, kErrorInsufficientBuffer);
        std::vector<char> record(size);
        EXPECT_TRUE(deviceDetailFetch(list, ref, record.data(), size, &error));
        paths.emplace_back(deviceDetailPath(record.data()));
    }
    deviceListClose(list);
    return paths;
}

struct Queried {
    bool opened = false;
    uint32_t openError = 0;
    bool attributesRead = false;
    DeviceAttributes attributes{};
    bool capsRead = false;
    DeviceCaps caps{};
};

Queried query(const std::string& path) {
    Queried result;
    Device* device = deviceOpen(path.c_str(), Access::Query, &result.openError);
    if (device == nullptr) return result;
    result.opened = true;
    uint32_t error = 0;
    result.attributesRead = deviceAttributes(device, &result.attributes, &error);
    if (Preparsed* preparsed = devicePreparsed(device, &error)) {
        result.capsRead = deviceCaps(preparsed, &result.caps);
        preparsedFree(preparsed);
    }
    deviceClose(device);
    return result;
}

void expectCaps(const Queried& queried, uint16_t usagePage, uint16_t usage, uint16_t input, uint16_t output) {
    ASSERT_TRUE(queried.capsRead);
    EXPECT_EQ(queried.caps.usagePage, usagePage);
    EXPECT_EQ(queried.caps.usage, usage);
    EXPECT_EQ(queried.caps.inputReportByteLength, input);
    EXPECT_EQ(queried.caps.outputReportByteLength, output);
}

TEST(HidrawListing, NodesComeInNodeNumberOrderUnderTheirDeviceFiles) {
    FakeTree tree;
    tree.addNode(10, testing::kBusUsb, 0x1234, 0x0001, testing::kVendorDefined);
    tree.addNode(2, testing::kBusUsb, 0x1234, 0x0002, testing::kBootMouse);
    tree.addNode(0, testing::kBusUsb, 0x5678, 0x0003, testing::kBootKeyboard);
    tree.addStrayEntry("power");
    tree.addStrayEntry("hidraw");
    uint32_t endError = 0;
    EXPECT_EQ(listedPaths(&endError),
              (std::vector<std::string>{tree.devicePath(0), tree.devicePath(2), tree.devicePath(10)}));
    EXPECT_EQ(endError, kErrorNoMoreItems);
}

TEST(HidrawListing, UnreadableOrGarbageDescriptorIsAMemberThatGivesNoCaps) {
    FakeTree tree;
    tree.addNode(0, testing::kBusUsb, 0x1234, 0x0001, testing::kBootMouse);
    tree.breakDescriptor(0);
    tree.addNode(1, testing::kBusBluetooth, 0x1234, 0x0002, {0x05, 0x01, 0xA1, 0x01});
    ASSERT_EQ(listedPaths(), (std::vector<std::string>{tree.devicePath(0), tree.devicePath(1)}));
    for (int node : {0, 1}) {
        const Queried broken = query(tree.devicePath(node));
        EXPECT_TRUE(broken.opened);
        ASSERT_TRUE(broken.attributesRead);
        EXPECT_EQ(broken.attributes.productId, node + 1);
        EXPECT_FALSE(broken.capsRead);
    }
}

TEST(HidrawListing, NodeWithSeveralCollectionsGivesOneMemberEachInDescriptorOrder) {
    FakeTree tree;
    tree.addNode(3, testing::kBusUsb, 0x1234, 0x0001, testing::kCompositeKeyboard);
    ASSERT_EQ(listedPaths(), (std::vector<std::string>{tree.devicePath(3, 1), tree.devicePath(3, 2),
                                                      tree.devicePath(3, 3)}));
    expectCaps(query(tree.devicePath(3, 1)), 0x01, 0x06, 9, 2);
    expectCaps(query(tree.devicePath(3, 2)), 0x0C, 0x01, 3, 0);
    expectCaps(query(tree.devicePath(3, 3)), 0xFF00, 0x01, 33, 33);
    EXPECT_FALSE(query(tree.devicePath(3, 4)).capsRead);
}

TEST(HidrawListing, MissingDeviceFileFailsTheQueryOpenAsNotFound) {
    FakeTree tree;
    tree.addNode(0, testing::kBusUsb, 0x1234, 0x0001, testing::kBootMouse);
    tree.removeDeviceFile(0);
    const Queried gone = query(tree.devicePath(0));
    EXPECT_FALSE(gone.opened);
    EXPECT_EQ(gone.openError, kErrorFileNotFound);
}

TEST(HidrawListing, MalformedCollectionMarksNameNoDevice) {
    FakeTree tree;
    tree.addNode(0, testing::kBusUsb, 0x1234, 0x0001, testing::kCompositeKeyboard);
    for (const char* mark : {"#0", "#", "#01", "#1x", "#33", "#99999999999999999999"}) {
        const Queried queried = query(tree.devicePath(0) + mark);
        EXPECT_FALSE(queried.opened) << mark;
        EXPECT_EQ(queried.openError, kErrorFileNotFound) << mark;
    }
}

TEST(HidrawListing, UeventWithoutHidIdGivesNoAttributes) {
    FakeTree tree;
    tree.addNode(0, testing::kBusUsb, 0x1234, 0x0001, testing::kBootMouse);
    FILE* uevent = std::fopen((tree.sysfsRoot() + "/hidraw0/device/uevent").c_str(), "w");
    ASSERT_NE(uevent, nullptr);
    std::fputs("DRIVER=hid-generic\nHID_ID=0003:00001234\n", uevent);
    std::fclose(uevent);
    EXPECT_FALSE(query(tree.devicePath(0)).attributesRead);
}

TEST(HidrawListing, EmptyTreeEndsAtOnceAndMissingRootGivesNoList) {
    {
        FakeTree tree;
        uint32_t endError = 0;
        EXPECT_TRUE(listedPaths(&endError).empty());
        EXPECT_EQ(endError, kErrorNoMoreItems);
        ASSERT_TRUE(setRoots((tree.sysfsRoot() + "/absent").c_str(), tree.devRoot().c_str()));
        EXPECT_EQ(deviceListOpen(), nullptr);
    }
    EXPECT_STREQ(sysfsRoot(), kSystemSysfsRoot);
    EXPECT_STREQ(devRoot(), kSystemDevRoot);
}

}  // namespace
}  // namespace juxhid::hidraw
