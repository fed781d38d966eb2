#include "bus_test_support.h"

namespace juxhid::test {
namespace {

using platform::Access;
using platform::kErrorDeviceNotConnected;
using platform::kErrorOperationAborted;
using platform::Transfer;

// A read run on a thread of its own, so the test can act while it blocks.
class PendingRead {
public:
    PendingRead(platform::Device* handle, uint32_t length) : buffer_(length, 0xEE) {
        thread_ = std::thread([this, handle] {
            result_ = platform::deviceRead(handle, buffer_.data(), static_cast<uint32_t>(buffer_.size()));
            done_ = true;
        });
    }
    ~PendingRead() {
        if (thread_.joinable()) thread_.join();
    }
    bool done() const { return done_; }
    Transfer finish() {
        thread_.join();
        return result_;
    }
    const std::vector<uint8_t>& bytes() const { return buffer_; }

private:
    std::vector<uint8_t> buffer_;
    Transfer result_{};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class BusTransfers : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        device_ = attach(busDevice(1, 4, 4, "dev"));
        reader_ = open("dev", Access::Read);
        writer_ = open("dev", Access::Write);
        ASSERT_NE(reader_, nullptr);
        ASSERT_NE(writer_, nullptr);
    }
    void TearDown() override {
        if (reader_ != nullptr) platform::deviceClose(reader_);
        platform::deviceClose(writer_);
        BusTest::TearDown();
    }

    Transfer read(std::vector<uint8_t>* into, uint32_t length = 4) {
        into->assign(length, 0xEE);
        return platform::deviceRead(reader_, into->data(), length);
    }

    int32_t device_ = 0;
    platform::Device* reader_ = nullptr;
    platform::Device* writer_ = nullptr;
};

TEST_F(BusTransfers, BlockedReadWakesWhenAReportIsDelivered) {
    PendingRead pending(reader_, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(pending.done());
    EXPECT_EQ(deliver(device_, {1, 2, 3, 4}), 1);
    const Transfer result = pending.finish();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 4u);
    EXPECT_EQ(pending.bytes(), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(BusTransfers, ReportsOfAnotherLengthCountWholeAndCopyAtMostTheBuffer) {
    deliver(device_, {9, 8});
    deliver(device_, {1, 2, 3, 4, 5, 6});
    std::vector<uint8_t> bytes;
    Transfer result = read(&bytes);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 2u);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{9, 8, 0xEE, 0xEE}));
    result = read(&bytes);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 6u);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(BusTransfers, EveryReadHandleHasItsOwnQueueOfAtMost512) {
    platform::Device* other = open("dev", Access::Read);
    for (int i = 0; i < 515; ++i)
        EXPECT_EQ(deliver(device_, {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0}), 2);
    std::vector<uint8_t> bytes;
    read(&bytes);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 3) << "the three oldest were dropped";
    std::vector<uint8_t> fromOther(4);
    ASSERT_TRUE(platform::deviceRead(other, fromOther.data(), 4).ok);
    EXPECT_EQ(fromOther[0] | fromOther[1] << 8, 3) << "the other handle got its own copies";
    platform::deviceClose(other);
    EXPECT_EQ(deliver(device_, {0, 0, 0, 0}), 1);
}

TEST_F(BusTransfers, ReportsDeliveredBeforeTheOpenAreNotSeen) {
    deliver(device_, {7, 7, 7, 7});
    platform::Device* late = open("dev", Access::Read);
    deliver(device_, {8, 8, 8, 8});
    std::vector<uint8_t> bytes(4);
    ASSERT_TRUE(platform::deviceRead(late, bytes.data(), 4).ok);
    EXPECT_EQ(bytes[0], 8);
    platform::deviceClose(late);
}

TEST_F(BusTransfers, CancelEndsThePendingReadAndEveryLaterOneWith995) {
    PendingRead pending(reader_, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::deviceCancelRead(reader_);
    const Transfer result = pending.finish();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, kErrorOperationAborted);
    deliver(device_, {1, 2, 3, 4});
    std::vector<uint8_t> bytes;
    EXPECT_EQ(read(&bytes).error, kErrorOperationAborted);
    platform::deviceCancelRead(reader_);
}

