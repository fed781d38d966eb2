#include "device_session.h"


#include "bench.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "messages.h"
#include "status_text.h"

namespace juxhid::tool {

int32_t listVendorDevices(uint32_t vendor, std::vector<ListedDevice>& devices) {
    DeviceSummary summaries[JUXHID_MAX_DEVICES] = {};
    int32_t count = 0;
    const int32_t status = EnumerateJUX(vendor, summaries, &count);
    devices.clear();
    if (status != JUXHID_OK) return status;
    for (int32_t i = 0; i < count && i < JUXHID_MAX_DEVICES; ++i) {
        const DeviceSummary& s = summaries[i];
        devices.push_back({s.Index, s.ProductID, s.UsagePage, s.Usage, GetReadLength(s.Index),
                           GetWriteLength(s.Index)});
    }
    return status;
}

OpenInterface::~OpenInterface() {
    if (index_ < 0) return;
    if (deviceGone_) {
        CleanupInterface(index_);
    } else {
        CloseInterface(index_);
    }
}

bool OpenInterface::open(uint32_t vendor, int32_t index) {
    std::vector<ListedDevice> devices;
    const int32_t listed = listVendorDevices(vendor, devices);
    if (listed != JUXHID_OK) {
        complain("listing vendor 0x%04X: %s", static_cast<unsigned>(vendor), describeStatus(listed).c_str());
        return false;
    }
    if (index >= static_cast<int32_t>(devices.size())) {
        complain("vendor 0x%04X has %zu device(s); there is no index %d", static_cast<unsigned>(vendor),
                 devices.size(), static_cast<int>(index));
        return false;
    }
    const int32_t status = SetupInterface(index);
    // Only a bad index leaves nothing behind; any other failure still holds
    // what the opening created until CloseInterface gives it back.
    if (status != JUXHID_OPEN_BAD_INDEX) index_ = index;
    if (status != JUXHID_OK) {
        complain("opening index %d: %s", static_cast<int>(index), describeStatus(status).c_str());
        if (status == JUXHID_OPEN_READ_DENIED || status == JUXHID_OPEN_WRITE_DENIED) {
            complain("%s", benchAccessAdvice(vendor, devices[static_cast<size_t>(index)].productId).c_str());
        }
        return false;
    }
    readLength_ = GetReadLength(index);
    writeLength_ = GetWriteLength(index);
    listed_ = devices[static_cast<size_t>(index)];
    return true;
}

}  // namespace juxhid::tool
