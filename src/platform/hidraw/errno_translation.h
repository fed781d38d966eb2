// The kernel's errno values, translated once at the backend edge into the
// Win32 error numbers the core tests (platform.h).
#pragma once

#include <cstdint>

namespace juxhid::hidraw {

// Numbers platform.h leaves to the backends: a fault of no particular kind,
// a descriptor no device can mean, memory that could not be obtained.
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;

// What the failing call was: an unplugged hidraw node answers reads with EIO
// (once its queued reports are gone) but writes with ENODEV, while EIO from a
// write is a transfer the device itself refused.
enum class Call { Open, Read, Write };

uint32_t translateErrno(int error, Call call);

}  // namespace juxhid::hidraw
