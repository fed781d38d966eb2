// Device watches on Windows: a message-only window on a thread of the
// library's own, registered for the HID interface class's arrivals and
// removals (WM_DEVICECHANGE). The host pumps nothing. Each arriving interface
// is opened for a query, as the listing does, to learn who it is; a removal
// carries what its arrival found, matched by path without regard to case
// (the notification and the device-setup service do not agree on it).
#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <new>
#include <string>

#include "last_error.h"
#include "module_reference.h"
#include "platform/platform.h"

#include <dbt.h>

namespace juxhid::platform {

struct DeviceWatch {
    CRITICAL_SECTION guard;
    CONDITION_VARIABLE changed;
    std::deque<DeviceChange> ready;                 // guarded
    std::map<std::string, DeviceChange> announced;  // guarded; key: the path in lower case
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    HANDLE started = nullptr;  // the window is registered, or it failed
    HANDLE ended = nullptr;    // the window's thread has left our code but for its exit
    DWORD startError = 0;
    HMODULE module = nullptr;
    bool abandoned = false;  // left to a window thread that did not start in time
};

namespace {

constexpr wchar_t kWindowClass[] = L"JuxhidDeviceWatch";
constexpr DWORD kStartWaitMs = 5000;
constexpr DWORD kEndWaitMs = 2000;

// ---- Who an interface is -----------------------------------------------------------

std::string keyOf(const char* path) {
    std::string key(path);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

// The listing's questions, asked of one path. False when it cannot be
// opened or answers none.
bool describe(const char* path, DeviceChange* change) {
    uint32_t error = 0;
    Device* device = deviceOpen(path, Access::Query, &error);
    if (device == nullptr) return false;
    bool known = deviceAttributes(device, &change->attributes, &error);
    Preparsed* preparsed = known ? devicePreparsed(device, &error) : nullptr;
    known = preparsed != nullptr && deviceCaps(preparsed, &change->caps);
    if (preparsed != nullptr) preparsedFree(preparsed);
    deviceClose(device);
    if (!known) return false;
    change->arrived = true;
    lstrcpynA(change->path, path, static_cast<int>(kWatchPathBytes));
    return true;
}

void queue(DeviceWatch& watch, const DeviceChange& change) {
    watch.ready.push_back(change);
    WakeAllConditionVariable(&watch.changed);
}

void arrived(DeviceWatch& watch, const char* path) {
    DeviceChange change{};
    if (!describe(path, &change)) return;
    EnterCriticalSection(&watch.guard);
    if (watch.announced.emplace(keyOf(path), change).second) queue(watch, change);
    LeaveCriticalSection(&watch.guard);
}

void removed(DeviceWatch& watch, const char* path) {
    EnterCriticalSection(&watch.guard);
    if (auto given = watch.announced.find(keyOf(path)); given != watch.announced.end()) {
        DeviceChange change = given->second;
        change.arrived = false;
        queue(watch, change);
        watch.announced.erase(given);
    }
    LeaveCriticalSection(&watch.guard);
}

// ---- The window ------------------------------------------------------------------

void interfaceChanged(DeviceWatch& watch, WPARAM event, const DEV_BROADCAST_DEVICEINTERFACE_W& change) {
    char path[kWatchPathBytes];
    if (WideCharToMultiByte(CP_ACP, 0, change.dbcc_name, -1, path, sizeof path, nullptr, nullptr) == 0) return;
    if (event == DBT_DEVICEARRIVAL) arrived(watch, path);
    if (event == DBT_DEVICEREMOVECOMPLETE) removed(watch, path);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        auto* watch = reinterpret_cast<DeviceWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (watch != nullptr && header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
            interfaceChanged(*watch, wParam, *reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header));
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool registerClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = win32::thisModule();
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HDEVNOTIFY registerForHid(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void pumpUntilQuit() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

DWORD WINAPI runWindow(void* argument) {
    auto* watch = static_cast<DeviceWatch*>(argument);
    const HMODULE module = watch->module;
    HWND window = registerClass() ? CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                    nullptr, win32::thisModule(), nullptr)
                                  : nullptr;
    HDEVNOTIFY notification = nullptr;
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(watch));
        notification = registerForHid(window);
    }
    if (notification == nullptr) watch->startError = win32::lastErrorNumber();
    SetEvent(watch->started);
    if (notification != nullptr) {
        pumpUntilQuit();
        UnregisterDeviceNotification(notification);
    }
    if (window != nullptr) DestroyWindow(window);
    SetEvent(watch->ended);
    // The watch may be freed from here on. Our DLL stays mapped until this
    // thread has left its code.
    if (module != nullptr) FreeLibraryAndExitThread(module, 0);
    return 0;
}

// ---- Present interfaces ------------------------------------------------------------

void announcePresent(DeviceWatch& watch) {
    DeviceList* list = deviceListOpen();
    if (list == nullptr) return;
    InterfaceRef ref{};
    uint32_t error = 0;
    for (uint32_t member = 0; deviceListMember(list, member, &ref, &error); ++member) {
        uint32_t size = 0;
        if (!deviceDetailSize(list, ref, &size, &error) && error != kErrorInsufficientBuffer) continue;
        void* record = allocate(size);
        if (record != nullptr && deviceDetailFetch(list, ref, record, size, &error))
            arrived(watch, deviceDetailPath(record));
        release(record);
    }
    deviceListClose(list);
}

void freeWatch(DeviceWatch* watch) {
    if (watch->thread != nullptr) CloseHandle(watch->thread);
    if (watch->started != nullptr) CloseHandle(watch->started);
    if (watch->ended != nullptr) CloseHandle(watch->ended);
    DeleteCriticalSection(&watch->guard);
    delete watch;
}

bool startWindow(DeviceWatch* watch, uint32_t* error) {
    watch->started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watch->ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->started == nullptr || watch->ended == nullptr || !win32::holdThisModule(&watch->module)) {
        *error = win32::lastErrorNumber();
        return false;
    }
    watch->thread = CreateThread(nullptr, 0, runWindow, watch, 0, &watch->threadId);
    if (watch->thread == nullptr) {
        *error = win32::lastErrorNumber();
        if (watch->module != nullptr) FreeLibrary(watch->module);
        return false;
    }
    if (WaitForSingleObject(watch->started, kStartWaitMs) != WAIT_OBJECT_0) {
        // The thread is left to end by itself; its record stays allocated.
        PostThreadMessageW(watch->threadId, WM_QUIT, 0, 0);
        *error = ERROR_TIMEOUT;
        watch->abandoned = true;
        return false;
    }
    if (watch->startError != 0) {
        WaitForSingleObject(watch->ended, kEndWaitMs);
        *error = watch->startError;
        return false;
    }
    return true;
}

}  // namespace

