// What the seam's Device is on Windows: the file handle, and what a teardown
// needs to end a blocking read or write that another thread has pending on it.
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
    // Write handles are opened for overlapped transfers, each of which the
    // caller waits out, so a cancel can name the handle's own transfer
    // (CancelIoEx) whichever thread wrote it. Writes never overlap each
    // other: they all happen under the library's write lock.
    HANDLE writeDone;  // manual-reset event of the transfer in progress
    std::atomic<bool> writing;
    std::atomic<bool> writeCancelled;
};

}  // namespace juxhid::platform
