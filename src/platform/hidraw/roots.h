// Where the backend finds hidraw nodes: the sysfs class directory, with one
// entry per node, and the directory that holds the device files. The library
// reads no environment; tests point both at a tree they build.
#pragma once

namespace juxhid::hidraw {

inline constexpr const char* kSystemSysfsRoot = "/sys/class/hidraw";
inline constexpr const char* kSystemDevRoot = "/dev";

// Null for either restores the system's. False, changing nothing, when a root
// is longer than the backend keeps.
bool setRoots(const char* sysfsRoot, const char* devRoot);

const char* sysfsRoot();
const char* devRoot();

}  // namespace juxhid::hidraw
