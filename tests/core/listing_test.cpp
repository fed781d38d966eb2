// Listing: statuses, list order, skipped candidates, the 25-row limit, path
// truncation and the length queries.
#include <cstring>
#include <string>

#include "frame/library_state.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

class Listing : public SimTest {
protected:
    int32_t attach(uint32_t product, uint32_t vendor = kVendor, uint32_t input = 8, uint32_t output = 8) {
        JuxsimDeviceInfo info = deviceInfo(product, input, output, vendor);
        return juxsim_attach(&info);
    }
};

TEST_F(Listing, NoDeviceOfTheVendorAnswers102AndLeavesTheCallerAlone) {
    attach(1, 0x9999);
    count_ = 77;
    summaries_[0].ProductID = 0xDEAD;
    EXPECT_EQ(EnumerateJUX(kVendor, summaries_, &count_), JUXHID_LIST_NO_DEVICE);
    EXPECT_EQ(count_, 77);
    EXPECT_EQ(summaries_[0].ProductID, 0xDEADu);
    EXPECT_EQ(GetReadLength(0), -1);
}

TEST_F(Listing, MatchingDevicesGetConsecutiveIndicesInListOrder) {
    attach(0x10);
    attach(0x20, 0x9999);  // another vendor
    attach(0x30);
    const int32_t unopenable = attach(0x40);
    attach(0x50);
    const int32_t fault = armFault(JUXSIM_CALL_OPEN_QUERY, 5, 1, JUXSIM_THREAD_ANY, unopenable);
    ASSERT_EQ(list(), JUXHID_OK);
    EXPECT_EQ(juxsim_fault_fired(fault), 1);
    ASSERT_EQ(count_, 3);
    const uint32_t expected[] = {0x10, 0x30, 0x50};
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(summaries_[i].ProductID, expected[i]);
        EXPECT_EQ(summaries_[i].Index, i);
        EXPECT_EQ(summaries_[i].Usage, 1u);
        EXPECT_EQ(summaries_[i].UsagePage, 0xFF00u);
    }
}

TEST_F(Listing, EveryPerCandidateFailureSkipsWithoutLeaking) {
    const int32_t calls[] = {JUXSIM_CALL_DETAIL_SIZE, JUXSIM_CALL_DETAIL_FETCH, JUXSIM_CALL_OPEN_QUERY,
                             JUXSIM_CALL_ATTRIBUTES, JUXSIM_CALL_PREPARSED, JUXSIM_CALL_CAPS};
    for (const int32_t call : calls) {
        juxsim_reset();
        attach(0x10);
        const int32_t second = attach(0x20);
        attach(0x30);
        const int32_t fault = armFault(call, 31, 1, JUXSIM_THREAD_ANY, second);
        ASSERT_EQ(list(), JUXHID_OK) << "call " << call;
        EXPECT_EQ(juxsim_fault_fired(fault), 1) << "call " << call;
        ASSERT_EQ(count_, 2) << "call " << call;
        EXPECT_EQ(summaries_[1].ProductID, 0x30u) << "call " << call;
        JuxsimCounts counts{};
        juxsim_counts(&counts);
        EXPECT_TRUE(nothingOpen(counts)) << "call " << call << ": " << describe(counts);
    }
}

TEST_F(Listing, DetailBufferThatCannotBeHadSkipsTheCandidate) {
    attach(0x10);
    attach(0x20);
    const int32_t fault = armFault(JUXSIM_CALL_ALLOCATE, 0, 1, JUXSIM_THREAD_ARMING);
    ASSERT_EQ(list(), JUXHID_OK);
    EXPECT_EQ(juxsim_fault_fired(fault), 1);
    ASSERT_EQ(count_, 1);
    EXPECT_EQ(summaries_[0].ProductID, 0x20u);
}

TEST_F(Listing, ThirtyMatchingInterfacesRecordTheFirst25AndOpenNoMore) {
    for (uint32_t p = 1; p <= 30; ++p) attach(p);
    // Any query open past the 25th would fire this fault.
    const int32_t beyond = armFault(JUXSIM_CALL_OPEN_QUERY, 31, -1, JUXSIM_THREAD_ANY, 0, 25);
    ASSERT_EQ(list(), JUXHID_OK);
    EXPECT_EQ(count_, 25);
    EXPECT_EQ(summaries_[24].ProductID, 25u);
    EXPECT_EQ(juxsim_fault_fired(beyond), 0);
}

TEST_F(Listing, ExactlyTwentyFiveEndTheWalkAtOnce) {
    for (uint32_t p = 1; p <= 25; ++p) attach(p);
    // A 26th member request would be the walk going on.
    const int32_t beyond = armFault(JUXSIM_CALL_LIST_INTERFACE, 31, -1, JUXSIM_THREAD_ANY, 0, 25);
    ASSERT_EQ(list(), JUXHID_OK);
    EXPECT_EQ(count_, 25);
    EXPECT_EQ(juxsim_fault_fired(beyond), 0);
}

