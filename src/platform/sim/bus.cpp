#include "platform/sim/bus.h"
#include "platform/sim/watch_feed.h"

#include "platform/sim/process_objects.h"

namespace juxhid::sim {

namespace {
// Outlives the process's static objects: handles may still be closed from
// the library's unload, which runs among the exit handlers.
std::atomic<Bus*> instance{nullptr};
}  // namespace

Bus& bus() { return processObject(instance); }

void releaseBus() { releaseProcessObject(instance); }

std::shared_ptr<SimDevice> attachedByPath(const Bus& state, const char* path) {
    if (path == nullptr) return nullptr;
    for (const auto& device : state.attached)
        if (device->path == path) return device;
    return nullptr;
}

SimDevice* knownDevice(const Bus& state, int32_t id) {
    const auto found = state.known.find(id);
    return found == state.known.end() ? nullptr : found->second.get();
}

void unplug(SimDevice& device) {
    if (device.attached) announceRemoval(device);
    device.attached = false;
    for (platform::Device* handle : device.readHandles) handle->changed.notify_all();
    device.writeWake.notify_all();
    device.readSide.notify_all();
}

namespace {

void queueReport(platform::Device& handle, const uint8_t* bytes, uint32_t length) {
    if (handle.reports.size() >= kReportsPerReadHandle) handle.reports.pop_front();
    if (length == 0) {
        handle.reports.emplace_back();
    } else {
        handle.reports.emplace_back(bytes, bytes + length);
    }
    handle.changed.notify_one();
}

}  // namespace

int32_t deliverToReadHandles(SimDevice& device, const uint8_t* bytes, uint32_t length) {
    if (!device.attached) return 0;
    int32_t reached = 0;
    for (platform::Device* handle : device.readHandles) {
        if (handle->cancelled) continue;
        queueReport(*handle, bytes, length);
        ++reached;
    }
    return reached;
}

bool readHandlesHaveRoom(const SimDevice& device) {
    if (device.readHandles.empty()) return false;
    for (const platform::Device* handle : device.readHandles)
        if (!handle->cancelled && handle->reports.size() >= kReportsPerReadHandle) return false;
    return true;
}

}  // namespace juxhid::sim
