#include "hidraw_nodes.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace juxhid::tool {
namespace {

// HID_ID=0003:00001A2B:00000001 (bus, vendor, product, in hex).
bool ueventMatches(const std::filesystem::path& uevent, uint32_t vendor, uint32_t product) {
    std::ifstream file(uevent);
    std::string line;
    while (std::getline(file, line)) {
        unsigned bus = 0, foundVendor = 0, foundProduct = 0;
        if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, &foundVendor, &foundProduct) == 3) {
            return foundVendor == vendor && foundProduct == product;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> hidrawNodesOf(const std::string& classDir, uint32_t vendor, uint32_t product) {
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(classDir, error)) {
        if (ueventMatches(entry.path() / "device" / "uevent", vendor, product)) {
            nodes.push_back("/dev/" + entry.path().filename().string());
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

}  // namespace juxhid::tool
