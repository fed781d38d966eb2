// The descriptor parser: what a top-level collection is and how long its
// reports are, counted as the Windows caps count them, and what it refuses.
#include <gtest/gtest.h>

#include "hidraw/descriptors.h"
#include "platform/hidraw/report_descriptor.h"

namespace juxhid::hidraw {
namespace {

using testing::Bytes;

struct Expected {
    uint16_t usagePage;
    uint16_t usage;
    uint16_t input;
    uint16_t output;
};

ReportDescriptor parsed(const Bytes& bytes) {
    ReportDescriptor descriptor{};
    EXPECT_TRUE(parseReportDescriptor(bytes.data(), bytes.size(), &descriptor));
    return descriptor;
}

bool accepted(const Bytes& bytes) {
    // A copy of exactly the given length, so that the address sanitizer sees
    // any read past the end.
    auto* copy = new uint8_t[bytes.size() + 1];
    std::copy(bytes.begin(), bytes.end(), copy);
    ReportDescriptor descriptor{};
    const bool result = parseReportDescriptor(bytes.empty() ? nullptr : copy, bytes.size(), &descriptor);
    delete[] copy;
    return result;
}

void expectOnlyCollection(const Bytes& bytes, const Expected& expected) {
    const ReportDescriptor descriptor = parsed(bytes);
    ASSERT_EQ(descriptor.collectionCount, 1u);
    const TopLevelCollection& collection = descriptor.collections[0];
    EXPECT_EQ(collection.usagePage, expected.usagePage);
    EXPECT_EQ(collection.usage, expected.usage);
    EXPECT_EQ(collection.inputReportByteLength, expected.input);
    EXPECT_EQ(collection.outputReportByteLength, expected.output);
}

// An application collection of page 0xFF00 usage 1 around `body`.
Bytes inVendorCollection(const Bytes& body) {
    static constexpr uint8_t kHead[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
    Bytes bytes(sizeof kHead + body.size() + 1, 0xC0);
    std::copy(std::begin(kHead), std::end(kHead), bytes.begin());
    std::copy(body.begin(), body.end(), bytes.begin() + sizeof kHead);
    return bytes;
}

TEST(TypicalDeviceDescriptors, BootKeyboardGivesNineBytesInAndTwoOut) {
    expectOnlyCollection(testing::kBootKeyboard, {0x01, 0x06, 9, 2});
    EXPECT_FALSE(parsed(testing::kBootKeyboard).numbered);
}

TEST(TypicalDeviceDescriptors, BootMouseCountsItsNestedPhysicalCollection) {
    expectOnlyCollection(testing::kBootMouse, {0x01, 0x02, 4, 0});
}

TEST(TypicalDeviceDescriptors, NumberedGamePadCountsEachKindByItsOwnReport) {
    expectOnlyCollection(testing::kGamePad, {0x01, 0x05, 8, 3});
    const ReportDescriptor descriptor = parsed(testing::kGamePad);
    EXPECT_TRUE(descriptor.numbered);
    EXPECT_TRUE(descriptor.collections[0].reportIds.contains(1));
    EXPECT_TRUE(descriptor.collections[0].reportIds.contains(2));
    EXPECT_FALSE(descriptor.collections[0].reportIds.contains(0));
}

TEST(TypicalDeviceDescriptors, VendorDefinedDeviceWithSixtyFourBytesEachWay) {
    expectOnlyCollection(testing::kVendorDefined, {0xFF00, 0x01, 65, 65});
}

TEST(TypicalDeviceDescriptors, FeatureOnlyDeviceHasNoInputOrOutputLength) {
    expectOnlyCollection(testing::kFeatureOnly, {0xFF60, 0x61, 0, 0});
    EXPECT_EQ(parsed(testing::kFeatureOnly).collections[0].featureReportByteLength, 9);
}

TEST(ReportLengths, UnnumberedReportIsRoundedUpToWholeBytesPlusTheIdByte) {
    // 3 bits in, 9 bits out.
    const Bytes bytes = inVendorCollection({0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x95, 0x09, 0x91, 0x02});
    expectOnlyCollection(bytes, {0xFF00, 0x01, 2, 3});
    EXPECT_TRUE(parsed(bytes).collections[0].reportIds.contains(0));
}

TEST(ReportLengths, LongestOfSeveralNumberedReportsCounts) {
    // Report 1: 4 bytes in; report 2: 10 bytes in; report 3: 6 bytes out.
    const Bytes bytes = inVendorCollection({0x75, 0x08, 0x85, 0x01, 0x95, 0x04, 0x81, 0x02, 0x85, 0x02,
                                            0x95, 0x0A, 0x81, 0x02, 0x85, 0x03, 0x95, 0x06, 0x91, 0x02});
    expectOnlyCollection(bytes, {0xFF00, 0x01, 11, 7});
}

TEST(ReportLengths, ItemsOfOneReportAddUpAcrossNestedCollections) {
    // Report 1: 2 bytes, then a logical collection adds 3 more to it.
    const Bytes bytes = inVendorCollection({0x85, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xA1, 0x02,
                                            0x95, 0x03, 0x81, 0x02, 0xC0});
    expectOnlyCollection(bytes, {0xFF00, 0x01, 6, 0});
}

TEST(ReportLengths, ItemsWithoutBitsMakeNoReport) {
    const Bytes bytes = inVendorCollection({0x75, 0x08, 0x95, 0x00, 0x81, 0x02, 0x75, 0x00, 0x95, 0x04, 0x91, 0x02});
    expectOnlyCollection(bytes, {0xFF00, 0x01, 0, 0});
}

TEST(ReportLengths, PopRestoresReportSizeCountAndId) {
    // Push with size 8 count 2 ID 1, change all three for report 2, pop,
    // and the next input adds 2 bytes to report 1 again.
    const Bytes bytes = inVendorCollection({0x75, 0x08, 0x95, 0x02, 0x85, 0x01, 0xA4, 0x75, 0x10, 0x95,
                                            0x08, 0x85, 0x02, 0x81, 0x02, 0xB4, 0x81, 0x02, 0x81, 0x02});
    const ReportDescriptor descriptor = parsed(bytes);
    ASSERT_EQ(descriptor.collectionCount, 1u);
    // Report 2 is 16 bytes, report 1 is 4: the longest is 16 + 1.
    EXPECT_EQ(descriptor.collections[0].inputReportByteLength, 17);
    const Bytes withoutReportTwo = inVendorCollection({0x75, 0x08, 0x95, 0x02, 0x85, 0x01, 0xA4, 0x75, 0x10,
                                                       0xB4, 0x81, 0x02, 0x81, 0x02, 0x81, 0x02});
    expectOnlyCollection(withoutReportTwo, {0xFF00, 0x01, 7, 0});
}

TEST(ReportLengths, LongItemsAndReservedMainTagsAreSteppedOver) {
    // A long item whose data looks like a 200-byte input, then trailing zero
    // padding after the last End Collection.
    Bytes bytes = inVendorCollection({0x75, 0x08, 0x95, 0x02, 0xFE, 0x04, 0x10, 0x95, 0xC8, 0x81, 0x02,
                                      0x81, 0x02});
    bytes.insert(bytes.end(), {0x00, 0x00, 0x00});
    expectOnlyCollection(bytes, {0xFF00, 0x01, 3, 0});
}

TEST(CollectionUsages, FourByteUsageCarriesItsOwnPage) {
    // Usage page says Generic Desktop, the extended usage says Digitizer / 4.
    const Bytes bytes = {0x05, 0x01, 0x0B, 0x04, 0x00, 0x0D, 0x00, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0};
    expectOnlyCollection(bytes, {0x0D, 0x04, 2, 0});
}

TEST(CollectionUsages, ShortUsageTakesThePageInForceAtTheCollection) {
    const Bytes bytes = {0x05, 0x01, 0x09, 0x01, 0x05, 0x0C, 0xA1, 0x01, 0xC0};
    expectOnlyCollection(bytes, {0x0C, 0x01, 0, 0});
}

TEST(CollectionUsages, UsageMinimumNamesACollectionWithoutAUsage) {
    const Bytes bytes = {0x05, 0x0C, 0x19, 0x03, 0x29, 0x05, 0xA1, 0x01, 0xC0};
    expectOnlyCollection(bytes, {0x0C, 0x03, 0, 0});
}

TEST(CollectionUsages, UsagesAreForgottenAfterEachMainItem) {
    // The second collection has no usage of its own: the first one's is spent.
    const Bytes bytes = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0, 0xA1, 0x01, 0xC0};
    const ReportDescriptor descriptor = parsed(bytes);
    ASSERT_EQ(descriptor.collectionCount, 2u);
    EXPECT_EQ(descriptor.collections[0].usage, 0x02);
    EXPECT_EQ(descriptor.collections[1].usage, 0x00);
}

TEST(CollectionKinds, OnlyCollectionsAtTheTopAreTopLevelWhateverTheirKind) {
    // Application { Logical { Application {} } }, then a Physical one at the top.
    const Bytes bytes = {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x09, 0x05, 0xA1, 0x02, 0x09, 0x06, 0xA1, 0x01,
                         0xC0, 0xC0, 0xC0, 0x09, 0x08, 0xA1, 0x00, 0xC0};
    const ReportDescriptor descriptor = parsed(bytes);
    ASSERT_EQ(descriptor.collectionCount, 2u);
    EXPECT_EQ(descriptor.collections[0].usage, 0x04);
    EXPECT_EQ(descriptor.collections[1].usage, 0x08);
}

TEST(CollectionKinds, ThirtyTwoTopLevelCollectionsAreTheMost) {
    Bytes bytes = {0x05, 0x01};
    for (uint32_t i = 0; i < kMaxTopLevelCollections; ++i) bytes.insert(bytes.end(), {0xA1, 0x01, 0xC0});
    EXPECT_EQ(parsed(bytes).collectionCount, kMaxTopLevelCollections);
    bytes.insert(bytes.end(), {0xA1, 0x01, 0xC0});
    EXPECT_FALSE(accepted(bytes));
}

TEST(RejectedDescriptors, ItemsCutShortByTheEnd) {
    EXPECT_FALSE(accepted({0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0, 0x26, 0xFF}));   // 2-byte data, 1 there
    EXPECT_FALSE(accepted({0x05, 0x01, 0xA1, 0x01, 0xC0, 0x27, 0x00, 0x00, 0x01}));   // 4-byte data, 3 there
    EXPECT_FALSE(accepted({0x05, 0x01, 0xA1, 0x01, 0xC0, 0xFE, 0x05, 0x10, 1, 2}));   // long item, 2 of 5
    EXPECT_FALSE(accepted({0x05, 0x01, 0xA1, 0x01, 0xC0, 0xFE, 0x05}));               // long item header
}

TEST(RejectedDescriptors, EveryProperPrefixOfAKeyboardIsRefused) {
    const Bytes& full = testing::kBootKeyboard;
    for (size_t length = 0; length < full.size(); ++length)
        EXPECT_FALSE(accepted(Bytes(full.begin(), full.begin() + static_cast<long>(length)))) << length;
}

TEST(RejectedDescriptors, UnbalancedCollections) {
    EXPECT_FALSE(accepted({0x05, 0x01, 0xC0}));
    EXPECT_FALSE(accepted({0x05, 0x01, 0xA1, 0x01, 0xA1, 0x00, 0xC0}));
    EXPECT_FALSE(accepted({0x05, 0x01, 0xA1, 0x01, 0xC0, 0xC0}));
}

TEST(RejectedDescriptors, PopWithoutPushAndPushTooDeep) {
    EXPECT_FALSE(accepted(inVendorCollection({0xB4})));
    Bytes deep;
    for (int i = 0; i < 17; ++i) deep.push_back(0xA4);
    EXPECT_FALSE(accepted(inVendorCollection(deep)));
    deep.pop_back();
    for (int i = 0; i < 16; ++i) deep.push_back(0xB4);
    EXPECT_TRUE(accepted(inVendorCollection(deep)));
}

TEST(RejectedDescriptors, ReportIdsOutsideOneToTwoHundredFiftyFive) {
    EXPECT_FALSE(accepted(inVendorCollection({0x85, 0x00})));
    EXPECT_FALSE(accepted(inVendorCollection({0x86, 0x00, 0x01})));
    EXPECT_TRUE(accepted(inVendorCollection({0x86, 0xFF, 0x00})));
}

TEST(RejectedDescriptors, ReportsOutsideEveryCollection) {
    EXPECT_FALSE(accepted({0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x05, 0x01, 0xA1, 0x01, 0xC0}));
}

TEST(RejectedDescriptors, NumberedAndUnnumberedReportsMixed) {
    EXPECT_FALSE(accepted(inVendorCollection({0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02})));
}

TEST(RejectedDescriptors, ReportTooLongForTheCaps) {
    // 65534 bytes is the longest a report can be and still count its ID byte.
    EXPECT_TRUE(accepted(inVendorCollection({0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02})));
    EXPECT_FALSE(accepted(inVendorCollection({0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02})));
    // The widest fields there are: their product must not wrap around.
    EXPECT_FALSE(accepted(inVendorCollection(
        {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02})));
    EXPECT_FALSE(accepted(inVendorCollection(
        {0x77, 0x00, 0x00, 0x01, 0x00, 0x97, 0x00, 0x00, 0x01, 0x00, 0x81, 0x02})));
}

TEST(RejectedDescriptors, NothingThatIsACollection) {
    EXPECT_FALSE(accepted({}));
    EXPECT_FALSE(accepted({0x05, 0x01, 0x09, 0x06, 0x00, 0x00}));
}

}  // namespace
}  // namespace juxhid::hidraw
