// Self-checking reports for the soak: every byte follows from the device's
// tag and the report's number, so a torn, foreign or stale report is
// recognised wherever it turns up (polled, in a callback, on the device).
#pragma once

#include <cstdint>

namespace juxhid::test::soak {

// Byte 0 is the report-ID position; 1 the tag; 2 to 5 the number; the rest a
// mix of all three.
inline uint8_t reportByte(uint8_t tag, uint32_t number, uint32_t position) {
    if (position == 0) return 0;
    if (position == 1) return tag;
    if (position <= 5) return static_cast<uint8_t>(number >> (8 * (position - 2)));
    uint32_t x = number * 2654435761u ^ tag * 40503u ^ position * 0x9E3779B9u;
    x ^= x >> 15;
    return static_cast<uint8_t>(x * 0x2C1B3C6Du >> 24);
}

inline void fillReport(uint8_t* bytes, uint32_t length, uint8_t tag, uint32_t number) {
    for (uint32_t i = 0; i < length; ++i) bytes[i] = reportByte(tag, number, i);
}

struct Decoded {
    bool intact;
    bool blank;  // every byte zero: a callback copy that never held a report
    uint8_t tag;
    uint32_t number;
};

// Decodes `length` bytes that start at report position `first` (1 for what
// a data callback is handed).
inline Decoded decodeReport(const uint8_t* bytes, uint32_t length, uint32_t first = 0) {
    Decoded decoded{true, true, 0, 0};
    for (uint32_t i = 0; i < length; ++i) decoded.blank = decoded.blank && bytes[i] == 0;
    auto at = [&](uint32_t position) { return bytes[position - first]; };
    if (first > 1 || length + first < 6) return Decoded{false, decoded.blank, 0, 0};
    decoded.tag = at(1);
    for (uint32_t position = 2; position <= 5; ++position)
        decoded.number |= static_cast<uint32_t>(at(position)) << (8 * (position - 2));
    for (uint32_t i = 0; i < length; ++i)
        if (bytes[i] != reportByte(decoded.tag, decoded.number, i + first)) decoded.intact = false;
    return decoded;
}

}  // namespace juxhid::test::soak
