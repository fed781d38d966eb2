// juxhid.dll on the platform's real device-setup and HID services (under
// Wine: Wine's own HID devices). Every expectation comes from what the
// platform reports in the same run, asked directly by the census.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "hid_census.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "loaded_library.h"

namespace juxhid::test {
namespace {

constexpr const char* kLibrary = "juxhid.dll";

// The status SetupInterface must answer, from the platform's own opens.
int32_t expectedOpenStatus(const HidInterface& hid) {
    const auto byError = [](uint32_t error, int32_t denied, int32_t notFound, int32_t other) {
        if (error == ERROR_ACCESS_DENIED) return denied;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return notFound;
        return other;
    };
    if (hid.inputLength > 0 && hid.readOpenError != 0)
        return byError(hid.readOpenError, JUXHID_OPEN_READ_DENIED, JUXHID_OPEN_READ_NOT_FOUND,
                       JUXHID_OPEN_READ_FAILED);
    if (hid.writeOpenError != 0)
        return byError(hid.writeOpenError, JUXHID_OPEN_WRITE_DENIED, JUXHID_OPEN_WRITE_NOT_FOUND,
                       JUXHID_OPEN_WRITE_FAILED);
    return JUXHID_OK;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class RealStack : public ::testing::Test {
protected:
    void SetUp() override {
        census_ = takeHidCensus();
        ASSERT_TRUE(library_.loaded()) << "LoadLibraryA failed with " << GetLastError();
        enumerate_ = library_.get<decltype(&EnumerateJUX)>("EnumerateJUX");
        readLength_ = library_.get<decltype(&GetReadLength)>("GetReadLength");
        writeLength_ = library_.get<decltype(&GetWriteLength)>("GetWriteLength");
        setup_ = library_.get<decltype(&SetupInterface)>("SetupInterface");
        close_ = library_.get<decltype(&CloseInterface)>("CloseInterface");
        readData_ = library_.get<decltype(&ReadData)>("ReadData");
        ASSERT_TRUE(enumerate_ && readLength_ && writeLength_ && setup_ && close_ && readData_);
    }
    void TearDown() override {
        if (close_ == nullptr || !library_.loaded()) return;
        for (int32_t index = 0; index < JUXHID_MAX_DEVICES; ++index) close_(index);
    }

    // Lists one vendor; answers the status and fills listed_.
    int32_t list(uint32_t vendor) {
        count_ = -7;
        return enumerate_(vendor, listed_, &count_);
    }

    // A vendor with an interface that opens completely and has input reports.
    bool findReadableVendor(uint16_t* vendor, int32_t* index) const {
        for (const uint16_t candidate : vendorsIn(census_)) {
            const std::vector<HidInterface> matching = ofVendor(census_, candidate);
            for (size_t at = 0; at < matching.size() && at < JUXHID_MAX_DEVICES; ++at) {
                if (matching[at].inputLength > 0 && expectedOpenStatus(matching[at]) == JUXHID_OK) {
                    *vendor = candidate;
                    *index = static_cast<int32_t>(at);
                    return true;
                }
            }
        }
        return false;
    }

    std::vector<HidInterface> census_;
    LoadedLibrary library_{kLibrary};
    decltype(&EnumerateJUX) enumerate_ = nullptr;
    decltype(&GetReadLength) readLength_ = nullptr;
    decltype(&GetWriteLength) writeLength_ = nullptr;
    decltype(&SetupInterface) setup_ = nullptr;
    decltype(&CloseInterface) close_ = nullptr;
    decltype(&ReadData) readData_ = nullptr;
    DeviceSummary listed_[JUXHID_MAX_DEVICES]{};
    int32_t count_ = -7;
};

TEST_F(RealStack, ListsEachVendorsInterfacesAsThePlatformReportsThem) {
    if (census_.empty()) GTEST_SKIP() << "the platform reports no HID interface";
    for (const uint16_t vendor : vendorsIn(census_)) {
        SCOPED_TRACE(::testing::Message() << "vendor 0x" << std::hex << vendor);
        const std::vector<HidInterface> expected = ofVendor(census_, vendor);
        ASSERT_EQ(list(vendor), JUXHID_OK);
        const int32_t rows = static_cast<int32_t>(std::min<size_t>(expected.size(), JUXHID_MAX_DEVICES));
        ASSERT_EQ(count_, rows);
        for (int32_t row = 0; row < rows; ++row) {
            const HidInterface& hid = expected[static_cast<size_t>(row)];
            EXPECT_EQ(listed_[row].ProductID, hid.productId) << "row " << row;
            EXPECT_EQ(listed_[row].Usage, hid.usage) << "row " << row;
            EXPECT_EQ(listed_[row].UsagePage, hid.usagePage) << "row " << row;
            EXPECT_EQ(listed_[row].Index, row);
            EXPECT_EQ(readLength_(row), hid.inputLength) << "row " << row;
            EXPECT_EQ(writeLength_(row), hid.outputLength) << "row " << row;
        }
        EXPECT_EQ(readLength_(rows), -1);
    }
}

TEST_F(RealStack, VendorsWithoutInterfacesListNothing) {
    EXPECT_EQ(list(absentVendor(census_)), JUXHID_LIST_NO_DEVICE);
    EXPECT_EQ(count_, -7) << "a listing that found nothing wrote the count";
    EXPECT_EQ(readLength_(0), -1);
    if (census_.empty()) return;
    // The vendor id is compared as a whole 32-bit value.
    EXPECT_EQ(list(0x10000u + census_.front().vendorId), JUXHID_LIST_NO_DEVICE);
}

TEST_F(RealStack, OpensOrRefusesWithTheCodesOfThePlatformsOwnOpens) {
    if (census_.empty()) GTEST_SKIP() << "the platform reports no HID interface";
    for (const uint16_t vendor : vendorsIn(census_)) {
        const std::vector<HidInterface> expected = ofVendor(census_, vendor);
        ASSERT_EQ(list(vendor), JUXHID_OK);
        for (int32_t row = 0; row < count_; ++row) {
            const HidInterface& hid = expected[static_cast<size_t>(row)];
            SCOPED_TRACE(hid.path);
            const int32_t status = expectedOpenStatus(hid);
            EXPECT_EQ(setup_(row), status);
            if (status == JUXHID_OK && hid.inputLength > 0) {
                std::vector<uint8_t> report(hid.inputLength);
                const int32_t read = readData_(row, report.data());
                EXPECT_TRUE(read == JUXHID_OK || read == JUXHID_READ_EMPTY)
                    << "ReadData answered " << read;
            }
            close_(row);
            // Closed cleanly, it opens again the same way.
            EXPECT_EQ(setup_(row), status);
            close_(row);
        }
    }
}

// The reader is blocked in a read of a device that sends nothing; closing
// must end that read instead of waiting for a report.
TEST_F(RealStack, CloseEndsTheReadPendingOnTheDevice) {
    uint16_t vendor = 0;
    int32_t index = 0;
    if (!findReadableVendor(&vendor, &index))
        GTEST_SKIP() << "no interface with input reports opens fully";
    ASSERT_EQ(list(vendor), JUXHID_OK);
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(setup_(index), JUXHID_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 20));
        const auto start = std::chrono::steady_clock::now();
        close_(index);
        EXPECT_LT(msSince(start), 2000.0) << "round " << round;
    }
}

TEST_F(RealStack, FreedAfterClosingTheLibraryIsUnmapped) {
    uint16_t vendor = 0;
    int32_t index = 0;
    if (findReadableVendor(&vendor, &index)) {
        ASSERT_EQ(list(vendor), JUXHID_OK);
        ASSERT_EQ(setup_(index), JUXHID_OK);
        close_(index);
    }
    library_.unload();
    EXPECT_TRUE(eventually([&] { return !library_.stillMapped(); }));
}

// A reader blocked on a real device keeps the DLL mapped after the host's
// FreeLibrary; the host can load it again and close what it left open.
TEST_F(RealStack, FreedWithAReaderBlockedTheLibraryStaysUntilItIsClosed) {
    uint16_t vendor = 0;
    int32_t index = 0;
    if (!findReadableVendor(&vendor, &index))
        GTEST_SKIP() << "no interface with input reports opens fully";
    ASSERT_EQ(list(vendor), JUXHID_OK);
    ASSERT_EQ(setup_(index), JUXHID_OK);
    const int32_t length = readLength_(index);
    library_.unload();
    ASSERT_TRUE(library_.stillMapped()) << "unmapped under a running reader";
    LoadedLibrary again(kLibrary);
    ASSERT_TRUE(again.loaded());
    EXPECT_EQ(again.get<decltype(&GetReadLength)>("GetReadLength")(index), length);
    again.get<decltype(&CloseInterface)>("CloseInterface")(index);
    again.unload();
    EXPECT_TRUE(eventually([&] { return !again.stillMapped(); }));
}

}  // namespace
}  // namespace juxhid::test
