// The Windows test program's line to the device side (device_server, a
// native program in the same guest): one TCP connection on the loopback,
// one order per line, answered by "ok ..." or "error ...".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::winekernel {

using Bytes = std::vector<uint8_t>;

struct DeviceOutput {
    Bytes bytes;
    double atMs;  // on the device side's monotonic clock
};

class DeviceChannel {
public:
    bool connect(uint16_t port);
    void close();

    // Plugs (or plugs again) the device NAME; false unless the kernel made its node.
    bool plug(const std::string& name, const std::string& kind, uint16_t vendor, uint16_t product);
    bool unplug(const std::string& name);
    // Sends reports FIRST..FIRST+COUNT-1, PAUSE_US apart (0: back to back);
    // the milliseconds the sending took, or a negative number on failure.
    double send(const std::string& name, uint32_t first, uint32_t count, uint32_t pauseUs = 0);
    // The output reports the device received so far, waiting up to `limitMs`
    // for at least `count`.
    std::vector<DeviceOutput> outputs(const std::string& name, size_t count, uint32_t limitMs);
    // The device side's monotonic clock in nanoseconds; -1 on failure.
    int64_t clockNs();
    // Streams COUNT stamped reports to each of `names` (comma-separated) at
    // `rate` per second each; the rate reached, or a negative number.
    double stream(const std::string& names, double rate, uint32_t count, uint8_t run);

private:
    std::string ask(const std::string& order);
    bool readLine(std::string* line);

    uintptr_t socket_ = ~uintptr_t{0};
};

// What the device side sends as report `sequence` of a device with 8 bytes
// (unnumbered) or 4 bytes (numbered, ID 1) per report, as the reader gets it:
// the report-ID byte first.
Bytes numberedReport(uint32_t sequence, bool numbered = false);
uint32_t sequenceOf(const Bytes& report);

}  // namespace juxhid::winekernel
