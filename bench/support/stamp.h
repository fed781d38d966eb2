// Every input report a benchmark delivers carries its run, its sequence
// number on its device and the bus time at which it was handed over, so the
// receiving side can tell a lost report from a late one, ignore a straggler of
// an earlier run, and measure latency without any side channel.
#pragma once

#include <cstdint>
#include <cstring>

namespace juxhid::bench {

struct Stamp {
    uint8_t run = 0;
    uint32_t sequence = 0;
    uint64_t deliveredNs = 0;
};

// Byte 0 is the report-identifier position, which the data callback never
// sees; the stamp follows it.
inline constexpr uint32_t kStampOffset = 1;
inline constexpr uint32_t kStampBytes = 1 + 4 + 8;
inline constexpr uint32_t kShortestStampedReport = kStampOffset + kStampBytes;

// `report` holds at least kShortestStampedReport bytes.
inline void writeStamp(uint8_t* report, const Stamp& stamp) {
    report[0] = 0;
    uint8_t* at = report + kStampOffset;
    at[0] = stamp.run;
    std::memcpy(at + 1, &stamp.sequence, sizeof stamp.sequence);
    std::memcpy(at + 5, &stamp.deliveredNs, sizeof stamp.deliveredNs);
}

// Reads the stamp from a report as the data callback receives it: without
// its first byte.
inline Stamp readStampFromPayload(const uint8_t* payload) {
    Stamp stamp;
    stamp.run = payload[0];
    std::memcpy(&stamp.sequence, payload + 1, sizeof stamp.sequence);
    std::memcpy(&stamp.deliveredNs, payload + 5, sizeof stamp.deliveredNs);
    return stamp;
}

// Reads the stamp from a whole report, as ReadData hands it out.
inline Stamp readStamp(const uint8_t* report) { return readStampFromPayload(report + kStampOffset); }

}  // namespace juxhid::bench
