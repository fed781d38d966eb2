// Writes: the caller's bytes go to the node as they are. Their first byte is
// the report ID, 0 for a device that numbers none, which is also what hidraw
// expects in front of an unnumbered report.
//
// A write() already inside the kernel cannot be ended from another thread;
// the HID drivers bound it themselves (a USB device's output transfer gives
// up after a few seconds). A cancel therefore makes every later write fail
// at once, and the pending one ends by the driver's limit.
#include <unistd.h>

#include <cerrno>

#include "platform/hidraw/device.h"
#include "platform/hidraw/errno_translation.h"

namespace juxhid::platform {

Transfer deviceWrite(Device* device, const void* buffer, uint32_t length) {
    if (device == nullptr || device->access != Access::Write) return Transfer{false, 0, kErrorInvalidHandle};
    for (;;) {
        if (device->cancelled.load()) return Transfer{false, 0, kErrorOperationAborted};
        const ssize_t written = ::write(device->fd, buffer, length);
        if (written >= 0) return Transfer{true, static_cast<uint32_t>(written), 0};
        if (errno != EINTR) return Transfer{false, 0, hidraw::translateErrno(errno, hidraw::Call::Write)};
    }
}

void deviceCancelWrite(Device* device) {
    if (device != nullptr) device->cancelled.store(true);
}

}  // namespace juxhid::platform
