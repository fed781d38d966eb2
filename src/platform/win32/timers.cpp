// One-shot ticks on the multimedia timer service.
//
// The tick is scheduled with user value 0, so its routine cannot travel with
// the timer: a small table maps each pending timer id to its routine. The
// table also carries the cancel's promise: a timer taken out of it is never
// started, even when the service had already found it due.
//
// The service runs the callbacks on threads of its own, which no module
// reference of a worker covers. So each timer holds a reference on this
// module from its scheduling until it is cancelled or its callback has
// returned: while a tick is pending or running, the DLL cannot be unloaded
// under it. The callback's last act, giving that reference back, is done by
// its entry point (timer_entry.cpp).
#include <atomic>

#include "module_reference.h"
#include "platform/os.h"
#include "timer_entry.h"
#include "timer_service.h"

namespace juxhid::os {
namespace {

constexpr int kMaxPendingTimers = 16;
// How long shutdown waits for a routine in progress (a tick may wait 400 ms
// for writeLock and then write to every device).
constexpr ULONGLONG kRoutineDrainMs = 3000;

struct PendingTimer {
    bool used;
    UINT id;  // 0 while timeSetEvent has not answered yet
    TimerRoutine routine;
};

SRWLOCK tableLock = SRWLOCK_INIT;
PendingTimer table[kMaxPendingTimers];
bool refusing = false;  // under tableLock; set for good once the library goes away
std::atomic<int32_t> routinesRunning{0};

class TableGuard {
public:
    TableGuard() { AcquireSRWLockExclusive(&tableLock); }
    ~TableGuard() { ReleaseSRWLockExclusive(&tableLock); }
    TableGuard(const TableGuard&) = delete;
    TableGuard& operator=(const TableGuard&) = delete;
};

HMODULE timerReference() { return win32::linkedIntoProgram() ? nullptr : win32::thisModule(); }

int reserveEntry(TimerRoutine routine) {
    TableGuard guard;
    if (refusing) return -1;
    for (int slot = 0; slot < kMaxPendingTimers; ++slot) {
        if (table[slot].used) continue;
        table[slot] = PendingTimer{true, 0, routine};
        return slot;
    }
    return -1;
}

void freeEntry(int slot) {
    TableGuard guard;
    table[slot] = PendingTimer{};
}

// False when the library started going away meanwhile: the new timer must
// go too.
bool recordId(int slot, UINT id) {
    TableGuard guard;
    if (refusing) {
        table[slot] = PendingTimer{};
        return false;
    }
    table[slot].id = id;
    return true;
}

// Stops a timer the table no longer holds. When the service had already
// started its callback, the callback gives the reference back instead.
void killTimer(UINT id) {
    if (timeKillEvent(id) == TIMERR_NOERROR) win32::releaseThisModule(timerReference());
}

// Takes the routine of a due timer out of the table. A timer can come due
// before its scheduler has recorded the id; then it waits for that.
TimerRoutine claimRoutine(UINT id) {
    for (;;) {
        bool unrecorded = false;
        {
            TableGuard guard;
            for (PendingTimer& entry : table) {
                if (!entry.used) continue;
                if (entry.id == id) {
                    const TimerRoutine routine = entry.routine;
                    entry = PendingTimer{};
                    return routine;
                }
                unrecorded = unrecorded || entry.id == 0;
            }
        }
        if (!unrecorded) return nullptr;
        SwitchToThread();
    }
}

}  // namespace

uint32_t timerSchedule(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine) {
    HMODULE reference = nullptr;
    if (!win32::holdThisModule(&reference)) return 0;
    const int slot = reserveEntry(routine);
    if (slot < 0) {
        win32::releaseThisModule(reference);
        return 0;
    }
    const UINT id = timeSetEvent(delayMs, resolutionMs, juxhid_timer_callback, 0,
                                 TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
    if (id == 0) {
        freeEntry(slot);
        win32::releaseThisModule(reference);
        return 0;
    }
    if (recordId(slot, id)) return id;
    killTimer(id);
    return 0;
}

bool timerCancel(uint32_t timerId) {
    if (timerId == 0) return false;
    bool pending = false;
    {
        TableGuard guard;
        for (PendingTimer& entry : table) {
            if (!entry.used || entry.id != timerId) continue;
            entry = PendingTimer{};
            pending = true;
        }
    }
    // Not under the table lock: the service may be in a callback that is
    // waiting for it.
    if (pending) killTimer(timerId);
    return pending;
}

// Stops every pending timer and waits for a routine that is still running.
// A timer being scheduled at the same moment (its id not yet recorded) is
// left to its scheduler, as if it had come just after.
void timerShutdown() {
    UINT ids[kMaxPendingTimers] = {};
    {
        TableGuard guard;
        for (int slot = 0; slot < kMaxPendingTimers; ++slot) {
            if (!table[slot].used || table[slot].id == 0) continue;
            ids[slot] = table[slot].id;
            table[slot] = PendingTimer{};
        }
    }
    for (const UINT id : ids) {
        if (id != 0) killTimer(id);
    }
    const ULONGLONG start = GetTickCount64();
    while (routinesRunning.load() != 0 && GetTickCount64() - start < kRoutineDrainMs) Sleep(1);
}

}  // namespace juxhid::os

namespace juxhid::win32 {

void refuseNewTimers() {
    AcquireSRWLockExclusive(&os::tableLock);
    os::refusing = true;
    ReleaseSRWLockExclusive(&os::tableLock);
}

}  // namespace juxhid::win32

void __stdcall juxhid_timer_run(UINT id) {
    using namespace juxhid::os;
    routinesRunning.fetch_add(1);
    if (const TimerRoutine routine = claimRoutine(id)) routine(id);
    routinesRunning.fetch_sub(1);
}

HMODULE __stdcall juxhid_timer_reference() { return juxhid::os::timerReference(); }
