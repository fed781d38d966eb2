// A HID device played from user space through /dev/uhid. The kernel's HID
// core, hid-generic and hidraw serve it exactly as they serve a USB device:
// it gets a /dev/hidrawN node, its input reports reach every reader of that
// node, and what is written to the node comes back here as UHID_OUTPUT.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace juxhid::kernel {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

struct DeviceIdentity {
    uint16_t vendorId;
    uint16_t productId;
    std::string uniq;  // tells devices of one vendor and product apart
    Bytes descriptor;
    uint16_t bus = 0x03;  // USB; 0x05 Bluetooth
};

// One output report as the device received it.
struct Output {
    Bytes bytes;
    uint8_t reportType;  // UHID_OUTPUT_REPORT for what the node's write() sent
    Clock::time_point at;
};

class UhidDevice {
public:
    explicit UhidDevice(DeviceIdentity identity);
    ~UhidDevice();  // unplugs the device if it is still there
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Creates the device and waits until its hidraw node is in /dev; false
    // (with a message on stderr) when that did not happen within 10 s.
    bool plug();
    // UHID_DESTROY: the kernel removes the device and its node at once.
    void unplug();

    // One UHID_INPUT2 event; false unless the kernel took it.
    bool send(const Bytes& report);

    // "/dev/hidrawN" while plugged; empty otherwise.
    const std::string& node() const { return node_; }

    // Waits until `count` output reports arrived (at most `limit`); returns
    // those received.
    std::vector<Output> waitForOutputs(size_t count, std::chrono::milliseconds limit);

private:
    void serveEvents();
    std::string findNode() const;

    DeviceIdentity identity_;
    int fd_ = -1;
    std::string node_;
    std::atomic<bool> stop_{false};
    std::thread events_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Output> outputs_;
};

}  // namespace juxhid::kernel
