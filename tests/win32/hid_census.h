// What the platform itself says about its HID interfaces in this run, asked
// straight from SetupDi and the HID class driver. Tests compare the library
// against it instead of against what one Wine version happens to show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::test {

struct HidInterface {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t usage = 0;
    uint16_t usagePage = 0;
    uint16_t inputLength = 0;
    uint16_t outputLength = 0;
    // Win32 error of opening for reading / for writing (shared read and
    // write, open-existing); 0 when the open succeeded.
    uint32_t readOpenError = 0;
    uint32_t writeOpenError = 0;
};

// Every present HID interface that answers its identity and capabilities,
// in the platform's list order.
std::vector<HidInterface> takeHidCensus();

// The interfaces of one vendor, in list order.
std::vector<HidInterface> ofVendor(const std::vector<HidInterface>& census, uint16_t vendorId);

// The vendors present, each once, in order of first appearance.
std::vector<uint16_t> vendorsIn(const std::vector<HidInterface>& census);

// A vendor id that no interface in the census has.
uint16_t absentVendor(const std::vector<HidInterface>& census);

}  // namespace juxhid::test
