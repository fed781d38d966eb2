// The devices of a measuring run live in a child process of their own, so
// that their CPU time and wake-ups (the uhid writes, the pacing sleeps, the
// event threads) stay out of the counters of the process being measured.
// The parent drives the child by one-line commands over a pipe; every answer
// is awaited with a bound.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::bench::kernel {

inline constexpr uint16_t kVendor = 0x1A2B;
// Device i of the run has product 0x0200 + i, so the host finds its index.
inline constexpr uint16_t kFirstProduct = 0x0200;
// Input reports without a report ID: the stamp and the device byte, padded.
inline constexpr uint32_t kPayloadBytes = 32;

struct SendResult {
    bool ok = false;
    uint64_t rounds = 0;  // one report per device each
    uint64_t firstNs = 0;  // the stamps of the first and the last round
    uint64_t lastNs = 0;
};

class DeviceSide {
public:
    // Forks the child; call before any thread of this process starts.
    DeviceSide();
    ~DeviceSide();  // asks the child to unplug everything and waits for it
    DeviceSide(const DeviceSide&) = delete;
    DeviceSide& operator=(const DeviceSide&) = delete;

    bool started() const { return child_ > 0; }

    // Plugs `count` devices; their hidraw nodes in device order, empty on failure.
    std::vector<std::string> plug(uint32_t count);
    // `rounds` rounds at `rate` per second, each one report to each of devices
    // 0 .. devices-1, stamped just before its write to /dev/uhid.
    SendResult send(uint32_t devices, double rate, uint32_t rounds, uint8_t run);
    bool unplug(uint32_t device);
    // True once device `device` received `count` output reports (10 s at most).
    bool receivedOutputs(uint32_t device, uint32_t count);

private:
    std::string ask(const std::string& command, int limitMs);

    pid_t child_ = -1;
    int commands_ = -1;
    int answers_ = -1;
};

}  // namespace juxhid::bench::kernel
