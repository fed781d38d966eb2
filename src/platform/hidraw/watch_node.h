// What a device watch needs to know of one hidraw node: the interfaces it
// stands for (one per top-level collection, under the paths the listing uses)
// and whether its device file can be opened yet.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace juxhid::hidraw {

// The node's interfaces as arrivals, from sysfs, in collection order. Empty
// when sysfs does not describe the node (gone already, or no descriptor that
// makes sense): the listing would skip it as well.
std::vector<platform::DeviceChange> describeNode(const char* name);

// Whether the node's device file opens for reading and writing now. With
// udev running the kernel announces the node before udev has given it its
// owner and mode, so a host could not open it yet.
bool nodeOpens(const char* name);

// The hidraw nodes sysfs shows now, by name.
std::vector<std::string> presentNodes();

}  // namespace juxhid::hidraw
