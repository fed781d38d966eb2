// Reads, one report per read(), as the Windows caller expects them: the
// report ID in front (0 for a device that numbers none), padded with zeros to
// the collection's input report length, and only the reports of the row's
// own collection. A blocking read() on a hidraw node does not end when the
// file is closed, so the read waits in poll() on the node and on a wake-up
// descriptor that deviceCancelRead makes readable.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/hidraw/device.h"
#include "platform/hidraw/errno_translation.h"

namespace juxhid::platform {

namespace {

constexpr size_t kScratchReportBytes = 16384;

Transfer failed(uint32_t error) { return Transfer{false, 0, error}; }

enum class Wake { Readable, HungUp, Cancelled, Failed };

Wake waitForReport(Device* device, uint32_t* error) {
    pollfd watched[2] = {{device->fd, POLLIN, 0}, {device->wakeFd, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) >= 0) break;
        if (errno != EINTR) {
            *error = hidraw::translateErrno(errno, hidraw::Call::Read);
            return Wake::Failed;
        }
    }
    if (watched[1].revents != 0 || device->cancelled.load()) return Wake::Cancelled;
    if ((watched[0].revents & POLLNVAL) != 0) {
        *error = kErrorInvalidHandle;
        return Wake::Failed;
    }
    // After an unplug the read still hands out what the kernel holds, and
    // fails once that is gone.
    return (watched[0].revents & (POLLERR | POLLHUP)) != 0 ? Wake::HungUp : Wake::Readable;
}

// One report into the scratch buffer, its ID byte first. 0 when there was
// none after all (a spurious wake-up), -1 with *error when the read failed.
ssize_t readReport(Device* device, uint32_t* error) {
    uint8_t* into = device->scratch + (device->prependReportId ? 1 : 0);
    device->scratch[0] = 0;
    for (;;) {
        const ssize_t got = ::read(device->fd, into, kScratchReportBytes);
        if (got > 0) return got + (device->prependReportId ? 1 : 0);
        if (got == 0) break;  // end of file: no hidraw node does this but one whose device is gone
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        *error = hidraw::translateErrno(errno, hidraw::Call::Read);
        return -1;
    }
    *error = kErrorDeviceNotConnected;
    return -1;
}

bool ownsReport(const Device& device, uint8_t reportId) {
    return device.descriptor.collections[device.collection].reportIds.contains(reportId);
}

Transfer deliver(const Device& device, size_t got, void* buffer, uint32_t length) {
    const size_t copied = got < length ? got : length;
    std::memcpy(buffer, device.scratch, copied);
    std::memset(static_cast<uint8_t*>(buffer) + copied, 0, length - copied);
    return Transfer{true, length, 0};
}

Transfer readOwnReport(Device* device, void* buffer, uint32_t length) {
    for (;;) {
        uint32_t error = 0;
        if (device->cancelled.load()) return failed(kErrorOperationAborted);
        const Wake wake = waitForReport(device, &error);
        if (wake == Wake::Cancelled) return failed(kErrorOperationAborted);
        if (wake == Wake::Failed) return failed(error);
        const ssize_t got = readReport(device, &error);
        if (got < 0) return failed(error);
        // Hung up with nothing left to read: the device is gone, whatever the
        // read itself said.
        if (got == 0 && wake == Wake::HungUp) return failed(kErrorDeviceNotConnected);
        if (got > 0 && ownsReport(*device, device->scratch[0]))
            return deliver(*device, static_cast<size_t>(got), buffer, length);
    }
}

}  // namespace

Transfer deviceRead(Device* device, void* buffer, uint32_t length) {
    if (device == nullptr || device->access != Access::Read) return failed(kErrorInvalidHandle);
    device->readsInside.fetch_add(1);
    const Transfer transfer = readOwnReport(device, buffer, length);
    device->readsInside.fetch_sub(1);
    return transfer;
}

void deviceCancelRead(Device* device) {
    if (device == nullptr || device->cancelled.exchange(true)) return;
    if (device->wakeFd < 0) return;
    const uint64_t one = 1;
    while (::write(device->wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

}  // namespace juxhid::platform
