// Memory, pauses, the clock and the message box.
#include "platform/os.h"
#include "windows_api.h"

namespace juxhid::os {

void* allocate(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void release(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

void sleepMs(uint32_t ms) { Sleep(ms); }

uint64_t monotonicNs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const uint64_t ticksPerSecond = static_cast<uint64_t>(frequency.QuadPart);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    // Whole seconds and the remainder apart, so the product cannot overflow.
    constexpr uint64_t kNsPerSecond = 1000000000;
    return ticks / ticksPerSecond * kNsPerSecond +
           ticks % ticksPerSecond * kNsPerSecond / ticksPerSecond;
}

void messageBox(const char* text, const char* caption) { MessageBoxA(nullptr, text, caption, MB_OK); }

}  // namespace juxhid::os
