// libFuzzer target for the report-descriptor parser, built with the address
// and undefined-behaviour sanitizers by .ci/hidraw-fuzz.sh. Besides reading
// nothing out of bounds, whatever it accepts must be self-consistent.
#include <cstdlib>

#include "platform/hidraw/report_descriptor.h"

namespace {

using juxhid::hidraw::ReportDescriptor;
using juxhid::hidraw::TopLevelCollection;

bool ownsOnlyIdZero(const TopLevelCollection& collection) {
    for (uint32_t id = 1; id < 256; ++id)
        if (collection.reportIds.contains(static_cast<uint8_t>(id))) return false;
    return true;
}

bool lengthFits(uint16_t length) { return length != 1; }  // 0: none; else a byte and the ID

bool consistent(const TopLevelCollection& collection, bool numbered) {
    const bool noReports = collection.inputReportByteLength == 0 && collection.outputReportByteLength == 0 &&
                           collection.featureReportByteLength == 0;
    if (collection.reportIds.empty() != noReports) return false;
    // A numbered device has no report 0; an unnumbered one has only that.
    if (numbered ? collection.reportIds.contains(0) : !ownsOnlyIdZero(collection)) return false;
    return lengthFits(collection.inputReportByteLength) && lengthFits(collection.outputReportByteLength) &&
           lengthFits(collection.featureReportByteLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReportDescriptor descriptor;
    if (!juxhid::hidraw::parseReportDescriptor(data, size, &descriptor)) return 0;
    if (descriptor.collectionCount == 0 || descriptor.collectionCount > juxhid::hidraw::kMaxTopLevelCollections)
        std::abort();
    for (uint32_t i = 0; i < descriptor.collectionCount; ++i)
        if (!consistent(descriptor.collections[i], descriptor.numbered)) std::abort();
    return 0;
}
