// A device side that never tires: one thread delivering numbered, stamped
// input reports to a set of simulated devices at a fixed rate each, in turn,
// as the bus would for devices sharing it.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace juxhid::bench {

class BusLoad {
public:
    // `perDeviceRate` reports/s to each device, `perDevice` reports each (0:
    // until stopped). Report n goes to device n % count with sequence n / count.
    BusLoad(std::vector<int32_t> busIds, uint32_t reportLength, double perDeviceRate,
            uint64_t perDevice, uint8_t run);
    ~BusLoad();
    BusLoad(const BusLoad&) = delete;
    BusLoad& operator=(const BusLoad&) = delete;

    void stop();
    // Waits until every report was delivered or stop() was called.
    void join();
    bool done() const { return done_.load(); }

    uint64_t delivered() const { return delivered_.load(); }
    // Reports delivered to the device at `position` in the list given.
    uint32_t deliveredTo(size_t position) const;
    // Deliveries that reached no open read handle.
    uint64_t unreached() const { return unreached_.load(); }
    // Seconds from the first delivery to the last.
    double seconds() const { return static_cast<double>(lastNs_.load() - firstNs_.load()) / 1e9; }

private:
    void deliver(uint64_t n, std::vector<uint8_t>& report);

    std::vector<int32_t> busIds_;
    uint32_t reportLength_;
    uint8_t run_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<uint64_t> delivered_{0};
    std::atomic<uint64_t> unreached_{0};
    std::atomic<uint64_t> firstNs_{0};
    std::atomic<uint64_t> lastNs_{0};
    std::thread thread_;
};

}  // namespace juxhid::bench
