// The platform seam: everything the core needs from the world. The core
// includes this header and nothing of the operating system. One backend of
// each kind is linked in: device services from win32/, hidraw/ or sim/;
// locks, signals, threads, timers, pauses, memory and the message box from
// native_services.cpp (straight to os.h) or from sim/ (which counts them and
// can make them fail first).
//
// Results are phrased as the core tests them: error numbers are the Win32
// numbers below, translated once, at the backend edge; a timed wait answers
// 0, 128, 258 or -1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace juxhid::platform {

// ---- Error numbers -----------------------------------------------------------
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;       // device gone (handle dead)
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorOperationAborted = 995;  // the handle was closed under a read
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// Whether a failed transfer on a handle that is open means the device is
// gone. Besides 6 and 1167, access denied (5): an open handle's access is
// never taken back, but Windows' HID class driver ends the transfers of a
// device that is being removed with a delete-pending status, which Win32
// reports as 5. (Opening a device with 5 is a refusal, not this.)
inline constexpr bool transferMeansDeviceGone(uint32_t error) {
    return error == kErrorInvalidHandle || error == kErrorDeviceNotConnected ||
           error == kErrorAccessDenied;
}

// ---- Wait outcomes -----------------------------------------------------------
inline constexpr int32_t kWaitAcquired = 0;   // also: signal 0 of two, thread ended
inline constexpr int32_t kWaitSecond = 1;     // signal 1 of two
inline constexpr int32_t kWaitAbandoned = 128;
inline constexpr int32_t kWaitTimeout = 258;
inline constexpr int32_t kWaitFailed = -1;

// ---- Device listing ------------------------------------------------------------
// Called only by EnumerateJUX on the caller's thread; never concurrently.

struct DeviceList;

// The list of present HID interfaces. Null when the platform gives none.
DeviceList* deviceListOpen();

// One member of the list, named by its member index from 0. False and *error
// set when there is none: 259 at the end of the list, anything else a fault.
struct InterfaceRef {
    uint32_t member;
    uintptr_t backend;  // the backend's own reference to the member
};
bool deviceListMember(DeviceList* list, uint32_t member, InterfaceRef* ref, uint32_t* error);

// Size in bytes of the member's detail record (its path included). The call
// "fails" with 122 when it reports the size, as the platform does; true or
// error 122 both mean *size is valid.
bool deviceDetailSize(DeviceList* list, const InterfaceRef& ref, uint32_t* size, uint32_t* error);

// Fetches the detail record into `record` (`size` bytes, as the size query
// gave). False and *error on failure.
bool deviceDetailFetch(DeviceList* list, const InterfaceRef& ref, void* record, uint32_t size,
                       uint32_t* error);

// The NUL-terminated device path inside a fetched detail record.
const char* deviceDetailPath(const void* record);

void deviceListClose(DeviceList* list);

// ---- Devices --------------------------------------------------------------------

struct Device;

enum class Access { Query, Read, Write };

// Opens a device path, shared for read and write, open-existing. Null and
// *error on failure: 5 denied, 2 or 3 not found, anything else.
Device* deviceOpen(const char* path, Access access, uint32_t* error);

// Ends a read that another thread has pending on the handle, and makes every
// later deviceRead on it fail at once: both return !ok with 995 (not a
// device-gone code). The handle stays valid until deviceClose. Called by the
// teardowns, from any thread, while the reader may be blocked in deviceRead
// or just about to call it. Calling it again does nothing more.
void deviceCancelRead(Device* device);

// Ends a write that another thread has pending on the handle (a device that
// does not take its report), and makes every later deviceWrite on it fail at
// once: both return !ok with 995. Called by a teardown, from any thread,
// while a writer or a pacing tick may be inside deviceWrite. Where the
// platform cannot end a transfer already in the device, the pending write
// ends by the driver's own time limit and every later one fails at once.
void deviceCancelWrite(Device* device);

// Closes a handle. Called only once no other thread uses it any more (the
// last reference to its opening is gone).
void deviceClose(Device* device);

struct DeviceAttributes {
    uint16_t vendorId;
    uint16_t productId;
};
bool deviceAttributes(Device* device, DeviceAttributes* attributes, uint32_t* error);

// The device's report description (preparsed data) and its capabilities.
struct Preparsed;
Preparsed* devicePreparsed(Device* device, uint32_t* error);
struct DeviceCaps {
    uint16_t usage;
    uint16_t usagePage;
    uint16_t inputReportByteLength;   // report-ID byte counted; 0 none
    uint16_t outputReportByteLength;  // report-ID byte counted; 0 none
};
bool deviceCaps(Preparsed* preparsed, DeviceCaps* caps);  // false: not success
void preparsedFree(Preparsed* preparsed);

// Blocking transfers of exactly `length` bytes asked; no timeout.
struct Transfer {
    bool ok;
    uint32_t count;  // bytes moved when ok
    uint32_t error;  // when !ok: 5, 6 or 1167 device gone, 995 handle closed, others
};
// Called by one ReaderWorker per handle.
Transfer deviceRead(Device* device, void* buffer, uint32_t length);
// Called with writeLock held (a writer or a pacing tick).
Transfer deviceWrite(Device* device, const void* buffer, uint32_t length);

// ---- Arrivals and removals ---------------------------------------------------------
// A source of HID interface arrivals and removals, one per device watch. Opened
// on the caller's thread; read and closed by the watch's own thread only.
// Listing and opening devices never depend on it.

