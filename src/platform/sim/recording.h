// A recording of one device's traffic, read from the line-oriented text
// that `juxhid monitor --record` writes: the device's description, every
// input report with its time, and the unplug if there was one. The reader is
// strict, so that a damaged or hand-edited file is refused with the line at
// fault rather than replayed as something it was not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "juxhid_sim.h"

namespace juxhid::sim {

inline constexpr const char* kRecordingFormat = "juxhid-recording 1";

struct Recording {
    JuxsimDeviceInfo device{};             // path null: the bus makes one up
    std::vector<uint64_t> timesUs;         // one per report, never decreasing
    std::vector<uint8_t> bytes;            // the reports, inputReportLength bytes each
    bool unplugged = false;
    uint64_t unplugUs = 0;

    size_t reportCount() const { return timesUs.size(); }
    const uint8_t* report(size_t n) const { return bytes.data() + n * device.inputReportLength; }
};

struct RecordingError {
    int32_t line = 0;  // 0: not about one line (the file could not be read)
    std::string text;
};

// Reads the file at `path`; false with `error` filled when it is unreadable
// or not a recording.
bool readRecording(const char* path, Recording& recording, RecordingError& error);

// The same from text already in memory.
bool parseRecording(const std::string& text, Recording& recording, RecordingError& error);

}  // namespace juxhid::sim
