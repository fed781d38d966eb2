// One hidraw node as sysfs describes it (who made it, its report
// descriptor), and the paths under which the listing names the node's
// top-level collections.
#pragma once

#include <cstddef>
#include <cstdint>

namespace juxhid::hidraw {

inline constexpr size_t kNodePathBytes = 256;

// A node with one top-level collection is listed under its device file,
// "/dev/hidraw3". A node with several is listed once per collection, under
// the device file and a mark naming the collection from 1: "/dev/hidraw3#1",
// "/dev/hidraw3#2". The seam opens devices by path alone, so the path must
// carry the collection; a device file name never holds the mark.
inline constexpr char kCollectionMark = '#';

struct ListedPath {
    char nodePath[kNodePathBytes];  // the device file, mark taken off
    const char* nodeName;           // its last component, inside nodePath
    uint32_t collection;            // from 0; 0 when the path has no mark
};

// False for a path that names no node: empty, too long, ending in '/', or a
// mark not followed by a collection number from 1.
bool splitListedPath(const char* path, ListedPath* listed);

// The listed path of collection `collection` (from 0) of node `name`, which
// has `collections` of them, under the device root. False if it does not fit.
bool formatListedPath(const char* name, uint32_t collection, uint32_t collections, char* path,
                      size_t capacity);

struct NodeIdentity {
    uint16_t bus;
    uint16_t vendorId;
    uint16_t productId;
};

// From HID_ID in the node's uevent. False with *error an errno value when
// the file cannot be read, EINVAL when it holds no well-formed HID_ID.
bool readNodeIdentity(const char* name, NodeIdentity* identity, int* error);

// The node's report descriptor, into `bytes` (kMaxReportDescriptorBytes).
// False with *error an errno value, EFBIG when it is longer than that.
bool readNodeDescriptor(const char* name, uint8_t* bytes, size_t* length, int* error);

}  // namespace juxhid::hidraw
