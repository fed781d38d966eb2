// Opening and closing devices, and what a device tells about itself. Each
// open is a handle of its own; read handles are registered on the device
// so that deliveries reach them.
#include <algorithm>

#include "platform/sim/bus.h"
#include "platform/sim/counts.h"
#include "platform/sim/faults.h"

namespace juxhid::platform {
namespace {

JuxsimCall openCall(Access access) {
    switch (access) {
        case Access::Read:
            return JUXSIM_CALL_OPEN_READ;
        case Access::Write:
            return JUXSIM_CALL_OPEN_WRITE;
        case Access::Query:
        default:
            return JUXSIM_CALL_OPEN_QUERY;
    }
}

int32_t deviceIdOf(const Device* handle) { return handle != nullptr ? handle->device->id : 0; }

// Answers whether the handle's device is still plugged in; bus mutex taken.
bool stillAttached(const Device* handle) {
    std::lock_guard<std::mutex> hold(sim::bus().mutex);
    return handle->device->attached;
}

}  // namespace

Device* deviceOpen(const char* path, Access access, uint32_t* error) {
    sim::Bus& state = sim::bus();
    std::unique_lock<std::mutex> hold(state.mutex);
    std::shared_ptr<sim::SimDevice> device = sim::attachedByPath(state, path);
    hold.unlock();
    sim::FaultOutcome fault{};
    if (sim::faultTakes(openCall(access), device != nullptr ? device->id : 0, &fault)) {
        *error = fault.error;
        return nullptr;
    }
    hold.lock();
    if (device == nullptr || !device->attached) {
        *error = kErrorFileNotFound;
        return nullptr;
    }
    auto* handle = new Device;
    handle->device = device;
    handle->access = access;
    if (access == Access::Read) device->readHandles.push_back(handle);
    if (access == Access::Write) ++device->writeHandles;
    device->readSide.notify_all();
    ++sim::liveCounts().handles;
    return handle;
}

void deviceClose(Device* handle) {
    if (handle == nullptr) return;
    bool readPending = false;
    {
        std::lock_guard<std::mutex> hold(sim::bus().mutex);
        std::erase(handle->device->readHandles, handle);
        if (handle->access == Access::Write) --handle->device->writeHandles;
        handle->device->readSide.notify_all();
        handle->closed = true;
        readPending = handle->readsInside > 0;
        if (readPending) handle->changed.notify_all();
    }
    --sim::liveCounts().handles;
    // A read still pending frees the handle when it leaves.
    if (!readPending) delete handle;
}

bool deviceAttributes(Device* handle, DeviceAttributes* attributes, uint32_t* error) {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_ATTRIBUTES, deviceIdOf(handle), &fault)) {
        *error = fault.error;
        return false;
    }
    if (handle == nullptr || !stillAttached(handle)) {
        *error = handle == nullptr ? kErrorInvalidHandle : kErrorDeviceNotConnected;
        return false;
    }
    attributes->vendorId = handle->device->vendorId;
    attributes->productId = handle->device->productId;
    return true;
}

Preparsed* devicePreparsed(Device* handle, uint32_t* error) {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_PREPARSED, deviceIdOf(handle), &fault)) {
        *error = fault.error;
        return nullptr;
    }
    if (handle == nullptr || !stillAttached(handle)) {
        *error = handle == nullptr ? kErrorInvalidHandle : kErrorDeviceNotConnected;
        return nullptr;
    }
    auto* preparsed = new Preparsed{handle->device->id, handle->device->caps};
    ++sim::liveCounts().preparsed;
    return preparsed;
}

bool deviceCaps(Preparsed* preparsed, DeviceCaps* caps) {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_CAPS, preparsed != nullptr ? preparsed->deviceId : 0, &fault))
        return false;
    if (preparsed == nullptr) return false;
    *caps = preparsed->caps;
    return true;
}

void preparsedFree(Preparsed* preparsed) {
    if (preparsed == nullptr) return;
    delete preparsed;
    --sim::liveCounts().preparsed;
}

}  // namespace juxhid::platform
