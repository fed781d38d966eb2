// The library's global state: the device table, the interface slots and the
// pacing state, all fixed tables that live from load to unload. Callers name
// a device by its row number; workers receive the address of its slot, so
// slots never move.
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
    char DevicePath[kDevicePathBytes];
    int32_t Index;
};

// Everything one open interface holds. Fields read by another thread than
// the one that writes them are atomics; the rest change only while no worker
// or tick can see them.
struct InterfaceSlot {
    platform::Device* readHandle;
    platform::Device* writeHandle;
    uint32_t readLength;
    ReportRing readRing;   // guarded by readLock
    ReportRing writeRing;  // guarded by writeLock
    platform::Lock* readLock;
    platform::Signal* dataSignal;
    platform::Signal* errorSignal;
    platform::Thread* readerThread;
    platform::Thread* callbackThread;
    std::atomic<uint32_t> dataCallbackMode;  // written under readLock, cleared by teardowns
    std::atomic<JuxhidDataCallback> dataCallback;
    std::atomic<JuxhidErrorCallback> errorCallback;  // read by the callback worker without the lock
    std::atomic<bool> stopRequested;

    // Which opening of the slot this is. A worker ends when it sees another
    // opening than its own, also when a callback closed and reopened its own
    // interface before returning (its thread could not be waited for).
    std::atomic<uint32_t> opening;
    // The reader's scratch buffer, obtained before the reader starts so that
    // a failure is reported by SetupInterface instead of a silent reader.
    uint8_t* readerScratch;
    uint32_t readerScratchBytes;
};

struct LibraryState {
    DeviceEntry devices[kMaxDevices];
    std::atomic<int32_t> deviceCount;
    InterfaceSlot slots[kMaxDevices];

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

// Sets every field of a slot to zero, null or false without releasing what
// it held.
void zeroSlot(InterfaceSlot& slot);

}  // namespace juxhid
