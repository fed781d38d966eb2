// Blocking report transfers, and ending a read or write that is pending on
// another thread.
//
// Reads are synchronous, and closing a handle does not end a synchronous
// read on it, so a teardown cancels the reader's transfer itself
// (CancelSynchronousIo), which makes the read fail with 995. The reader may
// be just about to start its read when the teardown comes: the two flags
// settle that race, as each side sets its own flag before looking at the
// other's. Either the reader sees the cancel and does not read, or the
// teardown sees the reader and keeps cancelling until the transfer is found
// and ended, or until the reader has left it.
#include "device_record.h"
#include "last_error.h"

namespace juxhid::platform {
namespace {

// How long a teardown keeps trying to find a transfer that was announced but
// not yet started; in practice it is found within microseconds.
constexpr ULONGLONG kCancelPatienceMs = 2000;

// The reading thread, opened for cancelling its transfers, once per handle.
bool knowReader(Device* device) {
    if (device->reader == nullptr)
        device->reader = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
    return device->reader != nullptr;
}

Transfer failed(uint32_t error) { return Transfer{false, 0, error}; }

// The HID class driver sends an output report whole or not at all, and
// Windows counts the whole buffer as written. Wine leaves the report-ID byte
// of a numbered report out of the count (4 for a 5-byte report) although the
// device got all of it; such a count is the whole report too.
uint32_t countedWhole(const void* buffer, uint32_t length, DWORD count) {
    const bool numbered = length > 0 && static_cast<const uint8_t*>(buffer)[0] != 0;
    return numbered && count + 1 == length ? length : count;
}

// Marks the handle's transfers cancelled, then, while a transfer is under way
// (`busy`), keeps asking `cancel` to end it until it is found or has left.
// Not found means the transfer has not started yet or has just ended.
template <typename Cancel>
void cancelTransfers(std::atomic<bool>& cancelled, const std::atomic<bool>& busy, Cancel cancel) {
    if (cancelled.exchange(true)) return;
    const ULONGLONG start = GetTickCount64();
    while (busy.load()) {
        if (cancel()) return;
        if (GetLastError() != ERROR_NOT_FOUND || GetTickCount64() - start > kCancelPatienceMs) return;
        Sleep(1);
    }
}

}  // namespace

Transfer deviceRead(Device* device, void* buffer, uint32_t length) {
    if (!knowReader(device)) return failed(win32::lastErrorNumber());
    device->reading.store(true);
    if (device->readCancelled.load()) {
        device->reading.store(false);
        return failed(ERROR_OPERATION_ABORTED);
    }
    DWORD count = 0;
    const BOOL done = ReadFile(device->handle, buffer, length, &count, nullptr);
    const uint32_t error = done ? 0 : win32::lastErrorNumber();
    device->reading.store(false);
    return done ? Transfer{true, count, 0} : failed(error);
}

void deviceCancelRead(Device* device) {
    cancelTransfers(device->readCancelled, device->reading,
                    [&] { return CancelSynchronousIo(device->reader) != FALSE; });
}

// The transfer is started and then waited out. The flags settle a cancel
// that comes while the writer is about to start: as with reads, each side sets
// its own flag before it looks at the other's.
Transfer deviceWrite(Device* device, const void* buffer, uint32_t length) {
    device->writing.store(true);
    if (device->writeCancelled.load()) {
        device->writing.store(false);
        return failed(ERROR_OPERATION_ABORTED);
    }
    OVERLAPPED transfer{};
    transfer.hEvent = device->writeDone;
    ResetEvent(device->writeDone);
    DWORD count = 0;
    BOOL done = WriteFile(device->handle, buffer, length, nullptr, &transfer);
    if (done || GetLastError() == ERROR_IO_PENDING)
        done = GetOverlappedResult(device->handle, &transfer, &count, TRUE);
    const uint32_t error = done ? 0 : win32::lastErrorNumber();
    device->writing.store(false);
    return done ? Transfer{true, countedWhole(buffer, length, count), 0} : failed(error);
}

void deviceCancelWrite(Device* device) {
    cancelTransfers(device->writeCancelled, device->writing,
                    [&] { return CancelIoEx(device->handle, nullptr) != FALSE; });
}

}  // namespace juxhid::platform
