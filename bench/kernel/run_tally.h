// What one run saw of each device's numbered, stamped reports: how late each
// came and which came in order. Every device's record has one writer (its
// bare reader, its interface's callback worker, or the polling thread), so
// recording takes no lock and never allocates; only the last report of a
// device wakes the thread that waits for the run's end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "kernel/run_arithmetic.h"
#include "support/samples.h"
#include "support/sequence_check.h"

namespace juxhid::bench::kernel {

// The guest's CLOCK_MONOTONIC, the clock the device side stamps with.
uint64_t monotonicNs();

// Payload byte (after the stamp) that says which of the run's devices sent it.
inline constexpr uint32_t kDeviceByte = 13;

class RunTally {
public:
    RunTally(uint8_t run, uint32_t devices, uint32_t perDevice);

    // A report without its report-ID byte, as it arrived at `arrivedNs`.
    // Reports of another run or device are ignored.
    void record(const uint8_t* payload, uint64_t arrivedNs);

    // Until every device's last report came, at most `limit`; true if all came.
    bool waitForLast(std::chrono::milliseconds limit);

    // Read these only once no writer can record any more.
    std::vector<uint64_t> latenciesSorted() const;
    Delivery delivery() const;

private:
    struct DeviceRecord {
        explicit DeviceRecord(size_t capacity) : latencies(capacity) {}
        Samples latencies;
        SequenceCheck sequence;
    };

    uint8_t run_;
    uint32_t perDevice_;
    std::vector<std::unique_ptr<DeviceRecord>> devices_;
    std::mutex mutex_;
    std::condition_variable lastCame_;
    uint32_t finished_ = 0;
};

}  // namespace juxhid::bench::kernel
