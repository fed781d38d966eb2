// Durations in nanoseconds gathered by one thread while another may already
// look at them, and what is read off them: nearest-rank percentiles and a
// histogram with bins of equal width on a logarithmic scale.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace juxhid::bench {

// Nearest-rank percentile (0 < p <= 100) of `sorted`, ascending; 0 when empty.
uint64_t percentileOfSorted(const std::vector<uint64_t>& sorted, double p);

// Room is taken up front: recording never allocates, so the measuring side
// adds nothing to the allocation count of the path it watches. One thread
// adds; any thread may take a snapshot of what was published so far.
class Samples {
public:
    explicit Samples(size_t capacity) : values_(capacity) {}

    void add(uint64_t ns) {
        const size_t n = count_.load(std::memory_order_relaxed);
        if (n == values_.size()) {
            overflow_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        values_[n] = ns;
        count_.store(n + 1, std::memory_order_release);
    }

    size_t size() const { return count_.load(std::memory_order_acquire); }
    uint64_t overflow() const { return overflow_.load(std::memory_order_relaxed); }
    std::vector<uint64_t> sorted() const;

private:
    std::vector<uint64_t> values_;
    std::atomic<size_t> count_{0};
    std::atomic<uint64_t> overflow_{0};
};

struct Summary {
    size_t count = 0;
    uint64_t p50 = 0;
    uint64_t p99 = 0;
    uint64_t max = 0;
};
Summary summarize(const std::vector<uint64_t>& sorted);

// Bins of 1/kBinsPerOctave octave: bin b holds [2^(b/8), 2^((b+1)/8)) ns.
struct HistogramBin {
    double lowNs;
    double highNs;
    uint64_t count;
};
inline constexpr int kBinsPerOctave = 8;
int histogramBinOf(uint64_t ns);
// Only bins that hold something, in ascending order.
std::vector<HistogramBin> histogram(const std::vector<uint64_t>& sorted);

}  // namespace juxhid::bench
