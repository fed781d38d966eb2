// The operating system's own locks, signals, threads, timers, pauses, memory,
// clock and message box, with the same contracts as the matching calls of
// platform.h. posix/ and win32/ implement them; native_services.cpp hands the
// core straight to them, and sim/ wraps them to count objects and inject
// faults. Only backends include this header.
#pragma once

#include "platform.h"

namespace juxhid::os {

using platform::ThreadRoutine;
using platform::TimerRoutine;

struct Lock;
struct Signal;
struct Thread;

void* allocate(size_t bytes);
void release(void* block);

Lock* lockCreate();
int32_t lockWait(Lock* lock, uint32_t ms);
bool lockRelease(Lock* lock);
void lockClose(Lock* lock);

Signal* signalCreate();
void signalSet(Signal* signal);
void signalReset(Signal* signal);
bool signalIsSet(Signal* signal);
int32_t signalWait(Signal* signal, uint32_t ms);
int32_t signalWaitEither(Signal* first, Signal* second, uint32_t ms);
void signalClose(Signal* signal);

// `stackBytes` is what the library asks for; the OS layer raises it to a
// safe minimum.
Thread* threadStart(ThreadRoutine routine, void* argument, size_t stackBytes);
int32_t threadWait(Thread* thread, uint32_t ms);
bool threadIsCurrent(const Thread* thread);
void threadRelease(Thread* thread);
void threadWaitForAll(uint32_t ms);

void sleepMs(uint32_t ms);
uint64_t monotonicNs();

uint32_t timerSchedule(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine);
bool timerCancel(uint32_t timerId);
void timerShutdown();

void messageBox(const char* text, const char* caption);

}  // namespace juxhid::os
