#include "bare_reader.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

namespace juxhid::winekernel {
namespace {

struct Reading {
    HANDLE handle;
    uint32_t length;
    uint32_t marker;
    BareRead* result;
};

DWORD WINAPI readUntilMarker(void* argument) {
    Reading& reading = *static_cast<Reading*>(argument);
    Bytes report(reading.length);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(reading.handle, report.data(), reading.length, &got, nullptr)) {
            const DWORD error = GetLastError();
            if (error != ERROR_OPERATION_ABORTED) reading.result->failedWith = error;
            return 0;
        }
        if (got != reading.length) {
            ++reading.result->shortReads;
            continue;
        }
        const uint32_t sequence = sequenceOf(report);
        if (sequence == reading.marker) return 0;
        reading.result->sequences.push_back(sequence);
    }
}

bool matches(const char* path, uint16_t vendor, uint16_t product) {
    const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    const bool same = HidD_GetAttributes(handle, &attributes) && attributes.VendorID == vendor &&
                      attributes.ProductID == product;
    CloseHandle(handle);
    return same;
}

}  // namespace

std::string hidPathOf(uint16_t vendor, uint16_t product) {
    GUID hid{};
    HidD_GetHidGuid(&hid);
    const HDEVINFO list = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return {};
    std::string found;
    SP_DEVICE_INTERFACE_DATA member{};
    member.cbSize = sizeof member;
    for (DWORD at = 0; found.empty() && SetupDiEnumDeviceInterfaces(list, nullptr, &hid, at, &member); ++at) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(list, &member, nullptr, 0, &size, nullptr);
        std::vector<char> record(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(list, &member, detail, size, nullptr, nullptr) &&
            matches(detail->DevicePath, vendor, product))
            found = detail->DevicePath;
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

long bareWriteCount(const std::string& path, const Bytes& report) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    DWORD written = 0;
    const BOOL done = WriteFile(handle, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(handle);
    return done ? static_cast<long>(written) : -1;
}

BareRead bareRead(const std::string& path, uint32_t queue, uint32_t length, uint32_t marker, uint32_t limitMs,
                  const std::function<void()>& during) {
    BareRead result;
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result.failedWith = GetLastError();
        return result;
    }
    if (queue > 0) HidD_SetNumInputBuffers(handle, queue);
    ULONG actual = 0;
    if (HidD_GetNumInputBuffers(handle, &actual)) result.queue = actual;
    Reading reading{handle, length, marker, &result};
    const HANDLE thread = CreateThread(nullptr, 0, readUntilMarker, &reading, 0, nullptr);
    if (thread == nullptr) {
        result.failedWith = GetLastError();
        CloseHandle(handle);
        return result;
    }
    Sleep(100);  // the reader waits in its first ReadFile
    during();
    if (WaitForSingleObject(thread, limitMs) == WAIT_TIMEOUT) {
        CancelSynchronousIo(thread);
        WaitForSingleObject(thread, 5000);
    }
    CloseHandle(thread);
    CloseHandle(handle);
    return result;
}

}  // namespace juxhid::winekernel
