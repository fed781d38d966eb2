// Replaying recordings on the bus: the device a recording describes, its
// reports in order at their times, the unplug, stopping early, speed 0
// against a full read handle, and malformed files refused by line.
#include <cmath>
#include <cstdio>
#include <fstream>

#include "bus_test_support.h"

namespace juxhid::test {
namespace {

using platform::Access;

constexpr int kHandleHolds = 512;  // reports one read handle buffers

const char* const kHeader =
    "juxhid-recording 1\n"
    "vendor 0x1A2B\n"
    "product 0x0042\n"
    "usage-page 0xFF00\n"
    "usage 0x0001\n"
    "input-length 3\n"
    "output-length 5\n";

class BusReplay : public BusTest {
protected:
    void TearDown() override {
        juxsim_replay_free(replay_);
        if (reader_ != nullptr) platform::deviceClose(reader_);
        if (writer_ != nullptr) platform::deviceClose(writer_);
        std::remove(path_.c_str());
        BusTest::TearDown();
    }

    JuxsimReplay* start(const std::string& text, double speed) {
        std::ofstream(path_, std::ios::binary) << text;
        replay_ = juxsim_replay_start(path_.c_str(), speed);
        return replay_;
    }

    // The line and text of a start that must fail; nothing may stay attached.
    std::pair<int32_t, std::string> refusal(const std::string& text, double speed = 1) {
        EXPECT_EQ(start(text, speed), nullptr);
        char why[256] = {};
        const int32_t line = juxsim_replay_error(why, sizeof why);
        EXPECT_FALSE(stillListed()) << "a device was left attached";
        return {line, why};
    }

    static bool stillListed() {
        platform::DeviceList* list = platform::deviceListOpen();
        uint32_t error = 0;
        platform::InterfaceRef ref{};
        const bool listed = platform::deviceListMember(list, 0, &ref, &error);
        platform::deviceListClose(list);
        return listed;
    }

    static std::string pathOfReplayed() {
        platform::DeviceList* list = platform::deviceListOpen();
        const std::string path = pathAt(list, 0);
        platform::deviceListClose(list);
        return path;
    }

    // Opens the device as the library does: for reading, then for writing.
    platform::Device* openReplayed(bool alsoForWriting = true) {
        const std::string path = pathOfReplayed();
        reader_ = open(path, Access::Read);
        if (alsoForWriting) writer_ = open(path, Access::Write);
        return reader_;
    }

    std::vector<uint8_t> readOne() {
        std::vector<uint8_t> bytes(3, 0xEE);
        const platform::Transfer result = platform::deviceRead(reader_, bytes.data(), 3);
        if (!result.ok) return {};
        bytes.resize(result.count);
        return bytes;
    }

