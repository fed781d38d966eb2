#include "paths/pacing.h"

#include <chrono>
#include <thread>
#include <vector>

#include "juxhid.h"
#include "juxhid_sim.h"
#include "juxhid_status.h"
#include "support/pacer.h"
#include "support/stamp.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kIdleLimitMs = 2000;
constexpr uint8_t kRun = 9;

uint64_t nominalNs(Interval interval) { return interval == Interval::Slow ? 50'000'000 : 5'000'000; }

int32_t write(Interval interval, int32_t index, const uint8_t* report) {
    return interval == Interval::Slow ? WriteData(index, report) : FastWrite(index, report);
}

bool takeOutput(const SimDevices& devices, int32_t index, std::vector<uint8_t>& bytes, uint64_t& at) {
    uint32_t length = 0;
    return juxsim_take_output(devices.busId(index), bytes.data(), devices.outputLength(), &length, &at) == 1;
}

void forgetOutputs(const SimDevices& devices) {
    std::vector<uint8_t> bytes(devices.outputLength());
    uint64_t at = 0;
    for (int32_t index = 0; index < devices.count(); ++index)
        while (takeOutput(devices, index, bytes, at)) {}
}

int64_t outputsWaiting(const SimDevices& devices) {
    int64_t waiting = 0;
    for (int32_t index = 0; index < devices.count(); ++index)
        waiting += juxsim_output_count(devices.busId(index));
    return waiting;
}

// Writes report r to every interface in turn, r = 0 .. reportsEach-1. Only
// the very first write is direct; every later one is queued.
void writeAll(const SimDevices& devices, Interval interval, uint32_t reportsEach, PacingRun& result) {
    std::vector<uint8_t> report(devices.outputLength(), 0);
    for (uint32_t r = 0; r < reportsEach; ++r) {
        for (int32_t index = 0; index < devices.count(); ++index) {
            writeStamp(report.data(), Stamp{kRun, r, 0});
            const uint64_t start = nowNs();
            const int32_t status = write(interval, index, report.data());
            const uint64_t took = nowNs() - start;
            if (r > 0 || index > 0) result.queuedCall.add(took);
            if (status == JUXHID_OK) {
                ++result.written;
            } else {
                ++result.refused;
            }
        }
    }
}

// Reads back what one device received: intervals between its consecutive
// reports, against the nominal one.
void collectDevice(int32_t busId, uint32_t length, Interval interval, PacingRun& result) {
    std::vector<uint8_t> bytes(length);
    uint32_t written = 0;
    uint64_t at = 0;
    uint64_t previousAt = 0;
    uint32_t expected = 0;
    bool first = true;
    while (juxsim_take_output(busId, bytes.data(), length, &written, &at) == 1) {
        const Stamp stamp = readStamp(bytes.data());
        if (stamp.run != kRun) continue;
        if (stamp.sequence != expected) ++result.misordered;
        expected = stamp.sequence + 1;
        ++result.received;
        if (!first) {
            const uint64_t gap = at - previousAt;
            if (gap < nominalNs(interval)) ++result.early;
            result.lateness.add(gap > nominalNs(interval) ? gap - nominalNs(interval) : 0);
        }
        first = false;
        previousAt = at;
    }
}

bool waitForOutputs(const SimDevices& devices, int64_t count, uint64_t limitNs) {
    const uint64_t deadline = nowNs() + limitNs;
    while (outputsWaiting(devices) < count) {
        if (nowNs() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

void measurePacing(const SimDevices& devices, Interval interval, uint32_t reportsEach, PacingRun& result,
                   Count count) {
    result.timedOut |= !waitForPacingIdle(kIdleLimitMs);
    forgetOutputs(devices);
    AllocationProbe probe(count);
    const uint64_t writtenBefore = result.written;
    writeAll(devices, interval, reportsEach, result);
    const uint64_t chainNs = (reportsEach + 2) * nominalNs(interval) * 3 + 1'000'000'000;
    const auto writtenNow = static_cast<int64_t>(result.written - writtenBefore);
    result.timedOut |= !waitForOutputs(devices, writtenNow, chainNs);
    result.timedOut |= !waitForPacingIdle(kIdleLimitMs);
    const AllocationProbe::Result allocations = probe.finish();
    result.allocationRequests += allocations.requests;
    result.blocksHeldChange += allocations.heldChange;
    // Devices count from 0 in each report, so the run's first report on each
    // device starts its own series of intervals.
    for (int32_t index = 0; index < devices.count(); ++index)
        collectDevice(devices.busId(index), devices.outputLength(), interval, result);
}

void measureDirectWrites(const SimDevices& devices, uint32_t writes, DirectWriteRun& result, Count count) {
    std::vector<uint8_t> report(devices.outputLength(), 0);
    std::vector<uint8_t> received(devices.outputLength());
    AllocationProbe probe(count);
    for (uint32_t n = 0; n < writes; ++n) {
        if (!waitForPacingIdle(kIdleLimitMs)) break;
        forgetOutputs(devices);
        writeStamp(report.data(), Stamp{kRun, n, 0});
        const uint64_t start = nowNs();
        const int32_t status = FastWrite(0, report.data());
        const uint64_t returned = nowNs();
        uint64_t at = 0;
        if (status != JUXHID_OK || !takeOutput(devices, 0, received, at)) {
            ++result.refused;
            continue;
        }
        result.call.add(returned - start);
        result.toBus.add(at - start);
    }
    const AllocationProbe::Result allocations = probe.finish();
    result.allocationRequests = allocations.requests;
    result.blocksHeldChange = allocations.heldChange;
}

}  // namespace juxhid::bench