// The handle is freed only after the pending read has left it; the
// sanitizer builds would catch a use after free here.
TEST_F(BusTransfers, ClosingUnderAPendingReadEndsItWith995) {
    PendingRead pending(reader_, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::deviceClose(reader_);
    reader_ = nullptr;
    EXPECT_EQ(currentCounts().handles, baseline_.handles + 1) << "only the writer is left";
    const Transfer result = pending.finish();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, kErrorOperationAborted);
}

TEST_F(BusTransfers, UnplugEndsThePendingReadAndEveryLaterOneWith1167) {
    deliver(device_, {1, 1, 1, 1});
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(read(&bytes).ok);
    PendingRead pending(reader_, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(juxsim_detach(device_), 0);
    Transfer result = pending.finish();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, kErrorDeviceNotConnected);
    EXPECT_EQ(deliver(device_, {2, 2, 2, 2}), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(&bytes).error, kErrorDeviceNotConnected);
    EXPECT_LT(msSince(start), 1000.0);
    const uint8_t report[4] = {};
    result = platform::deviceWrite(writer_, report, 4);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, kErrorDeviceNotConnected);
}

TEST_F(BusTransfers, ResetUnplugsEveryDeviceUnderItsPendingReads) {
    PendingRead pending(reader_, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    juxsim_reset();
    EXPECT_EQ(pending.finish().error, kErrorDeviceNotConnected);
    EXPECT_EQ(currentCounts().handles, baseline_.handles + 2) << "handles stay until closed";
}

TEST_F(BusTransfers, WritesAreRecordedInOrderWithRisingTimestamps) {
    const uint64_t before = juxsim_now_ns();
    for (uint8_t i = 0; i < 3; ++i) {
        const uint8_t report[4] = {i, 1, 2, 3};
        const Transfer result = platform::deviceWrite(writer_, report, 4);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.count, 4u);
    }
    EXPECT_EQ(juxsim_output_count(device_), 3);
    uint64_t previous = before;
    for (uint8_t i = 0; i < 3; ++i) {
        uint8_t got[2] = {0xEE, 0xEE};
        uint32_t length = 0;
        uint64_t at = 0;
        ASSERT_EQ(juxsim_take_output(device_, got, sizeof got, &length, &at), 1);
        EXPECT_EQ(length, 4u) << "the written length, though only 2 bytes were copied";
        EXPECT_EQ(got[0], i);
        EXPECT_EQ(got[1], 1);
        EXPECT_GE(at, previous);
        previous = at;
    }
    EXPECT_LE(previous, juxsim_now_ns());
    EXPECT_EQ(juxsim_take_output(device_, nullptr, 0, nullptr, nullptr), 0);
}

TEST_F(BusTransfers, WriteDelayMakesEveryWriteTakeThatLong) {
    ASSERT_EQ(juxsim_set_write_delay(device_, 40), 0);
    const uint8_t report[4] = {};
    const uint64_t start = juxsim_now_ns();
    EXPECT_TRUE(platform::deviceWrite(writer_, report, 4).ok);
    const uint64_t returned = juxsim_now_ns();
    EXPECT_GE(static_cast<double>(returned - start) / 1e6, 40.0);
    uint64_t at = 0;
    uint32_t length = 0;
    ASSERT_EQ(juxsim_take_output(device_, nullptr, 0, &length, &at), 1);
    EXPECT_GE(static_cast<double>(at - start) / 1e6, 40.0) << "stamped when it completed";
    juxsim_set_write_delay(device_, 0);
}

TEST_F(BusTransfers, TransfersNeedTheMatchingAccess) {
    std::vector<uint8_t> bytes(4);
    EXPECT_FALSE(platform::deviceRead(writer_, bytes.data(), 4).ok);
    EXPECT_FALSE(platform::deviceWrite(reader_, bytes.data(), 4).ok);
    EXPECT_EQ(juxsim_output_count(device_), 0);
}

}  // namespace
}  // namespace juxhid::test
