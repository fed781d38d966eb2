#include "platform/sim/bus.h"

namespace juxhid::sim {

// Never destroyed: handles may still be closed from the library's unload,
// after the process's static objects are gone.
Bus& bus() {
    static Bus* const instance = new Bus;
    return *instance;
}

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
    device.attached = false;
    for (platform::Device* handle : device.readHandles) handle->changed.notify_all();
    device.writeWake.notify_all();
}

}  // namespace juxhid::sim
