// The one place where a failed Win32 call's error is read and put in the
// seam's terms. The seam uses the Win32 numbers themselves; the only change
// is that a failure the platform left without an error number still reads as
// a failure (ERROR_GEN_FAILURE), never as 0.
#pragma once

#include <cstdint>

#include "windows_api.h"

namespace juxhid::win32 {

inline uint32_t lastErrorNumber() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

}  // namespace juxhid::win32