struct DeviceWatch;

inline constexpr size_t kWatchPathBytes = 512;

// One interface that came or went, with what the platform told of it when it
// came (a removal carries the same). Paths longer than kWatchPathBytes - 1
// are cut.
struct DeviceChange {
    bool arrived;
    DeviceAttributes attributes;
    DeviceCaps caps;
    char path[kWatchPathBytes];
};

// Null and *error when the platform gives no such events. With `present`,
// the first changes are an arrival for each interface there at the call;
// anything that comes or goes after the call follows, none lost between.
DeviceWatch* deviceWatchOpen(bool present, uint32_t* error);

// Waits at most `ms` for the next change: kWaitAcquired with *change filled,
// kWaitTimeout, or kWaitFailed when the source broke (it may recover).
// Arrivals come once the interface can be opened; each interface's changes
// come in the order they happened.
int32_t deviceWatchNext(DeviceWatch* watch, DeviceChange* change, uint32_t ms);

void deviceWatchClose(DeviceWatch* watch);

// The watch core hands over how to stop every watch, so that the library's
// unload stops the watches the host left running and joins their threads
// before the code goes: the simulated library in the unload that joins every
// thread it started, the Linux watch library in an unload of its own. Where
// each thread holds the library loaded (Windows) nothing needs keeping.
using StopEveryWatch = void (*)();
void deviceWatchesStopAtUnload(StopEveryWatch stopEveryWatch);

// ---- Memory -----------------------------------------------------------------------
// Any thread. allocate(0) may return null and that is not a failure to callers
// who never ask for 0.
void* allocate(size_t bytes);
void release(void* block);  // null is fine

// ---- Locks (recursive, owned by a thread, like a Win32 mutex) ----------------------
struct Lock;
Lock* lockCreate();  // unnamed, not owned; null on failure
// Waits at most `ms`: kWaitAcquired, kWaitAbandoned (the owner thread ended
// holding it; the caller now owns it), kWaitTimeout, kWaitFailed.
int32_t lockWait(Lock* lock, uint32_t ms);
bool lockRelease(Lock* lock);  // false: not owned by the caller, or a fault
void lockClose(Lock* lock);    // not owned by anyone, no waiter

// ---- Signals (manual reset) ------------------------------------------------------
struct Signal;
Signal* signalCreate();  // unnamed, manual reset, clear; null on failure
void signalSet(Signal* signal);
void signalReset(Signal* signal);
bool signalIsSet(Signal* signal);  // a zero-time wait
// kWaitAcquired when set within `ms`, else kWaitTimeout (kWaitFailed on error).
int32_t signalWait(Signal* signal, uint32_t ms);
// Waits for either: kWaitAcquired for `first` (also when both are set),
// kWaitSecond for `second`, kWaitTimeout, kWaitFailed. Nothing is reset.
int32_t signalWaitEither(Signal* first, Signal* second, uint32_t ms);
void signalClose(Signal* signal);  // nobody waits on it any more

// ---- Threads --------------------------------------------------------------------
struct Thread;
enum class ThreadRole { Reader, Callback };
using ThreadRoutine = void (*)(void* argument);
// Starts at once with (at least) a small stack: 2048 bytes asked, raised by
// the backend to what the routine and the host's callbacks safely need. Null on
// failure.
Thread* threadStart(ThreadRoutine routine, void* argument, ThreadRole role);
// kWaitAcquired once the thread's routine has returned, or the thread was
// ended inside it (a host's runtime may end a thread in its callback; where
// the platform lets the library see that), kWaitTimeout, kWaitFailed. Under
// Windows' loader lock a thread cannot finish exiting, so "ended" here means
// the routine returned, not that the OS thread is gone.
int32_t threadWait(Thread* thread, uint32_t ms);
bool threadIsCurrent(const Thread* thread);
// Gives the handle back. A thread still running goes on and frees its own
// record when it ends. May be called on the thread itself.
void threadRelease(Thread* thread);
// At unload, once every worker was told to stop: returns when no thread the
// library started can run the library's code any more, down to its last
// instruction, also threads no opening records any more (a callback that
// closed its own interface, still on its way back). A thread that has not
// ended within `ms` (one held in the host's code) is left running. Where the
// platform keeps the library loaded for as long as such a thread runs (a
// module reference per thread), it returns at once.
void threadWaitForAll(uint32_t ms);

// ---- Pauses and timers -------------------------------------------------------------
void sleepMs(uint32_t ms);

// One-shot: after `delayMs` (with `resolutionMs`, 0 the finest) the routine
// runs once on the platform's timer thread with its id. 0 on failure.
using TimerRoutine = void (*)(uint32_t timerId);
uint32_t timerSchedule(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine);
// After it returns the routine of that id does not start; one already running
// may still run. False when the id names no pending tick.
bool timerCancel(uint32_t timerId);
// At unload, after the last cancel: drops any timer still pending, waits for
// a routine that is still running (where the platform allows it) and
// releases what the service holds.
// A later timerSchedule starts the service again (a library loaded anew).
void timerShutdown();

// ---- User interface ------------------------------------------------------------------
// Modal, no owner, one OK button; returns when dismissed.
void messageBox(const char* text, const char* caption);

}  // namespace juxhid::platform
