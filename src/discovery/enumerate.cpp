// Listing: walk the platform's present HID interfaces, keep the vendor's, and
// record up to 25 of them as the device table. A candidate is opened only
// long enough to read its identity and capabilities.
#include <cstring>

#include "discovery/device_paths.h"
#include "frame/library_state.h"
#include "interface/teardown.h"
#include "juxhid.h"
#include "juxhid_status.h"

namespace juxhid {
namespace {

struct Candidate {
    platform::DeviceAttributes attributes{};
    platform::DeviceCaps caps{};
};

// Opens the member's path and reads what a row needs. Every resource the
// candidate obtained is given back before it answers; false skips it.
bool readCandidate(const char* path, uint32_t vendorId, Candidate* candidate) {
    uint32_t error = 0;
    platform::Device* device = platform::deviceOpen(path, platform::Access::Query, &error);
    if (device == nullptr) return false;
    bool recorded = false;
    // The vendor id is compared as a whole 32-bit value: one with bits above
    // the lowest 16 matches no device.
    if (platform::deviceAttributes(device, &candidate->attributes, &error) &&
        uint32_t{candidate->attributes.vendorId} == vendorId) {
        if (platform::Preparsed* preparsed = platform::devicePreparsed(device, &error)) {
            recorded = platform::deviceCaps(preparsed, &candidate->caps);
            platform::deviceClose(device);
            device = nullptr;
            platform::preparsedFree(preparsed);
        }
    }
    if (device != nullptr) platform::deviceClose(device);
    return recorded;
}

void copyDevicePath(char (&destination)[kDevicePathBytes], const char* path) {
    std::memset(destination, 0, kDevicePathBytes);
    const size_t length = strnlen(path, kDevicePathBytes - 1);
    std::memcpy(destination, path, length);
}

// A row is recorded only with its whole path kept for opening.
bool recordDevice(const Candidate& candidate, const char* path) {
    LibraryState& library = state();
    const int32_t row = library.deviceCount.load();
    DeviceEntry& entry = library.devices[row];
    // An interface still open from an earlier listing is closed first: the
    // row it was opened from is about to describe another device.
    closeInterface(row);
    if (!keepOpenPath(entry, path)) return false;
    entry.ProductID = candidate.attributes.productId;
    entry.Usage = candidate.caps.usage;
    entry.UsagePage = candidate.caps.usagePage;
    entry.InputReportByteLength = candidate.caps.inputReportByteLength;
    entry.OutputReportByteLength = candidate.caps.outputReportByteLength;
    entry.Index = row;
    copyDevicePath(entry.DevicePath, path);
    library.deviceCount.store(row + 1);
    return true;
}

// One turn of the walk over an existing member: true if it was recorded.
bool visitMember(platform::DeviceList* list, const platform::InterfaceRef& ref, uint32_t vendorId) {
    uint32_t size = 0;
    uint32_t error = 0;
    if (!platform::deviceDetailSize(list, ref, &size, &error) &&
        error != platform::kErrorInsufficientBuffer)
        return false;
    void* record = platform::allocate(size);
    if (record == nullptr) return false;
    bool recorded = false;
    if (platform::deviceDetailFetch(list, ref, record, size, &error)) {
        const char* path = platform::deviceDetailPath(record);
        Candidate candidate;
        recorded = readCandidate(path, vendorId, &candidate) && recordDevice(candidate, path);
    }
    platform::release(record);
    return recorded;
}

void writeSummaries(DeviceSummary* devices, int32_t* count) {
    const LibraryState& library = state();
    const int32_t listed = library.deviceCount.load();
    *count = listed;
    for (int32_t row = 0; row < listed; ++row) {
        const DeviceEntry& entry = library.devices[row];
        devices[row] = DeviceSummary{entry.ProductID, entry.Usage, entry.UsagePage, entry.Index};
    }
}

}  // namespace
}  // namespace juxhid

using namespace juxhid;

extern "C" JUXHID_API int32_t JUXHID_CALL EnumerateJUX(uint32_t vendorId, DeviceSummary* devices,
                                                       int32_t* count) {
    if (devices == nullptr || count == nullptr) return JUXHID_LIST_BAD_POINTER;
    LibraryState& library = state();
    library.deviceCount = 0;
    platform::DeviceList* list = platform::deviceListOpen();
    if (list == nullptr) return JUXHID_LIST_NO_DEVICE_LIST;
    for (uint32_t member = 0;; ++member) {
        platform::InterfaceRef ref{};
        uint32_t error = 0;
        if (!platform::deviceListMember(list, member, &ref, &error)) {
            if (error == platform::kErrorNoMoreItems && library.deviceCount.load() > 0) break;
            platform::deviceListClose(list);
            return error == platform::kErrorNoMoreItems ? JUXHID_LIST_NO_DEVICE
                                                        : JUXHID_LIST_WALK_FAILED;
        }
        if (visitMember(list, ref, vendorId) && library.deviceCount.load() == kMaxDevices) break;
    }
    writeSummaries(devices, count);
    platform::deviceListClose(list);
    return JUXHID_OK;
}

extern "C" JUXHID_API int32_t JUXHID_CALL GetReadLength(int32_t index) {
    if (!isListedIndex(index)) return -1;
    return static_cast<int32_t>(state().devices[index].InputReportByteLength);
}

extern "C" JUXHID_API int32_t JUXHID_CALL GetWriteLength(int32_t index) {
    if (!isListedIndex(index)) return -1;
    return static_cast<int32_t>(state().devices[index].OutputReportByteLength);
}
