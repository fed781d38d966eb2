// Describing a hidraw node for a device watch, the way the listing and the
// query handles see it (sysfs only), and probing its device file.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/hidraw/report_descriptor.h"
#include "platform/hidraw/roots.h"
#include "platform/hidraw/sysfs_node.h"
#include "platform/hidraw/watch_node.h"

namespace juxhid::hidraw {
namespace {

bool isNodeName(const char* name) {
    static constexpr char kPrefix[] = "hidraw";
    if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
    const char* digits = name + sizeof kPrefix - 1;
    return *digits != '\0' && std::strspn(digits, "0123456789") == std::strlen(digits);
}

platform::DeviceChange arrivalOf(const NodeIdentity& identity, const TopLevelCollection& collection) {
    platform::DeviceChange change{};
    change.arrived = true;
    change.attributes = platform::DeviceAttributes{identity.vendorId, identity.productId};
    change.caps = platform::DeviceCaps{collection.usage, collection.usagePage,
                                       collection.inputReportByteLength,
                                       collection.outputReportByteLength};
    return change;
}

}  // namespace

std::vector<platform::DeviceChange> describeNode(const char* name) {
    std::vector<platform::DeviceChange> arrivals;
    NodeIdentity identity{};
    int error = 0;
    if (!isNodeName(name) || !readNodeIdentity(name, &identity, &error)) return arrivals;
    uint8_t bytes[kMaxReportDescriptorBytes];
    size_t length = 0;
    ReportDescriptor descriptor;
    if (!readNodeDescriptor(name, bytes, &length, &error) ||
        !parseReportDescriptor(bytes, length, &descriptor))
        return arrivals;
    for (uint32_t c = 0; c < descriptor.collectionCount; ++c) {
        platform::DeviceChange change = arrivalOf(identity, descriptor.collections[c]);
        if (formatListedPath(name, c, descriptor.collectionCount, change.path, sizeof change.path))
            arrivals.push_back(change);
    }
    return arrivals;
}

bool nodeOpens(const char* name) {
    char path[kNodePathBytes];
    const int written = std::snprintf(path, sizeof path, "%s/%s", devRoot(), name);
    if (written < 0 || static_cast<size_t>(written) >= sizeof path) return false;
    const int fd = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::vector<std::string> presentNodes() {
    std::vector<std::string> names;
    DIR* directory = ::opendir(sysfsRoot());
    if (directory == nullptr) return names;
    while (const dirent* entry = ::readdir(directory)) {
        if (isNodeName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    ::closedir(directory);
    // In node-number order, as the listing walks them.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

}  // namespace juxhid::hidraw
