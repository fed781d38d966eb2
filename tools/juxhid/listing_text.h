// The device list as the tool prints it: an aligned table for people, JSON
// for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::tool {

// One listed device with the lengths the library answers for its index.
struct ListedDevice {
    int32_t index = 0;
    uint32_t productId = 0;
    uint32_t usagePage = 0;
    uint32_t usage = 0;
    int32_t inputLength = 0;
    int32_t outputLength = 0;
};

std::string formatDeviceTable(uint32_t vendor, const std::vector<ListedDevice>& devices);

// {"vendor": N, "status": N, "devices": [{...}, ...]}, one line, ids as numbers.
std::string formatDeviceJson(uint32_t vendor, int32_t status, const std::vector<ListedDevice>& devices);

// Space-separated lowercase hex, "01 a0 ff".
std::string formatHex(const uint8_t* bytes, size_t length);

}  // namespace juxhid::tool
