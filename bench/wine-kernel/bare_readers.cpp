#include "bare_readers.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cstdlib>

namespace juxhid::winekernel {

int64_t performanceFrequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

int64_t localNowNs() {
    static const int64_t frequency = performanceFrequency();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return ticksToNs(now.QuadPart, frequency);
}

std::map<uint16_t, std::string> hidPathsOfVendor(uint16_t vendor) {
    std::map<uint16_t, std::string> paths;
    GUID hid{};
    HidD_GetHidGuid(&hid);
    const HDEVINFO list = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA member{};
    member.cbSize = sizeof member;
    for (DWORD at = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &hid, at, &member); ++at) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(list, &member, nullptr, 0, &size, nullptr);
        std::vector<char> record(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(list, &member, detail, size, nullptr, nullptr)) continue;
        const HANDLE handle =
            CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (HidD_GetAttributes(handle, &attributes) && attributes.VendorID == vendor)
            paths[attributes.ProductID] = detail->DevicePath;
        CloseHandle(handle);
    }
    SetupDiDestroyDeviceInfoList(list);
    return paths;
}

unsigned long __stdcall BareReaders::readLoop(void* argument) {
    const Reader& reader = *static_cast<const Reader*>(argument);
    uint8_t report[1 + kStampedPayload];
    while (!reader.stopping->load()) {
        DWORD got = 0;
        if (!ReadFile(reader.handle, report, sizeof report, &got, nullptr)) return 0;
        const int64_t now = localNowNs();
        if (got == sizeof report) reader.arrivals->seeReport(report, now);
    }
    return 0;
}

bool BareReaders::start(const std::vector<std::string>& paths, uint32_t queue, Arrivals* arrivals) {
    stopping_ = false;
    readers_.reserve(paths.size());  // the threads hold pointers into it
    for (const std::string& path : paths) {
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) break;
        HidD_SetNumInputBuffers(handle, queue);
        ULONG actual = 0;
        if (readers_.empty() && HidD_GetNumInputBuffers(handle, &actual)) queue_ = actual;
        readers_.push_back(Reader{handle, nullptr, arrivals, &stopping_});
        readers_.back().thread = CreateThread(nullptr, 0, readLoop, &readers_.back(), 0, nullptr);
        if (readers_.back().thread == nullptr) break;
    }
    if (readers_.size() == paths.size() && readers_.back().thread != nullptr) return true;
    stop();
    return false;
}

// A read is ended by cancelling it; a reader between two reads sees the
// flag, or is cancelled again in its next read. A reader that outlives 5 s
// of that still holds its record and the arrivals: the measurement cannot
// go on without freeing them under it, so the program ends.
void BareReaders::stop() {
    stopping_ = true;
    for (Reader& reader : readers_) {
        if (reader.thread == nullptr) continue;
        bool ended = false;
        for (int attempt = 0; attempt < 50 && !ended; ++attempt) {
            CancelSynchronousIo(reader.thread);
            ended = WaitForSingleObject(reader.thread, 100) == WAIT_OBJECT_0;
        }
        if (!ended) {
            std::fprintf(stderr, "a bare reader did not end its read within 5 s: cannot measure on\n");
            std::fflush(stderr);
            std::_Exit(3);
        }
        CloseHandle(reader.thread);
    }
    for (Reader& reader : readers_) CloseHandle(reader.handle);
    readers_.clear();
}

}  // namespace juxhid::winekernel
