#include "discovery/device_paths.h"

#include <cstring>
#include <new>

namespace juxhid {
namespace {

void forgetOpenPath(DeviceEntry& entry) {
    delete[] entry.openPath;
    entry.openPath = nullptr;
}

}  // namespace

bool keepOpenPath(DeviceEntry& entry, const char* path) {
    forgetOpenPath(entry);
    const size_t bytes = std::strlen(path) + 1;
    entry.openPath = new (std::nothrow) char[bytes];
    if (entry.openPath == nullptr) return false;
    std::memcpy(entry.openPath, path, bytes);
    return true;
}

void forgetDevicePaths() {
    for (DeviceEntry& entry : state().devices) forgetOpenPath(entry);
}

}  // namespace juxhid
