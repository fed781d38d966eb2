#include "module_reference.h"

// Provided by the linker: the image's own DOS header, at its base address.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace juxhid::win32 {

HMODULE thisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

bool linkedIntoProgram() { return thisModule() == GetModuleHandleW(nullptr); }

bool holdThisModule(HMODULE* module) {
    *module = nullptr;
    if (linkedIntoProgram()) return true;
    const auto address = reinterpret_cast<LPCWSTR>(&__ImageBase);
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, address, module) != 0;
}

void releaseThisModule(HMODULE module) {
    if (module != nullptr) FreeLibrary(module);
}

}  // namespace juxhid::win32
