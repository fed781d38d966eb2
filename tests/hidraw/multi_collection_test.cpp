// Interfaces with several top-level collections: each is a device of its own
// on Windows, with its own usages, lengths and report IDs.
#include <gtest/gtest.h>

#include "hidraw/descriptors.h"
#include "platform/hidraw/report_descriptor.h"

namespace juxhid::hidraw {
namespace {

bool ownsExactly(const ReportIdSet& ids, std::initializer_list<uint8_t> expected) {
    for (uint32_t id = 0; id < 256; ++id) {
        const bool wanted = std::find(expected.begin(), expected.end(), id) != expected.end();
        if (ids.contains(static_cast<uint8_t>(id)) != wanted) return false;
    }
    return true;
}

TEST(MultiCollectionDescriptor, CompositeKeyboardGivesEachCollectionItsLengthsAndIds) {
    const auto& bytes = testing::kCompositeKeyboard;
    ReportDescriptor descriptor{};
    ASSERT_TRUE(parseReportDescriptor(bytes.data(), bytes.size(), &descriptor));
    EXPECT_TRUE(descriptor.numbered);
    ASSERT_EQ(descriptor.collectionCount, 3u);

    const TopLevelCollection& keyboard = descriptor.collections[0];
    EXPECT_EQ(keyboard.usagePage, 0x01);
    EXPECT_EQ(keyboard.usage, 0x06);
    EXPECT_EQ(keyboard.inputReportByteLength, 9);
    EXPECT_EQ(keyboard.outputReportByteLength, 2);
    EXPECT_TRUE(ownsExactly(keyboard.reportIds, {1}));

    const TopLevelCollection& consumer = descriptor.collections[1];
    EXPECT_EQ(consumer.usagePage, 0x0C);
    EXPECT_EQ(consumer.usage, 0x01);
    EXPECT_EQ(consumer.inputReportByteLength, 3);
    EXPECT_EQ(consumer.outputReportByteLength, 0);
    EXPECT_TRUE(ownsExactly(consumer.reportIds, {2}));

    const TopLevelCollection& vendor = descriptor.collections[2];
    EXPECT_EQ(vendor.usagePage, 0xFF00);
    EXPECT_EQ(vendor.usage, 0x01);
    EXPECT_EQ(vendor.inputReportByteLength, 33);
    EXPECT_EQ(vendor.outputReportByteLength, 33);
    EXPECT_EQ(vendor.featureReportByteLength, 5);
    EXPECT_TRUE(ownsExactly(vendor.reportIds, {3, 4, 5}));
}

TEST(MultiCollectionDescriptor, ReportIdCarriesOverIntoTheNextCollectionUntilChanged) {
    // Report ID is global state: a second collection that sets none goes on
    // with report 1, and its items add to that collection's report 1 only.
    const testing::Bytes bytes = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08,
                                  0x95, 0x04, 0x81, 0x02, 0xC0, 0x09, 0x02, 0xA1, 0x01, 0x95, 0x02,
                                  0x81, 0x02, 0xC0};
    ReportDescriptor descriptor{};
    ASSERT_TRUE(parseReportDescriptor(bytes.data(), bytes.size(), &descriptor));
    ASSERT_EQ(descriptor.collectionCount, 2u);
    EXPECT_EQ(descriptor.collections[0].inputReportByteLength, 5);
    EXPECT_EQ(descriptor.collections[1].inputReportByteLength, 3);
    EXPECT_TRUE(ownsExactly(descriptor.collections[1].reportIds, {1}));
}

}  // namespace
}  // namespace juxhid::hidraw
