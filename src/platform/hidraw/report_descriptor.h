// A HID report descriptor read the way the Windows HID class reads it: what
// each top-level collection is (its usage page and usage), which report IDs
// it owns, and how long its reports are. On Windows every top-level collection
// is a device of its own, while a hidraw node covers the whole USB interface,
// so the backend lists and reads per collection from this.
#pragma once

#include <cstddef>
#include <cstdint>

namespace juxhid::hidraw {

// More top-level collections than this in one interface is not a device.
inline constexpr uint32_t kMaxTopLevelCollections = 32;

// The kernel hands out no descriptor longer than this.
inline constexpr size_t kMaxReportDescriptorBytes = 4096;

// A set of report IDs; ID 0 stands for the reports of a device that numbers
// none.
class ReportIdSet {
public:
    void add(uint8_t id) { words_[id / 32] |= 1u << (id % 32); }
    bool contains(uint8_t id) const { return (words_[id / 32] & (1u << (id % 32))) != 0; }
    bool empty() const;

private:
    uint32_t words_[8] = {};
};

// Report byte lengths are counted as the Windows caps give them: the longest
// report of that kind over all the collection's report IDs, in whole bytes,
// plus one byte for the report ID (also when the device numbers no reports);
// 0 when the collection has no report of that kind.
struct TopLevelCollection {
    uint16_t usagePage;
    uint16_t usage;
    uint16_t inputReportByteLength;
    uint16_t outputReportByteLength;
    uint16_t featureReportByteLength;
    ReportIdSet reportIds;  // every ID any of its reports uses
};

struct ReportDescriptor {
    bool numbered;  // every report starts with its report ID on the wire
    uint32_t collectionCount;
    TopLevelCollection collections[kMaxTopLevelCollections];
};

// Parses `length` bytes. False, with *descriptor unspecified, for what no
// device can mean: an item cut short by the end, an End Collection without
// its Collection or a collection left open, a Pop without its Push, a report
// ID of 0 or above 255, reports outside every collection, numbered and
// unnumbered reports mixed, a report too long to count, no top-level
// collection, or more than kMaxTopLevelCollections. Reads no byte outside the
// given range, whatever the bytes are.
bool parseReportDescriptor(const uint8_t* bytes, size_t length, ReportDescriptor* descriptor);

}  // namespace juxhid::hidraw
