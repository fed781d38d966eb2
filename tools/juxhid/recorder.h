// monitor --record: writes what the monitored interface did to a file that
// the simulated bus can replay (the format is in docs/simulated-bus.md). The
// data callback drains every stored report with ReadData, so the file holds
// each report whole, report-ID byte first, not only the newest one a
// callback sees.
#pragma once

#include <cstdint>
#include <string>

#include "listing_text.h"

namespace juxhid::tool {

// Opens `path` and writes the header; times count from this call. Prints
// why on failure.
bool startRecording(const std::string& path, uint32_t vendor, const ListedDevice& device);

// From the data callback: takes every unread report of `index` and writes it.
void recordArrivals(int32_t index);

// From the error callback: the device is gone. Writes the reports of
// `index` still stored, then the unplug.
void recordUnplug(int32_t index);

// Flushes and closes the file; answers the reports written.
size_t finishRecording();

}  // namespace juxhid::tool
