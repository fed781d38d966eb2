// Worker threads.
//
// A worker must never run code of a DLL that has been unmapped, and unload
// must never wait for a thread that cannot end. Both follow from one rule:
// each worker of a DLL holds a counted reference on that DLL from before it
// starts until FreeLibraryAndExitThread, a system routine that drops the
// reference and ends the thread without returning into our code. So while a
// worker runs, the DLL's unload notification cannot come at all; when it
// comes (on the host's FreeLibrary, or on the last worker's own way out),
// every worker has already left its routine.
//
// "Ended" is therefore the moment the routine returned, marked by an event:
// the thread object itself is signalled only after the system's thread-exit
// work, which waits for the loader lock that an unload holds.
#include <atomic>
#include <new>

#include "module_reference.h"
#include "platform/os.h"
#include "wait_outcome.h"

namespace juxhid::os {

struct Thread {
    ThreadRoutine routine;
    void* argument;
    HANDLE ended;  // manual-reset: set once the routine has returned
    DWORD id;
    HMODULE module;                // the reference this thread holds, or null
    std::atomic<int32_t> holders;  // the owner and the thread itself
};

namespace {

// Host callbacks run on the workers, in code of any depth and language, so a
// worker gets the reservation every Windows thread gets by default; only the
// pages it touches are committed.
constexpr size_t kWorkerStackReservation = 1024 * 1024;

void dropHolder(Thread* thread) {
    if (thread->holders.fetch_sub(1) != 1) return;
    CloseHandle(thread->ended);
    HeapFree(GetProcessHeap(), 0, thread);
}

DWORD WINAPI runWorker(void* record) {
    auto* thread = static_cast<Thread*>(record);
    thread->routine(thread->argument);
    // The record may be gone once this thread has let go of it.
    const HMODULE module = thread->module;
    SetEvent(thread->ended);
    dropHolder(thread);
    if (module != nullptr) FreeLibraryAndExitThread(module, 0);
    return 0;
}

Thread* newRecord(ThreadRoutine routine, void* argument) {
    void* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Thread));
    if (memory == nullptr) return nullptr;
    auto* thread = new (memory) Thread{routine, argument, nullptr, 0, nullptr, {2}};
    thread->ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (thread->ended == nullptr || !win32::holdThisModule(&thread->module)) {
        if (thread->ended != nullptr) CloseHandle(thread->ended);
        HeapFree(GetProcessHeap(), 0, thread);
        return nullptr;
    }
    return thread;
}

void discardRecord(Thread* thread) {
    win32::releaseThisModule(thread->module);
    CloseHandle(thread->ended);
    HeapFree(GetProcessHeap(), 0, thread);
}

}  // namespace

Thread* threadStart(ThreadRoutine routine, void* argument, size_t stackBytes) {
    Thread* thread = newRecord(routine, argument);
    if (thread == nullptr) return nullptr;
    const size_t reservation =
        stackBytes > kWorkerStackReservation ? stackBytes : kWorkerStackReservation;
    // Started suspended so that its id is recorded before its routine can
    // ask whether it is the current thread.
    HANDLE handle = CreateThread(nullptr, reservation, runWorker, thread,
                                 CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &thread->id);
    if (handle == nullptr) {
        discardRecord(thread);
        return nullptr;
    }
    if (ResumeThread(handle) == static_cast<DWORD>(-1)) {
        // It never ran a single instruction of ours.
        TerminateThread(handle, 0);
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
        discardRecord(thread);
        return nullptr;
    }
    // Waits go to the `ended` event, so the thread handle is not needed.
    CloseHandle(handle);
    return thread;
}

int32_t threadWait(Thread* thread, uint32_t ms) {
    return win32::waitOutcome(WaitForSingleObject(thread->ended, ms));
}

bool threadIsCurrent(const Thread* thread) { return thread->id == GetCurrentThreadId(); }

void threadRelease(Thread* thread) { dropHolder(thread); }

}  // namespace juxhid::os

namespace juxhid::os {

// Each worker holds a module reference until its last instruction, so an
// unload can only come once every worker has left (see the top of this
// file); waiting here, under the loader lock, could only deadlock.
void threadWaitForAll(uint32_t) {}

}  // namespace juxhid::os