    // One file per test: ctest runs tests side by side.
    std::string path_ = ::testing::TempDir() + "juxhid-replay-" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    JuxsimReplay* replay_ = nullptr;
    platform::Device* reader_ = nullptr;
    platform::Device* writer_ = nullptr;
};

TEST_F(BusReplay, DeliversTheRecordedReportsInOrderAtTheirTimesThenUnplugs) {
    ASSERT_NE(start(std::string(kHeader) +
                        "# a comment\n"
                        "10000 00a1b2\n"
                        "60000 000102\n"
                        "\n"
                        "160000 00ffff\n"
                        "unplug 200000\n",
                    1),
              nullptr);
    const int32_t device = juxsim_replay_device(replay_);
    ASSERT_GT(device, 0);
    // Nothing plays before the library has opened the device both ways.
    ASSERT_NE(openReplayed(false), nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(juxsim_replay_delivered(replay_), 0);
    writer_ = open(pathOfReplayed(), Access::Write);

    const auto opened = std::chrono::steady_clock::now();
    std::vector<std::vector<uint8_t>> reports;
    std::vector<double> atMs;
    for (int n = 0; n < 3; ++n) {
        reports.push_back(readOne());
        atMs.push_back(msSince(opened));
    }
    EXPECT_EQ(reports, (std::vector<std::vector<uint8_t>>{{0x00, 0xa1, 0xb2}, {0x00, 0x01, 0x02}, {0x00, 0xff, 0xff}}));
    // Each report is due at its recorded time after the opening, so each is
    // held to that time rather than to the gap after the one before, which a
    // late read of that one would shorten. Generous bounds: the machine is
    // shared, and the clock started a moment before `opened`.
    const double recordedMs[] = {10, 60, 160};
    for (int n = 0; n < 3; ++n) {
        EXPECT_GT(atMs[n], recordedMs[n] - 20) << "report " << n;
        EXPECT_LT(atMs[n], recordedMs[n] + 300) << "report " << n;
    }

    std::vector<uint8_t> bytes(3);
    const platform::Transfer gone = platform::deviceRead(reader_, bytes.data(), 3);
    EXPECT_FALSE(gone.ok);
    EXPECT_EQ(gone.error, platform::kErrorDeviceNotConnected);
    EXPECT_EQ(juxsim_replay_wait(replay_, 2000), 1);
    EXPECT_EQ(juxsim_replay_delivered(replay_), 3);
    EXPECT_EQ(juxsim_detach(device), 0);  // still known, already unplugged
}

TEST_F(BusReplay, DescribesTheRecordedDevice) {
    ASSERT_NE(start(kHeader, 1), nullptr);
    ASSERT_NE(openReplayed(), nullptr);
    platform::DeviceAttributes attributes{};
    uint32_t error = 0;
    ASSERT_TRUE(platform::deviceAttributes(reader_, &attributes, &error));
    EXPECT_EQ(attributes.vendorId, 0x1A2B);
    EXPECT_EQ(attributes.productId, 0x0042);
    platform::Preparsed* preparsed = platform::devicePreparsed(reader_, &error);
    ASSERT_NE(preparsed, nullptr);
    platform::DeviceCaps caps{};
    EXPECT_TRUE(platform::deviceCaps(preparsed, &caps));
    EXPECT_EQ(caps.usagePage, 0xFF00);
    EXPECT_EQ(caps.usage, 1);
    EXPECT_EQ(caps.inputReportByteLength, 3);
    EXPECT_EQ(caps.outputReportByteLength, 5);
    platform::preparsedFree(preparsed);
    // No reports and no unplug: over as soon as it starts, the device stays.
    EXPECT_EQ(juxsim_replay_wait(replay_, 2000), 1);
    EXPECT_TRUE(stillListed());
}

TEST_F(BusReplay, StopEndsPromptlyAndLeavesTheDeviceAttached) {
    ASSERT_NE(start(std::string(kHeader) + "0 000000\n60000000 000001\nunplug 60000000\n", 1), nullptr);
    ASSERT_NE(openReplayed(), nullptr);
    EXPECT_EQ(readOne(), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(juxsim_replay_wait(replay_, 50), 0);
    const auto stopping = std::chrono::steady_clock::now();
    juxsim_replay_stop(replay_);
    EXPECT_LT(msSince(stopping), 1000.0);
    EXPECT_EQ(juxsim_replay_wait(replay_, 0), 1);
    EXPECT_EQ(juxsim_replay_delivered(replay_), 1);
    EXPECT_TRUE(stillListed());
    juxsim_replay_stop(replay_);  // twice is harmless
}

TEST_F(BusReplay, FreeingAReplayWaitingForAReaderEndsIt) {
    ASSERT_NE(start(std::string(kHeader) + "0 000000\n", 0), nullptr);
    EXPECT_EQ(juxsim_replay_wait(replay_, 20), 0);
    juxsim_replay_free(replay_);
    replay_ = nullptr;
    EXPECT_TRUE(stillListed());
}

TEST_F(BusReplay, SpeedZeroFillsTheReadHandleAndGoesOnAsItDrains) {
    const int total = kHandleHolds + 200;
    std::string text(kHeader);
    for (int n = 0; n < total; ++n) {
        char line[32];
        std::snprintf(line, sizeof line, "%d 00%02x%02x\n", n * 1000000, n & 0xFF, (n >> 8) & 0xFF);
        text += line;
    }
    ASSERT_NE(start(text, 0), nullptr);
    ASSERT_NE(openReplayed(), nullptr);
    // The recorded times (a second apart) do not matter: the handle fills up.
    ASSERT_TRUE(eventually([&] { return juxsim_replay_delivered(replay_) == kHandleHolds; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(juxsim_replay_delivered(replay_), kHandleHolds);
    // Draining it lets the rest through, none lost, in order.
    for (int n = 0; n < total; ++n) {
        const std::vector<uint8_t> expected{0, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>((n >> 8) & 0xFF)};
        ASSERT_EQ(readOne(), expected) << "report " << n;
    }
    EXPECT_EQ(juxsim_replay_wait(replay_, 2000), 1);
}

// The unplug follows the last report at once at speed 0, but only after the
// read handle has given up every report: none is lost at the bus.
TEST_F(BusReplay, SpeedZeroUnplugsOnlyOnceTheReadHandleIsDrained) {
    ASSERT_NE(start(std::string(kHeader) + "0 000001\n1000 000002\n2000 000003\nunplug 3000\n", 0), nullptr);
    ASSERT_NE(openReplayed(), nullptr);
    ASSERT_TRUE(eventually([&] { return juxsim_replay_delivered(replay_) == 3; }));
    EXPECT_TRUE(stillListed()) << "unplugged while the handle held reports";
    for (uint8_t n = 1; n <= 3; ++n) ASSERT_EQ(readOne(), (std::vector<uint8_t>{0, 0, n})) << "report " << int(n);
    std::vector<uint8_t> bytes(3);
    const platform::Transfer gone = platform::deviceRead(reader_, bytes.data(), 3);
    EXPECT_FALSE(gone.ok);
    EXPECT_EQ(gone.error, platform::kErrorDeviceNotConnected);
    EXPECT_EQ(juxsim_replay_wait(replay_, 2000), 1);
}

TEST_F(BusReplay, ASpeedFactorScalesTheGaps) {
    ASSERT_NE(start(std::string(kHeader) + "0 000000\n400000 000001\n", 4), nullptr);
    ASSERT_NE(openReplayed(), nullptr);
    readOne();
    const auto first = std::chrono::steady_clock::now();
    readOne();
    EXPECT_GT(msSince(first), 50.0);
    EXPECT_LT(msSince(first), 350.0);  // 100 ms at four times the speed, not 400
}

TEST_F(BusReplay, MalformedRecordingsAreRefusedWithTheirLine) {
    const std::string h(kHeader);
    const struct {
        std::string text;
        int32_t line;
        const char* says;
    } cases[] = {
        {"juxhid-recording 2\n", 1, "the first line must be"},
        {"", 0, "the file is empty"},
        {"juxhid-recording 1\nvendor 0x1A2B\n0 000000\n", 3, "no 'product'"},
        {"juxhid-recording 1\nvendor 0x1A2B\n", 2, "lacks 'product'"},
        {h + "vendor 1\n", 8, "'vendor' given twice"},
        {h + "colour 3\n", 8, "unknown header key 'colour'"},
        {"juxhid-recording 1\nvendor 0x10000\n", 2, "16-bit"},
        {h + "10 0000\n", 8, "the report has 2 bytes; the device's input reports have 3"},
        {h + "10 00000g\n", 8, "not hex"},
        {h + "10 000000\n9 000000\n", 9, "earlier than the line before"},
        {h + "1e3 000000\n", 8, "not a time"},
        {h + "10  000000\n", 8, "expected"},
        {h + "unplug 10\n20 000000\n", 9, "nothing may follow the unplug"},
        {h + "input-length 4\n", 8, "given twice"},
    };
    for (const auto& c : cases) {
        const auto [line, why] = refusal(c.text);
        EXPECT_EQ(line, c.line) << c.text;
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
        if (c.line > 0) {
            EXPECT_EQ(why.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << why;
        }
    }
    std::remove(path_.c_str());
    replay_ = juxsim_replay_start(path_.c_str(), 1);
    EXPECT_EQ(replay_, nullptr);
    char why[256] = {};
    EXPECT_EQ(juxsim_replay_error(why, sizeof why), 0);
    EXPECT_NE(std::string(why).find("cannot read"), std::string::npos) << why;
    EXPECT_EQ(refusal(kHeader, -1).first, 0);
    EXPECT_EQ(refusal(kHeader, std::nan("")).first, 0);
    // A good start clears the record.
    ASSERT_NE(start(std::string(kHeader) + "\r\n5 00aabb\r\n", 1), nullptr);
    EXPECT_EQ(juxsim_replay_error(why, sizeof why), 0);
    EXPECT_STREQ(why, "");
}

}  // namespace
}  // namespace juxhid::test
