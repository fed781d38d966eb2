// A reader without the library, for comparison: the device's own handle
// read in a loop, with the HID driver's input queue at its default or
// enlarged. Shows where a flood is cut before the library sees it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device_channel.h"

namespace juxhid::winekernel {

// The device path SetupAPI gives for the vendor and product; empty when none.
std::string hidPathOf(uint16_t vendor, uint16_t product);

// Writes `report` to the device's own handle; the count WriteFile gave, or -1.
long bareWriteCount(const std::string& path, const Bytes& report);

struct BareRead {
    std::vector<uint32_t> sequences;  // of every whole report read, marker excluded
    uint32_t shortReads = 0;          // reads that gave fewer bytes than a report
    uint32_t queue = 0;               // the driver's queue as the handle reported it
    uint32_t failedWith = 0;          // GetLastError of the read that failed, 0 if none did
};

// Opens `path` for reading, sets the driver's queue to `queue` reports (0:
// leaves the default), then reads until the report numbered `marker` or a
// failure; `during` runs once the reader waits. Gives up after `limitMs`.
BareRead bareRead(const std::string& path, uint32_t queue, uint32_t length, uint32_t marker, uint32_t limitMs,
                  const std::function<void()>& during);

}  // namespace juxhid::winekernel