TEST_F(Listing, VendorIdIsComparedAsAWhole32BitValue) {
    attach(1);
    EXPECT_EQ(list(0x10000u + kVendor), JUXHID_LIST_NO_DEVICE);
    EXPECT_EQ(list(kVendor), JUXHID_OK);
}

TEST_F(Listing, TwoInterfacesOfOneDeviceGiveTwoRows) {
    JuxsimDeviceInfo keyboard = deviceInfo(0x77, 9, 2);
    keyboard.usagePage = 1;
    keyboard.usage = 6;
    JuxsimDeviceInfo vendorSide = deviceInfo(0x77, 65, 65);
    juxsim_attach(&keyboard);
    juxsim_attach(&vendorSide);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(count_, 2);
    EXPECT_EQ(summaries_[0].ProductID, summaries_[1].ProductID);
    EXPECT_EQ(summaries_[0].UsagePage, 1u);
    EXPECT_EQ(summaries_[0].Usage, 6u);
    EXPECT_EQ(summaries_[1].UsagePage, 0xFF00u);
    EXPECT_EQ(GetReadLength(0), 9);
    EXPECT_EQ(GetWriteLength(1), 65);
}

TEST_F(Listing, LongPathIsKeptAsItsFirst255Characters) {
    const std::string longPath(300, 'p');
    JuxsimDeviceInfo info = deviceInfo(1, 8, 8);
    info.path = longPath.c_str();
    juxsim_attach(&info);
    ASSERT_EQ(list(), JUXHID_OK);
    const DeviceEntry& entry = state().devices[0];
    EXPECT_EQ(std::string(entry.DevicePath), longPath.substr(0, 255));
    EXPECT_EQ(entry.DevicePath[255], '\0');
}

TEST_F(Listing, ShorterRelistingHidesOldRowsFromTheQueries) {
    attach(1);
    attach(2);
    attach(3);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(count_, 3);
    juxsim_reset();
    attach(9);
    ASSERT_EQ(list(), JUXHID_OK);
    EXPECT_EQ(count_, 1);
    EXPECT_EQ(GetReadLength(1), -1);
    EXPECT_EQ(state().devices[1].ProductID, 2u) << "the old row stays, out of reach";
    EXPECT_EQ(GetReadLength(-1), -1);
    EXPECT_EQ(GetWriteLength(1), -1);
}

TEST_F(Listing, DeviceWithoutOutputIsListedWithLengthZero) {
    attach(1, kVendor, 8, 0);
    ASSERT_EQ(list(), JUXHID_OK);
    EXPECT_EQ(GetWriteLength(0), 0);
    EXPECT_EQ(GetReadLength(0), 8);
}

TEST_F(Listing, NoListAnswers101AndAFailedWalkKeepsEarlierRows) {
    attach(1);
    attach(2);
    attach(3);
    armFault(JUXSIM_CALL_LIST_OPEN, 0);
    EXPECT_EQ(list(), JUXHID_LIST_NO_DEVICE_LIST);
    EXPECT_EQ(count_, -1);
    EXPECT_EQ(GetReadLength(0), -1);

    const int32_t fault = armFault(JUXSIM_CALL_LIST_INTERFACE, 13, 1, JUXSIM_THREAD_ANY, 0, 2);
    EXPECT_EQ(list(), JUXHID_LIST_WALK_FAILED);
    EXPECT_EQ(juxsim_fault_fired(fault), 1);
    EXPECT_EQ(count_, -1) << "count untouched on failure";
    EXPECT_EQ(GetReadLength(1), 8) << "rows recorded before the failure stay valid";
    EXPECT_EQ(GetReadLength(2), -1);
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(counts.deviceLists, 0);
}

TEST_F(Listing, NullArrayOrCountAnswers104AndChangesNothing) {
    attach(1);
    ASSERT_EQ(list(), JUXHID_OK);
    int32_t count = 5;
    EXPECT_EQ(EnumerateJUX(kVendor, nullptr, &count), JUXHID_LIST_BAD_POINTER);
    EXPECT_EQ(EnumerateJUX(kVendor, summaries_, nullptr), JUXHID_LIST_BAD_POINTER);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(GetReadLength(0), 8) << "a refused call keeps the earlier listing";
}

TEST_F(Listing, RelistingClosesAnInterfaceStillOpen) {
    const int32_t device = attach(1);
    ASSERT_EQ(list(), JUXHID_OK);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    ASSERT_EQ(list(), JUXHID_OK);
    // The reader of the first opening is gone; nothing of it is left open.
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    EXPECT_EQ(counts.threads, 0) << describe(counts);
    EXPECT_EQ(counts.handles, 0) << describe(counts);
    ASSERT_EQ(SetupInterface(0), JUXHID_OK);
    EXPECT_EQ(deliver(device, report(8, 0, 5)), 1);
}

}  // namespace
}  // namespace juxhid::test
