// The devices a benchmark works on: attached to the simulated bus, listed
// and opened through the library's own functions, closed again when the
// benchmark is done, so that every measurement runs the library's real
// reader, callback and timer threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::bench {

inline constexpr uint32_t kBenchVendor = 0x1A2B;

class SimDevices {
public:
    // Starts from an empty bus; `count` devices with the given report lengths.
    SimDevices(int32_t count, uint32_t inputLength, uint32_t outputLength);
    ~SimDevices();
    SimDevices(const SimDevices&) = delete;
    SimDevices& operator=(const SimDevices&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int32_t count() const { return static_cast<int32_t>(busIds_.size()); }
    // The bus id of the device the library lists at `index`.
    int32_t busId(int32_t index) const { return busIds_[static_cast<size_t>(index)]; }
    uint32_t inputLength() const { return inputLength_; }
    uint32_t outputLength() const { return outputLength_; }

private:
    void attachListAndOpen(int32_t count);

    std::vector<int32_t> busIds_;
    uint32_t inputLength_;
    uint32_t outputLength_;
    std::string error_;
};

// What an AllocationProbe counts.
enum class Count {
    // Blocks the library holds, before and after: catches a path that keeps
    // memory per report, and costs the path nothing.
    HeldBlocks,
    // Also every request made through the platform: each one is made to fail
    // and counted, so a path that allocates shows up as a nonzero count (and
    // misbehaves) instead of passing unnoticed. An armed fault makes every
    // platform call of the simulated bus consult the fault table under its
    // mutex, so timed runs never count requests.
    Requests,
};

class AllocationProbe {
public:
    explicit AllocationProbe(Count count);
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    struct Result {
        int64_t requests = 0;    // allocations asked for (0 when not counted)
        int64_t heldChange = 0;  // blocks held at the end minus at the start
    };
    // Ends the probe (once); later calls answer the same.
    Result finish();

private:
    int32_t fault_ = 0;
    int32_t heldAtStart_ = 0;
    bool finished_ = false;
    Result result_;
};

// Waits until no pacing chain runs; false after `limitMs`.
bool waitForPacingIdle(uint32_t limitMs);

}  // namespace juxhid::bench
