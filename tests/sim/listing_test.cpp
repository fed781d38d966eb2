#include <cstring>

#include "bus_test_support.h"

namespace juxhid::test {
namespace {

using platform::kErrorFileNotFound;
using platform::kErrorInsufficientBuffer;
using platform::kErrorNoMoreItems;

class BusListing : public BusTest {};

TEST_F(BusListing, ListsDevicesInAttachOrderAsTheyWereWhenListed) {
    attach(busDevice(1, 8, 8, "first"));
    const int32_t second = attach(busDevice(2, 8, 8, "second"));
    attach(busDevice(3, 8, 8, "third"));
    ASSERT_EQ(juxsim_detach(second), 0);
    platform::DeviceList* list = platform::deviceListOpen();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(currentCounts().deviceLists, baseline_.deviceLists + 1);
    attach(busDevice(4, 8, 8, "attached later"));
    EXPECT_EQ(pathAt(list, 0), "first");
    EXPECT_EQ(pathAt(list, 1), "third");
    platform::InterfaceRef ref{};
    uint32_t error = 0;
    EXPECT_FALSE(platform::deviceListMember(list, 2, &ref, &error)) << "not in the snapshot";
    EXPECT_EQ(error, kErrorNoMoreItems);
    platform::deviceListClose(list);
    EXPECT_EQ(currentCounts().deviceLists, baseline_.deviceLists);

    platform::DeviceList* later = platform::deviceListOpen();
    EXPECT_EQ(pathAt(later, 2), "attached later");
    platform::deviceListClose(later);
}

TEST_F(BusListing, EmptyBusGivesAListWithoutMembers) {
    platform::DeviceList* list = platform::deviceListOpen();
    ASSERT_NE(list, nullptr);
    platform::InterfaceRef ref{};
    uint32_t error = 0;
    EXPECT_FALSE(platform::deviceListMember(list, 0, &ref, &error));
    EXPECT_EQ(error, kErrorNoMoreItems);
    platform::deviceListClose(list);
}

// The size query "fails" with 122 while giving the size, as the platform's
// own service does; the record is a 4-byte size field and the path.
TEST_F(BusListing, DetailSizeComesWithError122AndCoversSizeFieldPathAndNul) {
    attach(busDevice(1, 8, 8, "abc"));
    platform::DeviceList* list = platform::deviceListOpen();
    platform::InterfaceRef ref{};
    uint32_t error = 0;
    ASSERT_TRUE(platform::deviceListMember(list, 0, &ref, &error));
    uint32_t size = 0;
    EXPECT_FALSE(platform::deviceDetailSize(list, ref, &size, &error));
    EXPECT_EQ(error, kErrorInsufficientBuffer);
    EXPECT_EQ(size, 4u + 3u + 1u);
    std::vector<char> record(size, 'x');
    EXPECT_FALSE(platform::deviceDetailFetch(list, ref, record.data(), size - 1, &error));
    EXPECT_EQ(error, kErrorInsufficientBuffer);
    ASSERT_TRUE(platform::deviceDetailFetch(list, ref, record.data(), size, &error));
    EXPECT_EQ(platform::deviceDetailPath(record.data()), record.data() + 4);
    EXPECT_STREQ(platform::deviceDetailPath(record.data()), "abc");
    platform::deviceListClose(list);
}

TEST_F(BusListing, GivenPathsAreKeptWholeAndMadeUpOnesAreUnique) {
    const std::string longPath(300, 'p');
    attach(busDevice(1, 8, 8, longPath.c_str()));
    attach(busDevice(2));
    attach(busDevice(2));
    platform::DeviceList* list = platform::deviceListOpen();
    EXPECT_EQ(pathAt(list, 0), longPath);
    const std::string madeUp1 = pathAt(list, 1);
    const std::string madeUp2 = pathAt(list, 2);
    platform::deviceListClose(list);
    EXPECT_FALSE(madeUp1.empty());
    EXPECT_NE(madeUp1, madeUp2);
    platform::Device* handle = open(longPath, platform::Access::Query);
    EXPECT_NE(handle, nullptr) << "the whole path opens the device";
    platform::deviceClose(handle);
    EXPECT_EQ(open(longPath.substr(0, 255), platform::Access::Query), nullptr);
}

class BusDevices : public BusTest {};

TEST_F(BusDevices, OpenOfAnUnknownOrUnpluggedPathAnswers2) {
    uint32_t error = 0;
    EXPECT_EQ(open("nowhere", platform::Access::Query, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
    const int32_t device = attach(busDevice(1, 8, 8, "gone soon"));
    juxsim_detach(device);
    error = 0;
    EXPECT_EQ(open("gone soon", platform::Access::Read, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
    EXPECT_EQ(currentCounts().handles, baseline_.handles);
}

TEST_F(BusDevices, AttributesAndCapsDescribeTheAttachedDevice) {
    JuxsimDeviceInfo info = busDevice(0x4321, 65, 33, "described");
    info.usagePage = 0xFF31;
    info.usage = 0x74;
    attach(info);
    platform::Device* handle = open("described", platform::Access::Query);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(currentCounts().handles, baseline_.handles + 1);
    platform::DeviceAttributes attributes{};
    uint32_t error = 0;
    ASSERT_TRUE(platform::deviceAttributes(handle, &attributes, &error));
    EXPECT_EQ(attributes.vendorId, 0x1A2B);
    EXPECT_EQ(attributes.productId, 0x4321);
    platform::Preparsed* preparsed = platform::devicePreparsed(handle, &error);
    ASSERT_NE(preparsed, nullptr);
    EXPECT_EQ(currentCounts().preparsed, baseline_.preparsed + 1);
    platform::DeviceCaps caps{};
    ASSERT_TRUE(platform::deviceCaps(preparsed, &caps));
    EXPECT_EQ(caps.usagePage, 0xFF31);
    EXPECT_EQ(caps.usage, 0x74);
    EXPECT_EQ(caps.inputReportByteLength, 65);
    EXPECT_EQ(caps.outputReportByteLength, 33);
    platform::preparsedFree(preparsed);
    platform::deviceClose(handle);
}

TEST_F(BusDevices, EachOpenIsAHandleOfItsOwn) {
    attach(busDevice(1, 8, 8, "shared"));
    platform::Device* a = open("shared", platform::Access::Read);
    platform::Device* b = open("shared", platform::Access::Read);
    platform::Device* c = open("shared", platform::Access::Write);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(currentCounts().handles, baseline_.handles + 3);
    platform::deviceClose(a);
    platform::deviceClose(b);
    platform::deviceClose(c);
}

TEST_F(BusDevices, UnknownIdsAreRefusedAndResetForgetsDevices) {
    EXPECT_EQ(juxsim_attach(nullptr), -1);
    EXPECT_EQ(juxsim_detach(9999), -1);
    EXPECT_EQ(juxsim_output_count(9999), -1);
    EXPECT_EQ(juxsim_set_write_delay(9999, 1), -1);
    EXPECT_EQ(juxsim_take_output(9999, nullptr, 0, nullptr, nullptr), -1);
    const uint8_t byte = 0;
    EXPECT_EQ(juxsim_deliver(9999, &byte, 1), -1);
    const int32_t device = attach(busDevice(1));
    EXPECT_EQ(juxsim_output_count(device), 0);
    juxsim_reset();
    EXPECT_EQ(juxsim_output_count(device), -1);
    EXPECT_GT(attach(busDevice(1)), device) << "ids are never reused";
}

}  // namespace
}  // namespace juxhid::test
