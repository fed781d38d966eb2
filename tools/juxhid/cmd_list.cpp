// juxhid list: the vendor's attached devices with their report lengths.
#include <cstdio>

#include "commands.h"
#include "device_session.h"
#include "juxhid_status.h"
#include "messages.h"
#include "status_text.h"

namespace juxhid::tool {

int runList(const CommandLine& line) {
    const uint32_t vendor = *line.vendor;
    std::vector<ListedDevice> devices;
    const int32_t status = listVendorDevices(vendor, devices);
    // Scripts get JSON whatever happened; the status field tells them why a
    // list is empty. The reason for people is a message, so on stderr.
    if (line.json) std::fputs(formatDeviceJson(vendor, status, devices).c_str(), stdout);
    if (status == JUXHID_OK) {
        if (!line.json) std::fputs(formatDeviceTable(vendor, devices).c_str(), stdout);
        return kExitOk;
    }
    complain("vendor 0x%04X: %s", static_cast<unsigned>(vendor), describeStatus(status).c_str());
    return kExitFailed;
}

}  // namespace juxhid::tool
