// Locks are unnamed Win32 mutexes and signals unnamed manual-reset events;
// the seam's opaque pointers are their handles.
#include "platform/os.h"
#include "wait_outcome.h"

namespace juxhid::os {
namespace {

HANDLE handleOf(const void* object) { return const_cast<void*>(object); }

}  // namespace

Lock* lockCreate() { return static_cast<Lock*>(CreateMutexA(nullptr, FALSE, nullptr)); }
int32_t lockWait(Lock* lock, uint32_t ms) {
    return win32::waitOutcome(WaitForSingleObject(handleOf(lock), ms));
}
bool lockRelease(Lock* lock) { return ReleaseMutex(handleOf(lock)) != 0; }
void lockClose(Lock* lock) { CloseHandle(handleOf(lock)); }

Signal* signalCreate() { return static_cast<Signal*>(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }
void signalSet(Signal* signal) { SetEvent(handleOf(signal)); }
void signalReset(Signal* signal) { ResetEvent(handleOf(signal)); }
bool signalIsSet(Signal* signal) { return WaitForSingleObject(handleOf(signal), 0) == WAIT_OBJECT_0; }
int32_t signalWait(Signal* signal, uint32_t ms) {
    return win32::waitOutcome(WaitForSingleObject(handleOf(signal), ms));
}

// With both set, Windows answers the lower index, which is what the seam
// promises for `first`; manual-reset events stay set.
int32_t signalWaitEither(Signal* first, Signal* second, uint32_t ms) {
    const HANDLE both[2] = {handleOf(first), handleOf(second)};
    return win32::waitOutcome(WaitForMultipleObjects(2, both, FALSE, ms));
}

void signalClose(Signal* signal) { CloseHandle(handleOf(signal)); }

}  // namespace juxhid::os
