// The host's side of the bus: plugging devices in and out, delivering input
// reports, taking what the library wrote, and starting over.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "platform/sim/bus.h"
#include "platform/sim/message_box.h"
#include "platform/sim/watch_feed.h"

namespace juxhid::sim {
namespace {

// Unique on the bus because the id is never reused.
std::string madeUpPath(const SimDevice& device) {
    char path[96];
    std::snprintf(path, sizeof path, "\\\\?\\juxsim#vid_%04x&pid_%04x#%d", device.vendorId,
                  device.productId, device.id);
    return path;
}

// Every field is 16 bits wide on a real device: a wider value would be cut
// without a word, and a device would appear with a length it was not given.
bool describable(const JuxsimDeviceInfo& info) {
    constexpr uint32_t kWidest = 0xFFFF;
    return info.vendorId <= kWidest && info.productId <= kWidest && info.usagePage <= kWidest &&
           info.usage <= kWidest && info.inputReportLength <= kWidest &&
           info.outputReportLength <= kWidest;
}

std::shared_ptr<SimDevice> describe(const JuxsimDeviceInfo& info, int32_t id) {
    auto device = std::make_shared<SimDevice>();
    device->id = id;
    device->vendorId = static_cast<uint16_t>(info.vendorId);
    device->productId = static_cast<uint16_t>(info.productId);
    device->caps.usage = static_cast<uint16_t>(info.usage);
    device->caps.usagePage = static_cast<uint16_t>(info.usagePage);
    device->caps.inputReportByteLength = static_cast<uint16_t>(info.inputReportLength);
    device->caps.outputReportByteLength = static_cast<uint16_t>(info.outputReportLength);
    device->path = info.path != nullptr ? std::string(info.path) : madeUpPath(*device);
    return device;
}

}  // namespace
}  // namespace juxhid::sim

using namespace juxhid::sim;

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_attach(const JuxsimDeviceInfo* info) {
    if (info == nullptr || !describable(*info)) return -1;
    Bus& state = bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    auto device = describe(*info, ++state.lastId);
    state.attached.push_back(device);
    state.known.emplace(device->id, device);
    announceArrival(*device);
    return device->id;
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_detach(int32_t device) {
    Bus& state = bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    SimDevice* found = knownDevice(state, device);
    if (found == nullptr) return -1;
    unplug(*found);
    std::erase_if(state.attached, [&](const auto& attached) { return attached.get() == found; });
    return 0;
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_deliver(int32_t device, const void* report,
                                                        uint32_t length) {
    if (report == nullptr && length != 0) return -1;
    Bus& state = bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    SimDevice* found = knownDevice(state, device);
    if (found == nullptr) return -1;
    return deliverToReadHandles(*found, static_cast<const uint8_t*>(report), length);
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_take_output(int32_t device, void* buffer,
                                                            uint32_t capacity, uint32_t* length,
                                                            uint64_t* timestampNs) {
    Bus& state = bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    SimDevice* found = knownDevice(state, device);
    if (found == nullptr) return -1;
    if (found->outputs.empty()) return 0;
    const OutputReport& oldest = found->outputs.front();
    const size_t copied = std::min<size_t>(capacity, oldest.bytes.size());
    if (buffer != nullptr && copied > 0) std::memcpy(buffer, oldest.bytes.data(), copied);
    if (length != nullptr) *length = static_cast<uint32_t>(oldest.bytes.size());
    if (timestampNs != nullptr) *timestampNs = oldest.timestampNs;
    found->outputs.pop_front();
    return 1;
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_output_count(int32_t device) {
    Bus& state = bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    const SimDevice* found = knownDevice(state, device);
    return found == nullptr ? -1 : static_cast<int32_t>(found->outputs.size());
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_set_write_delay(int32_t device, uint32_t ms) {
    Bus& state = bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    SimDevice* found = knownDevice(state, device);
    if (found == nullptr) return -1;
    found->writeDelayMs = ms;
    return 0;
}

extern "C" JUXHID_API uint64_t JUXHID_CALL juxsim_now_ns(void) { return juxhid::os::monotonicNs(); }

extern "C" JUXHID_API void JUXHID_CALL juxsim_reset(void) {
    juxsim_fault_clear();
    forgetMessageBoxes();
    Bus& state = bus();
    std::lock_guard<std::mutex> hold(state.mutex);
    for (auto& [id, device] : state.known) {
        unplug(*device);
        device->outputs.clear();
    }
    state.attached.clear();
    state.known.clear();
}
