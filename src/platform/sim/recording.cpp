#include "platform/sim/recording.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string_view>

namespace juxhid::sim {
namespace {

// Far beyond any recording (31 years), and small enough that a time divided
// by a speed or turned into nanoseconds cannot overflow.
constexpr uint64_t kLatestUs = 1'000'000'000'000'000ull;

struct HeaderKey {
    const char* name;
    uint32_t JuxsimDeviceInfo::*field;
};

constexpr HeaderKey kHeaderKeys[] = {
    {"vendor", &JuxsimDeviceInfo::vendorId},
    {"product", &JuxsimDeviceInfo::productId},
    {"usage-page", &JuxsimDeviceInfo::usagePage},
    {"usage", &JuxsimDeviceInfo::usage},
    {"input-length", &JuxsimDeviceInfo::inputReportLength},
    {"output-length", &JuxsimDeviceInfo::outputReportLength},
};
constexpr size_t kHeaderKeyCount = std::size(kHeaderKeys);

// Messages are joined piece by piece: g++ 12 at -O2 warns falsely about
// overlapping copies in chains of std::string operator+.
std::string join(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (std::string_view part : parts) joined.append(part);
    return joined;
}

bool parseUnsigned(std::string_view text, int base, uint64_t max, uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && value <= max;
}

// A header value: decimal, or hex after 0x.
bool parseHeaderNumber(std::string_view text, uint32_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t wide = 0;
    if (!parseUnsigned(text, base, 0xFFFF, wide)) return false;
    value = static_cast<uint32_t>(wide);
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool appendHex(std::string_view text, std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

// Splits "KEY VALUE" at its one space; false when there is not exactly one.
bool splitPair(std::string_view line, std::string_view& key, std::string_view& value) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || line.find(' ', space + 1) != std::string_view::npos) return false;
    key = line.substr(0, space);
    value = line.substr(space + 1);
    return true;
}

class Reader {
public:
    Reader(Recording& recording, RecordingError& error) : recording_(recording), error_(error) {}

    bool line(int32_t number, std::string_view text) {
        number_ = number;
        if (number == 1) return text == kRecordingFormat || fail(join({"the first line must be '", kRecordingFormat, "'"}));
        if (text.empty() || text[0] == '#') return true;
        if (recording_.unplugged) return fail("nothing may follow the unplug");
        std::string_view key, value;
        if (!splitPair(text, key, value)) return fail("expected 'KEY VALUE', 'TIME HEX' or 'unplug TIME'");
        if (key == "unplug") return unplug(value);
        if (!key.empty() && key[0] >= '0' && key[0] <= '9') return report(key, value);
        return header(key, value);
    }

    bool finish(int32_t lastLine) {
        number_ = lastLine;
        if (lastLine == 0) return fail("the file is empty");
        if (!headerComplete()) return fail(join({"the header lacks '", missingKey(), "'"}));
        return true;
    }

private:
    bool fail(const std::string& text) {
        error_.line = number_;
        error_.text = number_ > 0 ? join({"line ", std::to_string(number_), ": ", text}) : text;
        return false;
    }

    bool headerComplete() const { return missingKey() == nullptr; }

    const char* missingKey() const {
        for (size_t k = 0; k < kHeaderKeyCount; ++k)
            if (!seen_[k]) return kHeaderKeys[k].name;
        return nullptr;
    }

    bool header(std::string_view key, std::string_view value) {
        if (!recording_.timesUs.empty()) return fail(join({"header line '", key, "' after the first report"}));
        for (size_t k = 0; k < kHeaderKeyCount; ++k) {
            if (key != kHeaderKeys[k].name) continue;
            if (seen_[k]) return fail(join({"'", key, "' given twice"}));
            if (!parseHeaderNumber(value, recording_.device.*kHeaderKeys[k].field))
                return fail(join({"'", key, "' wants a 16-bit number, decimal or 0x-hex"}));
            // A replay plays input reports: a device without any has nothing
            // to play, and a host would wait for it in vain.
            const bool noInput = kHeaderKeys[k].field == &JuxsimDeviceInfo::inputReportLength &&
                                 recording_.device.inputReportLength == 0;
            if (noInput) return fail("'input-length' must be 1 or more: a replay plays input reports");
            seen_[k] = true;
            return true;
        }
        return fail(join({"unknown header key '", key, "'"}));
    }

    bool time(std::string_view text, uint64_t& us) {
        if (!parseUnsigned(text, 10, kLatestUs, us)) return fail(join({"'", text, "' is not a time in microseconds"}));
        if (us < latestUs_) return fail(join({"time ", text, " is earlier than the line before"}));
        latestUs_ = us;
        return true;
    }

    bool report(std::string_view when, std::string_view hex) {
        if (!headerComplete()) return fail(join({"a report before the header is complete (no '", missingKey(), "')"}));
        uint64_t us = 0;
        if (!time(when, us)) return false;
        const uint32_t length = recording_.device.inputReportLength;
        if (hex.size() != 2 * static_cast<size_t>(length))
            return fail(join({"the report has ", std::to_string(hex.size() / 2), hex.size() % 2 ? ".5" : "",
                              " bytes; the device's input reports have ", std::to_string(length)}));
        if (!appendHex(hex, recording_.bytes)) return fail("the report is not hex digits");
        recording_.timesUs.push_back(us);
        return true;
    }

    bool unplug(std::string_view when) {
        if (!headerComplete()) return fail("the unplug before the header is complete");
        if (!time(when, recording_.unplugUs)) return false;
        recording_.unplugged = true;
        return true;
    }

    Recording& recording_;
    RecordingError& error_;
    int32_t number_ = 0;
    uint64_t latestUs_ = 0;
    bool seen_[kHeaderKeyCount] = {};
};

}  // namespace

bool parseRecording(const std::string& text, Recording& recording, RecordingError& error) {
    recording = Recording{};
    Reader reader(recording, error);
    std::string_view rest(text);
    int32_t number = 0;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // Files that went through a Windows editor end their lines with CR LF.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!reader.line(++number, line)) return false;
    }
    return reader.finish(number);
}

bool readRecording(const char* path, Recording& recording, RecordingError& error) {
    std::ifstream file(path != nullptr ? path : "", std::ios::binary);
    if (!file) {
        error.line = 0;
        error.text = join({"cannot read '", path != nullptr ? path : "(null)", "'"});
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parseRecording(text.str(), recording, error);
}

}  // namespace juxhid::sim
