// What the backend keeps behind a platform::Device handle, shared by the
// opening, reading and writing files of this folder.
#pragma once

#include <atomic>

#include "platform/hidraw/report_descriptor.h"
#include "platform/hidraw/sysfs_node.h"
#include "platform/platform.h"

namespace juxhid::platform {

struct Device {
    Access access;
    int fd;      // the node, opened for reading or writing; -1 for a query
    int wakeFd;  // read handles: an eventfd that turns readable when the read is cancelled
    std::atomic<bool> cancelled;
    std::atomic<int> readsInside;  // deviceRead calls that have not returned yet

    // The row the handle was opened for, and what sysfs says of its node.
    uint32_t collection;
    bool identityKnown;
    hidraw::NodeIdentity identity;
    int identityError;
    bool descriptorKnown;  // read and parsed
    hidraw::ReportDescriptor descriptor;
    int descriptorError;

    // Read handles: the kernel leaves the report ID out when the device
    // numbers no reports, so the backend puts a 0 in front.
    bool prependReportId;
    uint8_t* scratch;  // one report as the kernel hands it, a report-ID byte in front
};

}  // namespace juxhid::platform
