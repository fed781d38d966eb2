// libFuzzer target for the recording parser, built with the address and
// undefined-behaviour sanitizers by .ci/hidraw-fuzz.sh. A recording is input
// from others (a host replays files it was sent), so besides reading nothing
// out of bounds, whatever the parser accepts must be what a replay relies on,
// and whatever it refuses must say which line and why.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/sim/recording.h"

namespace {

using juxhid::sim::Recording;
using juxhid::sim::RecordingError;

constexpr uint64_t kLatestUs = 1'000'000'000'000'000ull;

bool fitsSixteenBits(const JuxsimDeviceInfo& device) {
    return device.vendorId <= 0xFFFF && device.productId <= 0xFFFF && device.usagePage <= 0xFFFF &&
           device.usage <= 0xFFFF && device.inputReportLength <= 0xFFFF && device.outputReportLength <= 0xFFFF;
}

// Every report has the device's length, in order of time, and no time is
// beyond what a replay can scale without overflow.
bool replayable(const Recording& recording) {
    if (!fitsSixteenBits(recording.device) || recording.device.path != nullptr) return false;
    if (recording.bytes.size() != recording.reportCount() * recording.device.inputReportLength) return false;
    for (size_t n = 0; n < recording.reportCount(); ++n) {
        if (recording.timesUs[n] > kLatestUs) return false;
        if (n > 0 && recording.timesUs[n] < recording.timesUs[n - 1]) return false;
    }
    return !recording.unplugged || recording.unplugUs <= kLatestUs;
}

size_t lineCount(const std::string& text) {
    size_t lines = text.empty() ? 0 : 1;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        if (at + 1 < text.size()) ++lines;
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Recording recording;
    RecordingError error;
    if (juxhid::sim::parseRecording(text, recording, error)) {
        if (!replayable(recording)) std::abort();
    } else if (error.text.empty() || error.line < 0 || static_cast<size_t>(error.line) > lineCount(text)) {
        std::abort();
    }
    return 0;
}