DeviceWatch* deviceWatchOpen(bool present, uint32_t* error) {
    auto* watch = new (std::nothrow) DeviceWatch;
    if (watch == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    InitializeCriticalSection(&watch->guard);
    InitializeConditionVariable(&watch->changed);
    if (!startWindow(watch, error)) {
        if (!watch->abandoned) freeWatch(watch);
        return nullptr;
    }
    // Registered first, listed second: an interface that comes in between
    // is both listed and notified, and announced once.
    if (present) announcePresent(*watch);
    return watch;
}

int32_t deviceWatchNext(DeviceWatch* watch, DeviceChange* change, uint32_t ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    EnterCriticalSection(&watch->guard);
    while (watch->ready.empty()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            LeaveCriticalSection(&watch->guard);
            return kWaitTimeout;
        }
        SleepConditionVariableCS(&watch->changed, &watch->guard, static_cast<DWORD>(deadline - now));
    }
    *change = watch->ready.front();
    watch->ready.pop_front();
    LeaveCriticalSection(&watch->guard);
    return kWaitAcquired;
}

// Each watch thread holds a reference on juxhid_watch.dll, so it is never
// unloaded under a running watch.
void deviceWatchesStopAtUnload(StopEveryWatch) {}

void deviceWatchClose(DeviceWatch* watch) {
    if (watch == nullptr) return;
    PostThreadMessageW(watch->threadId, WM_QUIT, 0, 0);
    // A window thread that does not end in time keeps the record it uses.
    if (WaitForSingleObject(watch->ended, kEndWaitMs) == WAIT_OBJECT_0) freeWatch(watch);
}

}  // namespace juxhid::platform
