// The list of present HID interfaces: a snapshot of the bus in attach
// order, so a device plugged in while the library walks the list is not in
// it. Members are named by their index; each member's detail record is a
// 4-byte size field followed by the NUL-terminated path.
#include <cstring>

#include "platform/sim/bus.h"
#include "platform/sim/counts.h"
#include "platform/sim/faults.h"

namespace juxhid::platform {
namespace {

constexpr uint32_t kDetailHeaderBytes = 4;
// What callers of the real service put in the size field: the size of the
// record's fixed part.
constexpr uint32_t kDetailSizeField = 5;
constexpr uint32_t kErrorInvalidParameter = 87;

const sim::SimDevice* memberDevice(const DeviceList* list, uint32_t member) {
    if (list == nullptr || member >= list->members.size()) return nullptr;
    return list->members[member].get();
}

int32_t memberDeviceId(const DeviceList* list, uint32_t member) {
    const sim::SimDevice* device = memberDevice(list, member);
    return device != nullptr ? device->id : 0;
}

uint32_t detailBytes(const sim::SimDevice& device) {
    return kDetailHeaderBytes + static_cast<uint32_t>(device.path.size()) + 1;
}

}  // namespace

DeviceList* deviceListOpen() {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_LIST_OPEN, 0, &fault)) return nullptr;
    auto* list = new DeviceList;
    {
        sim::Bus& state = sim::bus();
        std::lock_guard<std::mutex> hold(state.mutex);
        list->members = state.attached;
    }
    ++sim::liveCounts().deviceLists;
    return list;
}

bool deviceListMember(DeviceList* list, uint32_t member, InterfaceRef* ref, uint32_t* error) {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_LIST_INTERFACE, memberDeviceId(list, member), &fault)) {
        *error = fault.error;
        return false;
    }
    const sim::SimDevice* device = memberDevice(list, member);
    if (device == nullptr) {
        *error = list == nullptr ? kErrorInvalidParameter : kErrorNoMoreItems;
        return false;
    }
    ref->member = member;
    ref->backend = static_cast<uintptr_t>(device->id);
    return true;
}

bool deviceDetailSize(DeviceList* list, const InterfaceRef& ref, uint32_t* size, uint32_t* error) {
    const sim::SimDevice* device = memberDevice(list, ref.member);
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_DETAIL_SIZE, device != nullptr ? device->id : 0, &fault)) {
        *size = 0;
        *error = fault.error;
        return false;
    }
    if (device == nullptr) {
        *error = kErrorInvalidParameter;
        return false;
    }
    // The size comes with a "failure", as the platform's own service answers.
    *size = detailBytes(*device);
    *error = kErrorInsufficientBuffer;
    return false;
}

bool deviceDetailFetch(DeviceList* list, const InterfaceRef& ref, void* record, uint32_t size,
                       uint32_t* error) {
    const sim::SimDevice* device = memberDevice(list, ref.member);
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_DETAIL_FETCH, device != nullptr ? device->id : 0, &fault)) {
        *error = fault.error;
        return false;
    }
    if (device == nullptr || record == nullptr) {
        *error = kErrorInvalidParameter;
        return false;
    }
    if (size < detailBytes(*device)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    auto* bytes = static_cast<uint8_t*>(record);
    std::memcpy(bytes, &kDetailSizeField, kDetailHeaderBytes);
    std::memcpy(bytes + kDetailHeaderBytes, device->path.c_str(), device->path.size() + 1);
    return true;
}

const char* deviceDetailPath(const void* record) {
    return static_cast<const char*>(record) + kDetailHeaderBytes;
}

void deviceListClose(DeviceList* list) {
    if (list == nullptr) return;
    delete list;
    --sim::liveCounts().deviceLists;
}

}  // namespace juxhid::platform
