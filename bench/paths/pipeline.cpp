#include "paths/pipeline.h"

#include <chrono>
#include <thread>

#include "interface/report_ring.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "support/bus_load.h"
#include "support/pacer.h"
#include "support/sequence_check.h"
#include "support/stamp.h"

namespace juxhid::bench {
namespace {

constexpr auto kIdlePoll = std::chrono::microseconds(100);
constexpr uint64_t kQuietLimitNs = 200'000'000;

// The polling side: takes every unread report of every interface.
class Drain {
public:
    Drain(const SimDevices& devices, uint8_t run)
        : checks_(static_cast<size_t>(devices.count())), buffer_(devices.inputLength()), run_(run) {}

    // One pass over every interface; true if any report was taken.
    bool pass() {
        bool took = false;
        for (size_t index = 0; index < checks_.size(); ++index) took |= drainOne(index);
        return took;
    }

    bool reachedAll(const BusLoad& load) const {
        for (size_t index = 0; index < checks_.size(); ++index)
            if (!checks_[index].reached(load.deliveredTo(index))) return false;
        return true;
    }

    void finish(const BusLoad& load, PipelineRun& result) {
        for (size_t index = 0; index < checks_.size(); ++index) {
            checks_[index].finish(load.deliveredTo(index));
            result.received += checks_[index].received();
            result.lost += checks_[index].lost();
            result.outOfOrder += checks_[index].outOfOrder();
        }
        result.readErrors = readErrors_;
        result.lostRingFull = lostRingFull_;
    }

private:
    // Takes every unread report of one interface. A pass that takes a whole
    // ring's worth found the ring full, so what it found missing was most
    // likely overwritten there.
    bool drainOne(size_t index) {
        SequenceCheck& check = checks_[index];
        const uint64_t lostBefore = check.lost();
        int32_t taken = 0;
        int32_t status;
        while ((status = ReadData(static_cast<int32_t>(index), buffer_.data())) == JUXHID_OK) {
            ++taken;
            const Stamp stamp = readStamp(buffer_.data());
            if (stamp.run == run_) check.see(stamp.sequence);
        }
        if (status != JUXHID_READ_EMPTY) ++readErrors_;
        if (taken >= ReportRing::kCapacity) lostRingFull_ += check.lost() - lostBefore;
        return taken > 0;
    }

    std::vector<SequenceCheck> checks_;
    std::vector<uint8_t> buffer_;
    uint8_t run_;
    uint64_t readErrors_ = 0;
    uint64_t lostRingFull_ = 0;
};

std::vector<int32_t> busIdsOf(const SimDevices& devices) {
    std::vector<int32_t> ids;
    for (int32_t index = 0; index < devices.count(); ++index) ids.push_back(devices.busId(index));
    return ids;
}

// After the last delivery: whatever is still on its way is waited for until
// nothing has come for a while.
void drainTheRest(Drain& drain, const BusLoad& load) {
    uint64_t lastProgress = nowNs();
    while (!drain.reachedAll(load) && nowNs() - lastProgress < kQuietLimitNs) {
        if (drain.pass()) {
            lastProgress = nowNs();
        } else {
            std::this_thread::sleep_for(kIdlePoll);
        }
    }
}

}  // namespace

PipelineRun runPipeline(const SimDevices& devices, double perDeviceRate, double seconds, uint8_t run,
                        Count count) {
    tightenTimerSlack();
    for (int32_t index = 0; index < devices.count(); ++index) ClearBuffer(index);
    PipelineRun result;
    result.askedPerDevice = perDeviceRate;
    Drain drain(devices, run);
    AllocationProbe probe(count);
    BusLoad load(busIdsOf(devices), devices.inputLength(), perDeviceRate,
                 static_cast<uint64_t>(perDeviceRate * seconds), run);
    while (!load.done()) {
        if (!drain.pass()) std::this_thread::sleep_for(kIdlePoll);
    }
    load.join();
    drainTheRest(drain, load);
    const AllocationProbe::Result allocations = probe.finish();
    drain.finish(load, result);
    result.delivered = load.delivered();
    result.unreached = load.unreached();
    const double busSeconds = load.seconds();
    // n deliveries span n - 1 intervals.
    result.achievedPerDevice =
        busSeconds > 0 ? static_cast<double>(result.delivered - 1) / devices.count() / busSeconds : 0;
    result.allocationRequests = allocations.requests;
    result.blocksHeldChange = allocations.heldChange;
    return result;
}

std::vector<PipelineRun> climbRates(const SimDevices& devices, double startRate, double seconds,
                                    int steps, uint8_t firstRun) {
    std::vector<PipelineRun> runs;
    double rate = startRate;
    for (int step = 0; step < steps; ++step, rate *= 2) {
        runs.push_back(runPipeline(devices, rate, seconds, static_cast<uint8_t>(firstRun + step)));
        if (!runs.back().clean() || runs.back().busFellShort()) break;
    }
    return runs;
}

double highestCleanRate(const std::vector<PipelineRun>& runs) {
    double best = 0;
    for (const PipelineRun& run : runs)
        if (run.clean() && run.achievedPerDevice > best) best = run.achievedPerDevice;
    return best;
}

}  // namespace juxhid::bench
