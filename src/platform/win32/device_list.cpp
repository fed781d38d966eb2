// The listing walk over the device-setup service: the present devices that
// expose the HID interface class, one member at a time.
#include "last_error.h"
#include "platform/platform.h"

namespace juxhid::platform {

struct DeviceList {
    HDEVINFO info;
    GUID hidClass;
    // The member the walk stands on; the seam's InterfaceRef points here.
    SP_DEVICE_INTERFACE_DATA member;
};

namespace {

// The sizes the platform's records have for this architecture: the
// interface record, and the fixed head of the detail record (its size field
// and the first path character, which 64-bit Windows pads to 8). The service
// checks the size fields against the caller's architecture, so these are
// the sizes it expects, not merely what the headers happen to say.
#if defined(_WIN64)
constexpr DWORD kInterfaceDataSize = 32;
constexpr DWORD kDetailHeadSize = 8;
#else
constexpr DWORD kInterfaceDataSize = 28;
constexpr DWORD kDetailHeadSize = 5;
#endif
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == kInterfaceDataSize);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == kDetailHeadSize);

SP_DEVICE_INTERFACE_DATA* memberOf(const InterfaceRef& ref) {
    return reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(ref.backend);
}

}  // namespace

DeviceList* deviceListOpen() {
    auto* list =
        static_cast<DeviceList*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeviceList)));
    if (list == nullptr) return nullptr;
    HidD_GetHidGuid(&list->hidClass);
    list->info =
        SetupDiGetClassDevsA(&list->hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list->info == INVALID_HANDLE_VALUE) {
        HeapFree(GetProcessHeap(), 0, list);
        return nullptr;
    }
    return list;
}

bool deviceListMember(DeviceList* list, uint32_t member, InterfaceRef* ref, uint32_t* error) {
    list->member.cbSize = kInterfaceDataSize;
    if (!SetupDiEnumDeviceInterfaces(list->info, nullptr, &list->hidClass, member, &list->member)) {
        *error = win32::lastErrorNumber();
        return false;
    }
    *ref = InterfaceRef{member, reinterpret_cast<uintptr_t>(&list->member)};
    return true;
}

bool deviceDetailSize(DeviceList* list, const InterfaceRef& ref, uint32_t* size, uint32_t* error) {
    DWORD required = 0;
    const BOOL answered =
        SetupDiGetDeviceInterfaceDetailA(list->info, memberOf(ref), nullptr, 0, &required, nullptr);
    if (!answered) *error = win32::lastErrorNumber();
    *size = required;
    return answered != 0;
}

bool deviceDetailFetch(DeviceList* list, const InterfaceRef& ref, void* record, uint32_t size,
                       uint32_t* error) {
    if (size < kDetailHeadSize) {
        *error = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record);
    detail->cbSize = kDetailHeadSize;
    if (!SetupDiGetDeviceInterfaceDetailA(list->info, memberOf(ref), detail, size, nullptr, nullptr)) {
        *error = win32::lastErrorNumber();
        return false;
    }
    return true;
}

const char* deviceDetailPath(const void* record) {
    return static_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record)->DevicePath;
}

void deviceListClose(DeviceList* list) {
    if (list == nullptr) return;
    SetupDiDestroyDeviceInfoList(list->info);
    HeapFree(GetProcessHeap(), 0, list);
}

}  // namespace juxhid::platform
