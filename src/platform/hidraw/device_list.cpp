// Listing: the hidraw nodes under the sysfs root, in node-number order, one
// member per top-level collection of each node's report descriptor, in
// descriptor order. A node whose descriptor cannot be read or makes no sense
// is still a member, under its plain path: asking it for its description
// fails, and the walk passes over it as over any device that cannot be read.
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/hidraw/report_descriptor.h"
#include "platform/hidraw/roots.h"
#include "platform/hidraw/sysfs_node.h"
#include "platform/platform.h"

namespace juxhid::platform {

struct DeviceList {
    std::vector<std::string> paths;  // each member's detail record is its path
};

namespace {

constexpr uint32_t kErrorInvalidParameter = 87;

// "hidraw" and a number: the kernel's name for a node.
bool nodeNumber(const char* name, unsigned long* number) {
    static constexpr char kPrefix[] = "hidraw";
    if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
    const char* digits = name + sizeof kPrefix - 1;
    if (*digits < '0' || *digits > '9') return false;
    char* after = nullptr;
    *number = std::strtoul(digits, &after, 10);
    return *after == '\0';
}

uint32_t collectionsOf(const char* name) {
    uint8_t bytes[hidraw::kMaxReportDescriptorBytes];
    size_t length = 0;
    int error = 0;
    hidraw::ReportDescriptor descriptor;
    if (!hidraw::readNodeDescriptor(name, bytes, &length, &error) ||
        !hidraw::parseReportDescriptor(bytes, length, &descriptor))
        return 1;
    return descriptor.collectionCount;
}

std::vector<std::pair<unsigned long, std::string>> nodesInOrder(DIR* directory) {
    std::vector<std::pair<unsigned long, std::string>> nodes;
    while (const dirent* entry = ::readdir(directory)) {
        unsigned long number = 0;
        if (nodeNumber(entry->d_name, &number)) nodes.emplace_back(number, entry->d_name);
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

void addMembers(DeviceList* list, const std::string& name) {
    const uint32_t collections = collectionsOf(name.c_str());
    for (uint32_t collection = 0; collection < collections; ++collection) {
        char path[hidraw::kNodePathBytes];
        if (hidraw::formatListedPath(name.c_str(), collection, collections, path, sizeof path))
            list->paths.emplace_back(path);
    }
}

const std::string* memberPath(const DeviceList* list, const InterfaceRef& ref) {
    return ref.backend < list->paths.size() ? &list->paths[ref.backend] : nullptr;
}

}  // namespace

DeviceList* deviceListOpen() {
    DIR* directory = ::opendir(hidraw::sysfsRoot());
    if (directory == nullptr) return nullptr;
    const auto nodes = nodesInOrder(directory);
    ::closedir(directory);
    DeviceList* list = new (std::nothrow) DeviceList();
    if (list == nullptr) return nullptr;
    for (const auto& node : nodes) addMembers(list, node.second);
    return list;
}

bool deviceListMember(DeviceList* list, uint32_t member, InterfaceRef* ref, uint32_t* error) {
    if (member >= list->paths.size()) {
        *error = kErrorNoMoreItems;
        return false;
    }
    *ref = InterfaceRef{member, member};
    return true;
}

bool deviceDetailSize(DeviceList* list, const InterfaceRef& ref, uint32_t* size, uint32_t* error) {
    const std::string* path = memberPath(list, ref);
    if (path == nullptr) {
        *error = kErrorInvalidParameter;
        return false;
    }
    *size = static_cast<uint32_t>(path->size() + 1);
    *error = kErrorInsufficientBuffer;
    return false;
}

bool deviceDetailFetch(DeviceList* list, const InterfaceRef& ref, void* record, uint32_t size,
                       uint32_t* error) {
    const std::string* path = memberPath(list, ref);
    if (path == nullptr || record == nullptr) {
        *error = kErrorInvalidParameter;
        return false;
    }
    if (size < path->size() + 1) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    std::memcpy(record, path->c_str(), path->size() + 1);
    return true;
}

const char* deviceDetailPath(const void* record) { return static_cast<const char*>(record); }

void deviceListClose(DeviceList* list) { delete list; }

}  // namespace juxhid::platform
