#include "platform/hidraw/errno_translation.h"

#include <cerrno>

#include "platform/platform.h"

namespace juxhid::hidraw {

namespace {

bool isUnplug(int error, Call call) {
    switch (error) {
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN: return true;
        case EIO: return call == Call::Read;
        default: return false;
    }
}

}  // namespace

uint32_t translateErrno(int error, Call call) {
    if (call == Call::Open) {
        // A node whose device has gone between listing and opening is, to the
        // caller, a device that is not there.
        if (error == ENODEV || error == ENXIO) return platform::kErrorFileNotFound;
    } else if (isUnplug(error, call)) {
        return platform::kErrorDeviceNotConnected;
    }
    switch (error) {
        case EACCES:
        case EPERM: return platform::kErrorAccessDenied;
        case ENOENT: return platform::kErrorFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG: return platform::kErrorPathNotFound;
        case EBADF: return platform::kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        default: return kErrorGenFailure;
    }
}

}  // namespace juxhid::hidraw
