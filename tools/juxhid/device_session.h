// Listing a vendor's devices and holding one open interface for the length
// of a command.
#pragma once

#include <cstdint>
#include <vector>

#include "listing_text.h"

namespace juxhid::tool {

// Lists the vendor's devices into `devices`; returns EnumerateJUX's status.
int32_t listVendorDevices(uint32_t vendor, std::vector<ListedDevice>& devices);

// One interface opened by a command: closed when the command ends, or cleaned
// up instead once its device is gone, as the library asks.
class OpenInterface {
public:
    OpenInterface() = default;
    OpenInterface(const OpenInterface&) = delete;
    OpenInterface& operator=(const OpenInterface&) = delete;
    ~OpenInterface();

    // Lists `vendor` and opens `index`; prints to stderr why it could not.
    bool open(uint32_t vendor, int32_t index);
    void markDeviceGone() { deviceGone_ = true; }

    int32_t index() const { return index_; }
    int32_t readLength() const { return readLength_; }
    int32_t writeLength() const { return writeLength_; }
    // The opened device as the listing described it.
    const ListedDevice& listed() const { return listed_; }

private:
    int32_t index_ = -1;
    int32_t readLength_ = 0;
    int32_t writeLength_ = 0;
    bool deviceGone_ = false;
    ListedDevice listed_{};
};

}  // namespace juxhid::tool
