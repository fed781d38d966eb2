#include "hid_census.h"

#include <algorithm>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

namespace juxhid::test {
namespace {

uint32_t openError(const std::string& path, DWORD access) {
    HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(handle);
    return 0;
}

bool describe(const std::string& path, HidInterface* hid) {
    // The query open the listing makes: neither reading nor writing.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    const bool known = HidD_GetAttributes(handle, &attributes) &&
                       HidD_GetPreparsedData(handle, &preparsed) &&
                       HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (preparsed != nullptr) HidD_FreePreparsedData(preparsed);
    CloseHandle(handle);
    if (!known) return false;
    hid->path = path;
    hid->vendorId = attributes.VendorID;
    hid->productId = attributes.ProductID;
    hid->usage = caps.Usage;
    hid->usagePage = caps.UsagePage;
    hid->inputLength = caps.InputReportByteLength;
    hid->outputLength = caps.OutputReportByteLength;
    hid->readOpenError = openError(path, GENERIC_READ);
    hid->writeOpenError = openError(path, GENERIC_WRITE);
    return true;
}

std::string memberPath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* member) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(list, member, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return {};
    std::vector<char> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list, member, detail, size, nullptr, nullptr)) return {};
    return detail->DevicePath;
}

}  // namespace

std::vector<HidInterface> takeHidCensus() {
    std::vector<HidInterface> census;
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    HDEVINFO list =
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return census;
    SP_DEVICE_INTERFACE_DATA member{};
    member.cbSize = sizeof(member);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &hidClass, index, &member);
         ++index) {
        HidInterface hid;
        const std::string path = memberPath(list, &member);
        if (!path.empty() && describe(path, &hid)) census.push_back(hid);
    }
    SetupDiDestroyDeviceInfoList(list);
    return census;
}

std::vector<HidInterface> ofVendor(const std::vector<HidInterface>& census, uint16_t vendorId) {
    std::vector<HidInterface> matching;
    std::copy_if(census.begin(), census.end(), std::back_inserter(matching),
                 [&](const HidInterface& hid) { return hid.vendorId == vendorId; });
    return matching;
}

std::vector<uint16_t> vendorsIn(const std::vector<HidInterface>& census) {
    std::vector<uint16_t> vendors;
    for (const HidInterface& hid : census) {
        if (std::find(vendors.begin(), vendors.end(), hid.vendorId) == vendors.end())
            vendors.push_back(hid.vendorId);
    }
    return vendors;
}

uint16_t absentVendor(const std::vector<HidInterface>& census) {
    uint16_t vendor = 0x1234;
    while (!ofVendor(census, vendor).empty()) ++vendor;
    return vendor;
}

}  // namespace juxhid::test
