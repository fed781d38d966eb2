// Blocking reads and writes. A read waits for a report delivered to its own
// handle; it ends early when the read is cancelled or the handle closed
// (995), or when the device is unplugged (1167, and every later read at
// once). A write records what the device received and when.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/os.h"
#include "platform/sim/bus.h"
#include "platform/sim/faults.h"

namespace juxhid::platform {
namespace {

// A faulted transfer moves nothing: it fails with the fault's error, or
// "succeeds" at once with the fault's short count.
Transfer faulted(const sim::FaultOutcome& fault) {
    if (fault.error == 0) return Transfer{true, fault.shortCount, 0};
    return Transfer{false, 0, fault.error};
}

bool readCanEnd(const Device& handle) {
    return !handle.reports.empty() || handle.cancelled || handle.closed || !handle.device->attached;
}

// Waits for the read's outcome with the bus mutex held; a report is moved
// out into *report.
Transfer awaitReport(Device& handle, std::unique_lock<std::mutex>& hold, std::vector<uint8_t>* report) {
    handle.changed.wait(hold, [&] { return readCanEnd(handle); });
    if (handle.cancelled || handle.closed) return Transfer{false, 0, kErrorOperationAborted};
    if (!handle.device->attached) return Transfer{false, 0, kErrorDeviceNotConnected};
    *report = std::move(handle.reports.front());
    handle.reports.pop_front();
    handle.device->readSide.notify_all();
    return Transfer{true, static_cast<uint32_t>(report->size()), 0};
}

}  // namespace

Transfer deviceRead(Device* handle, void* buffer, uint32_t length) {
    if (handle == nullptr) return Transfer{false, 0, kErrorInvalidHandle};
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_READ, handle->device->id, &fault)) return faulted(fault);
    if (handle->access != Access::Read) return Transfer{false, 0, kErrorAccessDenied};

    std::vector<uint8_t> report;
    std::unique_lock<std::mutex> hold(sim::bus().mutex);
    ++handle->readsInside;
    const Transfer result = awaitReport(*handle, hold, &report);
    --handle->readsInside;
    const bool freeHandle = handle->closed && handle->readsInside == 0;
    hold.unlock();
    if (freeHandle) delete handle;
    // A report of another length than asked arrives whole in the count, cut
    // to the buffer in the bytes.
    if (result.ok && buffer != nullptr && !report.empty())
        std::memcpy(buffer, report.data(), std::min<size_t>(length, report.size()));
    return result;
}

void deviceCancelRead(Device* handle) {
    if (handle == nullptr) return;
    std::lock_guard<std::mutex> hold(sim::bus().mutex);
    handle->cancelled = true;
    handle->changed.notify_all();
}

namespace {

// A slow device takes its report only after the delay; a stalled one never.
// Either ends early, without the report, when the write is cancelled or the
// device unplugged. Called with the bus mutex held.
Transfer awaitWriteDelay(Device& handle, std::unique_lock<std::mutex>& hold) {
    sim::SimDevice& device = *handle.device;
    const auto ended = [&] { return handle.cancelled || !device.attached; };
    if (device.writeDelayMs == JUXSIM_WRITE_STALL) {
        device.writeWake.wait(hold, ended);
    } else if (device.writeDelayMs > 0) {
        device.writeWake.wait_for(hold, std::chrono::milliseconds(device.writeDelayMs), ended);
    }
    if (handle.cancelled) return Transfer{false, 0, kErrorOperationAborted};
    if (!device.attached) return Transfer{false, 0, kErrorDeviceNotConnected};
    return Transfer{true, 0, 0};
}

}  // namespace

Transfer deviceWrite(Device* handle, const void* buffer, uint32_t length) {
    if (handle == nullptr) return Transfer{false, 0, kErrorInvalidHandle};
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_WRITE, handle->device->id, &fault)) return faulted(fault);
    if (handle->access != Access::Write) return Transfer{false, 0, kErrorAccessDenied};

    const auto* bytes = static_cast<const uint8_t*>(buffer);
    std::vector<uint8_t> written(bytes, bytes + (bytes != nullptr ? length : 0));
    std::unique_lock<std::mutex> hold(sim::bus().mutex);
    const Transfer delayed = awaitWriteDelay(*handle, hold);
    if (!delayed.ok) return delayed;
    // Stamped when the device takes it, after any delay.
    handle->device->outputs.push_back({std::move(written), os::monotonicNs()});
    return Transfer{true, length, 0};
}

void deviceCancelWrite(Device* handle) {
    if (handle == nullptr) return;
    std::lock_guard<std::mutex> hold(sim::bus().mutex);
    handle->cancelled = true;
    handle->device->writeWake.notify_all();
}

}  // namespace juxhid::platform
