// Opening HID devices and asking them who they are and what they carry.
#include <new>

#include "device_record.h"
#include "last_error.h"

namespace juxhid::platform {
namespace {

constexpr ULONG kAttributesSize = 12;
static_assert(sizeof(HIDD_ATTRIBUTES) == kAttributesSize);

DWORD desiredAccess(Access access) {
    switch (access) {
        case Access::Read: return GENERIC_READ;
        case Access::Write: return GENERIC_WRITE;
        case Access::Query: break;
    }
    // Identity and capabilities need neither reading nor writing.
    return GENERIC_EXECUTE;
}

// The HID class driver keeps each handle's input reports in a queue of its
// own, 32 by default, and drops reports when the reader falls behind. A
// burst the library's ring could hold would be cut there first, so the
// reading handle asks for the largest queue the system accepts: 512 on
// current Windows, less on older ones (which refuse larger numbers).
void enlargeInputQueue(HANDLE handle) {
    for (const ULONG reports : {512UL, 256UL, 128UL, 64UL}) {
        if (HidD_SetNumInputBuffers(handle, reports)) return;
    }
}

}  // namespace

// Shared for reading and writing, so that the listing's query, the reader
// and the writer (and other programs) can hold the device at once. Reads
// block; writes are overlapped and waited out, so that a cancel can end them.
Device* deviceOpen(const char* path, Access access, uint32_t* error) {
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Device));
    if (memory == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    const bool writes = access == Access::Write;
    HANDLE writeDone = writes ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
    const HANDLE handle =
        (writes && writeDone == nullptr)
            ? INVALID_HANDLE_VALUE
            : CreateFileA(path, desiredAccess(access), FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, writes ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = win32::lastErrorNumber();
        if (writeDone != nullptr) CloseHandle(writeDone);
        HeapFree(GetProcessHeap(), 0, memory);
        return nullptr;
    }
    if (access == Access::Read) enlargeInputQueue(handle);
    return new (memory) Device{handle, nullptr, {false}, {false}, writeDone, {false}, {false}};
}

void deviceClose(Device* device) {
    if (device == nullptr) return;
    CloseHandle(device->handle);
    if (device->reader != nullptr) CloseHandle(device->reader);
    if (device->writeDone != nullptr) CloseHandle(device->writeDone);
    device->~Device();
    HeapFree(GetProcessHeap(), 0, device);
}

bool deviceAttributes(Device* device, DeviceAttributes* attributes, uint32_t* error) {
    HIDD_ATTRIBUTES answer{};
    answer.Size = kAttributesSize;
    if (!HidD_GetAttributes(device->handle, &answer)) {
        *error = win32::lastErrorNumber();
        return false;
    }
    *attributes = DeviceAttributes{answer.VendorID, answer.ProductID};
    return true;
}

Preparsed* devicePreparsed(Device* device, uint32_t* error) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device->handle, &preparsed)) {
        *error = win32::lastErrorNumber();
        return nullptr;
    }
    return reinterpret_cast<Preparsed*>(preparsed);
}

bool deviceCaps(Preparsed* preparsed, DeviceCaps* caps) {
    HIDP_CAPS answer{};
    if (HidP_GetCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed), &answer) != HIDP_STATUS_SUCCESS)
        return false;
    *caps = DeviceCaps{answer.Usage, answer.UsagePage, answer.InputReportByteLength,
                       answer.OutputReportByteLength};
    return true;
}

void preparsedFree(Preparsed* preparsed) {
    HidD_FreePreparsedData(reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed));
}

}  // namespace juxhid::platform
