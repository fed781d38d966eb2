// The simulated bus's devices and the objects the library holds on them:
// device lists, handles and report descriptions. One mutex guards the
// whole bus; each read handle has its own condition variable, so a
// delivery wakes only the readers of that device.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "juxhid_sim.h"
#include "platform/platform.h"

namespace juxhid::sim {

inline constexpr uint32_t kReportsPerReadHandle = 512;

struct OutputReport {
    std::vector<uint8_t> bytes;
    uint64_t timestampNs;
};

struct SimDevice {
    int32_t id = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    platform::DeviceCaps caps{};
    std::string path;
    bool attached = true;
    uint32_t writeDelayMs = 0;  // JUXSIM_WRITE_STALL: until cancelled or unplugged
    std::condition_variable writeWake;  // a delayed write ends early: cancel or unplug
    std::vector<platform::Device*> readHandles;  // open handles with read access
    int32_t writeHandles = 0;                    // open handles with write access
    // A handle came or went, a read took a report, or the device was
    // unplugged: a replay waiting for the library or for room looks again.
    std::condition_variable readSide;
    std::deque<OutputReport> outputs;
};

struct Bus {
    std::mutex mutex;
    int32_t lastId = 0;
    std::vector<std::shared_ptr<SimDevice>> attached;  // in attach order
    // Every device attached since the last reset, unplugged ones included:
    // their written reports can still be taken.
    std::unordered_map<int32_t, std::shared_ptr<SimDevice>> known;
};

Bus& bus();

// The attached device with that path, or null. Called with the bus mutex held.
std::shared_ptr<SimDevice> attachedByPath(const Bus& state, const char* path);

// The device with that id since the last reset, or null. Bus mutex held.
SimDevice* knownDevice(const Bus& state, int32_t id);

// Marks the device unplugged and wakes every read pending on it. Bus mutex held.
void unplug(SimDevice& device);

// At unload: ends the thread of every replay not freed yet, since it runs the
// bus's code. Bus mutex not held.
void stopEveryReplay();

// Queues one input report on every open read handle of the device, dropping
// a handle's oldest beyond kReportsPerReadHandle; answers how many handles
// it reached. Bus mutex held.
int32_t deliverToReadHandles(SimDevice& device, const uint8_t* bytes, uint32_t length);

// Whether the device has a read handle open and none of them is full. Bus
// mutex held.
bool readHandlesHaveRoom(const SimDevice& device);

}  // namespace juxhid::sim

namespace juxhid::platform {

struct DeviceList {
    std::vector<std::shared_ptr<sim::SimDevice>> members;  // the bus as it was when listed
};

struct Device {
    std::shared_ptr<sim::SimDevice> device;
    Access access = Access::Query;
    std::deque<std::vector<uint8_t>> reports;  // delivered, not read yet
    std::condition_variable changed;
    bool cancelled = false;  // read handles: deviceCancelRead; write handles: deviceCancelWrite
    bool closed = false;
    int readsInside = 0;  // a closed handle is freed once the last read has left
};

struct Preparsed {
    int32_t deviceId;
    DeviceCaps caps;
};

}  // namespace juxhid::platform
