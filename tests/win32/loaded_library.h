// A DLL loaded the way a host application loads it, with its functions
// resolved by name.
#pragma once

#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace juxhid::test {

class LoadedLibrary {
public:
    explicit LoadedLibrary(const char* name) : name_(name), module_(LoadLibraryA(name)) {}
    ~LoadedLibrary() { unload(); }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    HMODULE module() const { return module_; }

    // The export of that name, or null.
    void* address(const char* exportName) const {
        return module_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(module_, exportName))
                                  : nullptr;
    }
    template <typename Function>
    Function get(const char* exportName) const {
        return reinterpret_cast<Function>(address(exportName));
    }

    // Gives this reference back; the DLL may stay mapped if others hold it.
    void unload() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }

    // Whether the process still has the DLL mapped, whoever holds it.
    bool stillMapped() const { return GetModuleHandleA(name_.c_str()) != nullptr; }

private:
    std::string name_;
    HMODULE module_;
};

}  // namespace juxhid::test
