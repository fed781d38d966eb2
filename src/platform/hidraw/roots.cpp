#include "platform/hidraw/roots.h"

#include <cstring>

namespace juxhid::hidraw {

namespace {

// Short enough that a node's path fits the device table's 255 characters.
constexpr size_t kRootBytes = 200;

char g_sysfsRoot[kRootBytes] = "/sys/class/hidraw";
char g_devRoot[kRootBytes] = "/dev";

bool fits(const char* root) { return root == nullptr || std::strlen(root) < kRootBytes; }

void store(char (&destination)[kRootBytes], const char* root, const char* system) {
    std::strncpy(destination, root != nullptr ? root : system, kRootBytes - 1);
    destination[kRootBytes - 1] = '\0';
}

}  // namespace

bool setRoots(const char* sysfsRootPath, const char* devRootPath) {
    if (!fits(sysfsRootPath) || !fits(devRootPath)) return false;
    store(g_sysfsRoot, sysfsRootPath, kSystemSysfsRoot);
    store(g_devRoot, devRootPath, kSystemDevRoot);
    return true;
}

const char* sysfsRoot() { return g_sysfsRoot; }
const char* devRoot() { return g_devRoot; }

}  // namespace juxhid::hidraw
