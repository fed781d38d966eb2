#include "support/bus_load.h"

#include <limits>

#include "juxhid_sim.h"
#include "support/pacer.h"
#include "support/stamp.h"

namespace juxhid::bench {

BusLoad::BusLoad(std::vector<int32_t> busIds, uint32_t reportLength, double perDeviceRate,
                 uint64_t perDevice, uint8_t run)
    : busIds_(std::move(busIds)), reportLength_(reportLength), run_(run) {
    const uint64_t devices = busIds_.size();
    const uint64_t total = perDevice == 0 ? std::numeric_limits<uint64_t>::max() / 2 : perDevice * devices;
    thread_ = std::thread([this, total, rate = perDeviceRate * static_cast<double>(devices)] {
        tightenTimerSlack();
        std::vector<uint8_t> report(reportLength_, 0);
        const Pacer pacer(rate, total);
        pacer.run([&](uint64_t n) { deliver(n, report); }, stop_);
        done_ = true;
    });
}

void BusLoad::deliver(uint64_t n, std::vector<uint8_t>& report) {
    const uint64_t devices = busIds_.size();
    Stamp stamp;
    stamp.run = run_;
    stamp.sequence = static_cast<uint32_t>(n / devices);
    stamp.deliveredNs = nowNs();
    writeStamp(report.data(), stamp);
    if (n == 0) firstNs_ = stamp.deliveredNs;
    if (juxsim_deliver(busIds_[n % devices], report.data(), reportLength_) < 1) unreached_.fetch_add(1);
    lastNs_ = stamp.deliveredNs;
    delivered_.store(n + 1, std::memory_order_release);
}

uint32_t BusLoad::deliveredTo(size_t position) const {
    const uint64_t devices = busIds_.size();
    const uint64_t all = delivered();
    if (all <= position) return 0;
    return static_cast<uint32_t>((all - position + devices - 1) / devices);
}

void BusLoad::stop() { stop_ = true; }

void BusLoad::join() {
    if (thread_.joinable()) thread_.join();
}

BusLoad::~BusLoad() {
    stop();
    join();
}

}  // namespace juxhid::bench
