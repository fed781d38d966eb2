// The library's global state: the device table, the interface table and the
// pacing state, fixed tables that live from load to unload. Callers name a
// device by its row number.
//
// What one opening of an interface holds lives in an InterfaceSlot record of
// its own, not in the table: a record is shared by every thread that can
// still use it (the table, its reader, its callback worker, a call in
// progress, a pacing tick), each holding one reference, and whichever lets go
// last releases it. Closing takes the record out of the table and lets go of
// the table's reference; nobody waits for anybody to be allowed to release.
#pragma once

#include <atomic>
#include <cstdint>

#include "interface/report_ring.h"
#include "juxhid.h"
#include "platform/platform.h"

namespace juxhid {

inline constexpr int32_t kMaxDevices = 25;
inline constexpr uint32_t kDevicePathBytes = 256;  // 255 characters and a NUL

// One listed HID interface.
struct DeviceEntry {
    uint32_t ProductID;
    uint32_t Usage;
    uint32_t UsagePage;
    uint32_t InputReportByteLength;   // report-ID byte counted; 0: no input reports
    uint32_t OutputReportByteLength;  // report-ID byte counted; 0: no output reports
    char DevicePath[kDevicePathBytes];  // the path as listed, cut to 255 characters
    int32_t Index;
    // The whole path, which is what opening uses: a path cut to 255
    // characters could name another device, or none. Owned by the row.
    char* openPath;
};

// Everything one opening of an interface holds. Created by SetupInterface,
// released by whoever drops the last reference. Fields read by another thread
// than the one that writes them are atomics; the handles, rings, lock and
// signals are set before the record is shared and never change after.
struct InterfaceSlot {
    std::atomic<int32_t> references;
    std::atomic<bool> stopRequested;

    uint32_t readLength;
    uint32_t writeLength;
    platform::Device* readHandle;
    platform::Device* writeHandle;
    ReportRing readRing;   // guarded by readLock
    ReportRing writeRing;  // guarded by writeLock
    platform::Lock* readLock;
    platform::Signal* dataSignal;
    platform::Signal* errorSignal;
    std::atomic<platform::Thread*> readerThread;
    std::atomic<platform::Thread*> callbackThread;  // written under readLock
    std::atomic<uint32_t> dataCallbackMode;          // written under readLock
    std::atomic<JuxhidDataCallback> dataCallback;
    std::atomic<JuxhidErrorCallback> errorCallback;  // read by the callback worker without the lock
    // The callback worker is running the host's code: a teardown gives such a
    // worker only a short wait, since the host may be waiting for the caller.
    std::atomic<bool> inHostCallback;
    // The callback worker saw the unplug with no error callback installed and
    // now waits for dataSignal alone: the error callback's setter wakes it.
    std::atomic<bool> workerAwaitsErrorCallback;

    // The reader's scratch buffer, obtained before the reader starts so that
    // a failure is reported by SetupInterface instead of a silent reader.
    uint8_t* readerScratch;
    uint32_t readerScratchBytes;
};

// What a teardown left behind that the polled reads still report.
enum class Leftover : uint8_t {
    None,
    // CleanupInterface found the device still attached: the reads answer
    // that the interface has no lock until it is opened or closed again.
    CleanedUpWhileAttached,
    // ... and the device went away while the cleanup was ending the reader:
    // the reads answer that the device is gone.
    CleanedUpAsItWentAway,
};

// One row of the interface table.
struct InterfaceEntry {
    // Held for a few instructions around taking a reference to `current` and
    // around replacing it, so that no record is released between a thread
    // reading the pointer and counting itself in.
    std::atomic<bool> guard;
    InterfaceSlot* current;  // the opening, or null; read and written under `guard`
    std::atomic<Leftover> leftover;
    // A SetupInterface is building this row's opening. A second one on the
    // same index meanwhile is refused instead of building an opening of its
    // own that one of the two would overwrite and nothing could close.
    std::atomic<bool> opening;
};

struct LibraryState {
    DeviceEntry devices[kMaxDevices];
    std::atomic<int32_t> deviceCount;
    InterfaceEntry interfaces[kMaxDevices];

    platform::Lock* writeLock;
    // Pacing state, guarded by writeLock. A tick that cannot get the lock
    // stores pacingActive and deferredWriteStatus without it, hence atomics.
    std::atomic<uint32_t> pacingTimerId;
    std::atomic<int32_t> deferredWriteStatus;
    std::atomic<bool> pacingActive;
    std::atomic<bool> fastPacing;
};

LibraryState& state();

inline bool isListedIndex(int32_t index) { return index >= 0 && index < state().deviceCount.load(); }
inline bool isSlotIndex(int32_t index) { return index >= 0 && index < kMaxDevices; }

}  // namespace juxhid
