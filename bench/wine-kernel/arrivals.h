// What came out of a stream of stamped reports, device by device: how late
// each was (the device side's stamp against this side's clock, through the
// calibrated offset), how many arrived, were lost or came out of order.
// Several threads may see reports at once (a callback worker or a bare
// reader per device), each device's own reports from one thread at a time.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "clock_sync.h"
#include "support/samples.h"
#include "support/sequence_check.h"
#include "support/stamp.h"

namespace juxhid::winekernel {

// Where a stamped report carries the device's place in the stream's order.
inline constexpr uint32_t kStreamPlace = bench::kStampBytes;
inline constexpr uint32_t kStampedPayload = 16;

class Arrivals {
public:
    Arrivals(size_t places, size_t perPlace, uint8_t run, ClockOffset offset) : run_(run), offset_(offset) {
        for (size_t place = 0; place < places; ++place) places_.push_back(std::make_unique<Place>(perPlace));
    }

    // A report as the data callback gets it (no report-ID byte), seen at `localNs`.
    void seePayload(const uint8_t* payload, int64_t localNs) {
        const bench::Stamp stamp = bench::readStampFromPayload(payload);
        const uint8_t place = payload[kStreamPlace];
        if (stamp.run != run_ || place >= places_.size()) {
            strays_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        const int64_t late = latencyNs(static_cast<int64_t>(stamp.deliveredNs), localNs, offset_);
        if (late < 0) negative_.fetch_add(1, std::memory_order_relaxed);
        Place& at = *places_[place];
        std::lock_guard<std::mutex> hold(at.mutex);
        at.latency.add(late < 0 ? 0 : static_cast<uint64_t>(late));
        at.sequence.see(stamp.sequence);
    }
    // A whole report as ReadData or ReadFile give it.
    void seeReport(const uint8_t* report, int64_t localNs) { seePayload(report + bench::kStampOffset, localNs); }

    // True once every device's reports up to `count` arrived.
    bool complete(uint32_t count) {
        for (auto& place : places_) {
            std::lock_guard<std::mutex> hold(place->mutex);
            if (!place->sequence.reached(count)) return false;
        }
        return true;
    }
    uint64_t received() { return sum([](const bench::SequenceCheck& check) { return check.received(); }); }

    struct Totals {
        bench::Summary latency;
        uint64_t received = 0;
        uint64_t lost = 0;
        uint64_t outOfOrder = 0;
        uint64_t strays = 0;    // of another run or no device of this one
        uint64_t negative = 0;  // seen before their stamp: the offset was off by more than the path
    };
    // After the stream of `count` reports per device: what never came is lost.
    Totals finish(uint32_t count) {
        Totals totals;
        std::vector<uint64_t> all;
        for (auto& place : places_) {
            std::lock_guard<std::mutex> hold(place->mutex);
            place->sequence.finish(count);
            totals.received += place->sequence.received();
            totals.lost += place->sequence.lost();
            totals.outOfOrder += place->sequence.outOfOrder();
            const std::vector<uint64_t> sorted = place->latency.sorted();
            all.insert(all.end(), sorted.begin(), sorted.end());
        }
        std::sort(all.begin(), all.end());
        totals.latency = bench::summarize(all);
        totals.strays = strays_.load();
        totals.negative = negative_.load();
        return totals;
    }

private:
    struct Place {
        explicit Place(size_t capacity) : latency(capacity) {}
        std::mutex mutex;
        bench::Samples latency;
        bench::SequenceCheck sequence;
    };

    template <typename Read>
    uint64_t sum(Read read) {
        uint64_t total = 0;
        for (auto& place : places_) {
            std::lock_guard<std::mutex> hold(place->mutex);
            total += read(place->sequence);
        }
        return total;
    }

    uint8_t run_;
    ClockOffset offset_;
    std::vector<std::unique_ptr<Place>> places_;
    std::atomic<uint64_t> strays_{0};
    std::atomic<uint64_t> negative_{0};
};

}  // namespace juxhid::winekernel
