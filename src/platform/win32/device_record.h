// What the seam's Device is on Windows: the file handle, and what a teardown
// needs to end a blocking read that another thread has pending on it.
#pragma once

#include <atomic>

#include "platform/platform.h"
#include "windows_api.h"

namespace juxhid::platform {

struct Device {
    HANDLE handle;
    // The thread that reads from this handle (one reader per handle), opened
    // on its first read so that a cancel can reach its pending transfer.
    HANDLE reader;
    std::atomic<bool> reading;
    std::atomic<bool> readCancelled;
};

}  // namespace juxhid::platform
