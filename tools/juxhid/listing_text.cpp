#include "listing_text.h"

#include <cstdio>

namespace juxhid::tool {

std::string formatDeviceTable(uint32_t vendor, const std::vector<ListedDevice>& devices) {
    char line[160];
    std::snprintf(line, sizeof line, "vendor 0x%04X: %zu device%s\n", static_cast<unsigned>(vendor),
                  devices.size(), devices.size() == 1 ? "" : "s");
    std::string text = line;
    text += "index  product  usage page  usage   input  output\n";
    for (const ListedDevice& d : devices) {
        std::snprintf(line, sizeof line, "%5d  0x%04X   0x%04X      0x%04X  %5d  %6d\n",
                      static_cast<int>(d.index), static_cast<unsigned>(d.productId),
                      static_cast<unsigned>(d.usagePage), static_cast<unsigned>(d.usage),
                      static_cast<int>(d.inputLength), static_cast<int>(d.outputLength));
        text += line;
    }
    return text;
}

std::string formatDeviceJson(uint32_t vendor, int32_t status, const std::vector<ListedDevice>& devices) {
    std::string text = "{\"vendor\": " + std::to_string(vendor) + ", \"status\": " + std::to_string(status) +
                       ", \"devices\": [";
    for (size_t i = 0; i < devices.size(); ++i) {
        const ListedDevice& d = devices[i];
        if (i > 0) text += ", ";
        text += "{\"index\": " + std::to_string(d.index) + ", \"productId\": " + std::to_string(d.productId) +
                ", \"usagePage\": " + std::to_string(d.usagePage) + ", \"usage\": " + std::to_string(d.usage) +
                ", \"inputLength\": " + std::to_string(d.inputLength) +
                ", \"outputLength\": " + std::to_string(d.outputLength) + "}";
    }
    return text + "]}\n";
}

std::string formatHex(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace juxhid::tool
