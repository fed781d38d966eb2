// Win32 wait results in the seam's terms. The numbers coincide with the
// platform's own; anything unexpected counts as a failed wait.
#pragma once

#include "platform/platform.h"
#include "windows_api.h"

namespace juxhid::win32 {

inline int32_t waitOutcome(DWORD result) {
    switch (result) {
        case WAIT_OBJECT_0: return platform::kWaitAcquired;
        case WAIT_OBJECT_0 + 1: return platform::kWaitSecond;
        case WAIT_ABANDONED: return platform::kWaitAbandoned;
        case WAIT_TIMEOUT: return platform::kWaitTimeout;
        default: return platform::kWaitFailed;
    }
}

}  // namespace juxhid::win32
