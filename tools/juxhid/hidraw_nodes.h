// Which /dev/hidraw* nodes belong to a vendor's product, read from sysfs, so
// that a refused open can name the file the user lacks access to. The
// library names devices by index only; the tool looks the node up itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::tool {

// "/dev/hidrawN" for every hidrawN under `classDir` (normally
// /sys/class/hidraw) whose device/uevent says HID_ID=bus:vendor:product with
// these ids; sorted, empty when none or the folder is unreadable.
std::vector<std::string> hidrawNodesOf(const std::string& classDir, uint32_t vendor, uint32_t product);

}  // namespace juxhid::tool
