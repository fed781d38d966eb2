#include "kernel/run_arithmetic.h"

#include <algorithm>
#include <iterator>

namespace juxhid::bench::kernel {

Delivery sumDelivery(const std::vector<SequenceCheck>& devices, uint32_t sentPerDevice) {
    Delivery total;
    for (SequenceCheck device : devices) {
        device.finish(sentPerDevice);
        total.arrived += device.received();
        total.lost += device.lost();
        total.inOrder += device.received() - device.outOfOrder();
    }
    return total;
}

std::vector<uint64_t> mergeSorted(const std::vector<std::vector<uint64_t>>& parts) {
    std::vector<uint64_t> merged;
    for (const std::vector<uint64_t>& part : parts) {
        const auto middle = static_cast<std::ptrdiff_t>(merged.size());
        merged.insert(merged.end(), part.begin(), part.end());
        std::inplace_merge(merged.begin(), merged.begin() + middle, merged.end());
    }
    return merged;
}

double usCpuPerReport(uint64_t cpuNs, uint64_t reports) {
    return reports == 0 ? 0.0 : static_cast<double>(cpuNs) / 1e3 / static_cast<double>(reports);
}

double achievedRate(uint64_t rounds, uint64_t firstNs, uint64_t lastNs) {
    if (rounds < 2 || lastNs <= firstNs) return 0.0;
    return static_cast<double>(rounds - 1) * 1e9 / static_cast<double>(lastNs - firstNs);
}

double perSecond(uint64_t events, uint64_t wallNs) {
    return wallNs == 0 ? 0.0 : static_cast<double>(events) * 1e9 / static_cast<double>(wallNs);
}

}  // namespace juxhid::bench::kernel
