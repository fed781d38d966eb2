// Real-device builds: the core's locks, signals, threads, timers, pauses,
// memory and message box are the operating system's own, with nothing in
// between.
#include "os.h"

namespace juxhid::platform {

namespace {
// The platform asks for 2048 bytes; the OS layer raises it to what host
// callbacks running on the worker threads need.
constexpr size_t kWorkerStackBytes = 2048;
}  // namespace

void* allocate(size_t bytes) { return os::allocate(bytes); }
void release(void* block) { os::release(block); }

Lock* lockCreate() { return reinterpret_cast<Lock*>(os::lockCreate()); }
int32_t lockWait(Lock* lock, uint32_t ms) { return os::lockWait(reinterpret_cast<os::Lock*>(lock), ms); }
bool lockRelease(Lock* lock) { return os::lockRelease(reinterpret_cast<os::Lock*>(lock)); }
void lockClose(Lock* lock) { os::lockClose(reinterpret_cast<os::Lock*>(lock)); }

Signal* signalCreate() { return reinterpret_cast<Signal*>(os::signalCreate()); }
void signalSet(Signal* signal) { os::signalSet(reinterpret_cast<os::Signal*>(signal)); }
void signalReset(Signal* signal) { os::signalReset(reinterpret_cast<os::Signal*>(signal)); }
bool signalIsSet(Signal* signal) { return os::signalIsSet(reinterpret_cast<os::Signal*>(signal)); }
int32_t signalWait(Signal* signal, uint32_t ms) {
    return os::signalWait(reinterpret_cast<os::Signal*>(signal), ms);
}
int32_t signalWaitEither(Signal* first, Signal* second, uint32_t ms) {
    return os::signalWaitEither(reinterpret_cast<os::Signal*>(first),
                                reinterpret_cast<os::Signal*>(second), ms);
}
void signalClose(Signal* signal) { os::signalClose(reinterpret_cast<os::Signal*>(signal)); }

Thread* threadStart(ThreadRoutine routine, void* argument, ThreadRole) {
    return reinterpret_cast<Thread*>(os::threadStart(routine, argument, kWorkerStackBytes));
}
int32_t threadWait(Thread* thread, uint32_t ms) {
    return os::threadWait(reinterpret_cast<os::Thread*>(thread), ms);
}
bool threadIsCurrent(const Thread* thread) {
    return os::threadIsCurrent(reinterpret_cast<const os::Thread*>(thread));
}
void threadRelease(Thread* thread) { os::threadRelease(reinterpret_cast<os::Thread*>(thread)); }
void threadWaitForAll(uint32_t ms) { os::threadWaitForAll(ms); }

void sleepMs(uint32_t ms) { os::sleepMs(ms); }
uint32_t timerSchedule(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine) {
    return os::timerSchedule(delayMs, resolutionMs, routine);
}
bool timerCancel(uint32_t timerId) { return os::timerCancel(timerId); }
void timerShutdown() { os::timerShutdown(); }

void messageBox(const char* text, const char* caption) { os::messageBox(text, caption); }

}  // namespace juxhid::platform
