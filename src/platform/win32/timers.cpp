// One-shot ticks on the multimedia timer service.
//
// The tick is scheduled with user value 0, so its routine cannot travel with
// the timer: a small table maps each pending timer id to its routine. The
// table also carries the cancel's promise: a timer taken out of it is never
// started, even when the service had already found it due.
//
// The timer thread is the service's, not ours, so no module reference can
// keep this code mapped under it. Unload therefore ends the service in order
// (see timerShutdown): nothing new starts, nothing pending stays, and it
// returns only once the timer thread is back in the service's own code.
#include <atomic>

#include "platform/os.h"
#include "windows_api.h"

namespace juxhid::os {
namespace {

constexpr int kMaxPendingTimers = 16;
// How long unload waits for a routine in progress (a tick may wait 400 ms
// for writeLock and then write to every device) and for the timer thread to
// come back to the service.
constexpr uint32_t kRoutineDrainMs = 3000;
constexpr uint32_t kTimerThreadDrainMs = 200;

struct PendingTimer {
    bool used;
    UINT id;  // 0 while timeSetEvent has not answered yet
    TimerRoutine routine;
};

SRWLOCK tableLock = SRWLOCK_INIT;
PendingTimer table[kMaxPendingTimers];
bool shutDown = false;       // under tableLock
bool everScheduled = false;  // under tableLock
std::atomic<int32_t> callbacksInside{0};

class TableGuard {
public:
    TableGuard() { AcquireSRWLockExclusive(&tableLock); }
    ~TableGuard() { ReleaseSRWLockExclusive(&tableLock); }
    TableGuard(const TableGuard&) = delete;
    TableGuard& operator=(const TableGuard&) = delete;
};

int reserveEntry(TimerRoutine routine) {
    TableGuard guard;
    if (shutDown) return -1;
    for (int slot = 0; slot < kMaxPendingTimers; ++slot) {
        if (table[slot].used) continue;
        table[slot] = PendingTimer{true, 0, routine};
        everScheduled = true;
        return slot;
    }
    return -1;
}

// False when the service shut down meanwhile: the new timer must go too.
bool recordId(int slot, UINT id) {
    TableGuard guard;
    if (id == 0 || shutDown) {
        table[slot] = PendingTimer{};
        return id == 0;
    }
    table[slot].id = id;
    return true;
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

void CALLBACK onTimer(UINT id, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    callbacksInside.fetch_add(1);
    if (const TimerRoutine routine = claimRoutine(id)) routine(id);
    callbacksInside.fetch_sub(1);
}

// Takes every pending timer out and refuses new ones; answers whether the
// service was ever used.
bool closeTable(UINT (&ids)[kMaxPendingTimers]) {
    TableGuard guard;
    shutDown = true;
    for (int slot = 0; slot < kMaxPendingTimers; ++slot) {
        ids[slot] = table[slot].used ? table[slot].id : 0;
        table[slot] = PendingTimer{};
    }
    return everScheduled;
}

void waitForRoutines() {
    const ULONGLONG start = GetTickCount64();
    while (callbacksInside.load() != 0 && GetTickCount64() - start < kRoutineDrainMs) Sleep(1);
}

// The service calls one timer after another on its thread, so a marker timer
// that sets an event comes through only after the thread has left every
// callback before it, the last instructions of ours included.
void waitForTimerThread() {
    HANDLE marker = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (marker == nullptr) return;
    const UINT id = timeSetEvent(1, 0, reinterpret_cast<LPTIMECALLBACK>(marker), 0,
                                 TIME_ONESHOT | TIME_CALLBACK_EVENT_SET);
    if (id != 0) {
        WaitForSingleObject(marker, kTimerThreadDrainMs);
        timeKillEvent(id);
    }
    CloseHandle(marker);
}

}  // namespace

uint32_t timerSchedule(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine) {
    const int slot = reserveEntry(routine);
    if (slot < 0) return 0;
    const UINT id = timeSetEvent(delayMs, resolutionMs, onTimer, 0, TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
    if (recordId(slot, id)) return id;
    timeKillEvent(id);
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
    // Not under the table lock: the service may be calling onTimer, which
    // takes it.
    if (pending) timeKillEvent(timerId);
    return pending;
}

void timerShutdown() {
    UINT ids[kMaxPendingTimers];
    const bool used = closeTable(ids);
    for (const UINT id : ids) {
        if (id != 0) timeKillEvent(id);
    }
    waitForRoutines();
    if (used) waitForTimerThread();
}

}  // namespace juxhid::os
