#include "kernel/run_tally.h"

#include <ctime>

#include "support/stamp.h"

namespace juxhid::bench::kernel {

uint64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000ULL + static_cast<uint64_t>(now.tv_nsec);
}

RunTally::RunTally(uint8_t run, uint32_t devices, uint32_t perDevice) : run_(run), perDevice_(perDevice) {
    for (uint32_t device = 0; device < devices; ++device) devices_.push_back(std::make_unique<DeviceRecord>(perDevice));
}

void RunTally::record(const uint8_t* payload, uint64_t arrivedNs) {
    const Stamp stamp = readStampFromPayload(payload);
    const uint32_t device = payload[kDeviceByte];
    if (stamp.run != run_ || device >= devices_.size()) return;
    DeviceRecord& record = *devices_[device];
    // A report handed out again (a wake-up that found nothing newer) is no
    // new arrival: it adds no latency and does not finish its device twice.
    const uint64_t outOfOrderBefore = record.sequence.outOfOrder();
    const bool finishedBefore = record.sequence.reached(perDevice_);
    record.sequence.see(stamp.sequence);
    if (record.sequence.outOfOrder() != outOfOrderBefore) return;
    record.latencies.add(arrivedNs > stamp.deliveredNs ? arrivedNs - stamp.deliveredNs : 0);
    if (finishedBefore || !record.sequence.reached(perDevice_)) return;
    std::lock_guard<std::mutex> hold(mutex_);
    ++finished_;
    lastCame_.notify_all();
}

bool RunTally::waitForLast(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return lastCame_.wait_for(hold, limit, [&] { return finished_ >= devices_.size(); });
}

std::vector<uint64_t> RunTally::latenciesSorted() const {
    std::vector<std::vector<uint64_t>> parts;
    for (const auto& device : devices_) parts.push_back(device->latencies.sorted());
    return mergeSorted(parts);
}

Delivery RunTally::delivery() const {
    std::vector<SequenceCheck> checks;
    for (const auto& device : devices_) checks.push_back(device->sequence);
    return sumDelivery(checks, perDevice_);
}

}  // namespace juxhid::bench::kernel
