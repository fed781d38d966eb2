#include "support/samples.h"

#include <algorithm>
#include <cmath>

namespace juxhid::bench {

uint64_t percentileOfSorted(const std::vector<uint64_t>& sorted, double p) {
    if (sorted.empty()) return 0;
    const double rank = std::ceil(p / 100.0 * static_cast<double>(sorted.size()));
    const size_t index = static_cast<size_t>(std::clamp(rank, 1.0, static_cast<double>(sorted.size())));
    return sorted[index - 1];
}

std::vector<uint64_t> Samples::sorted() const {
    std::vector<uint64_t> copy(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(size()));
    std::sort(copy.begin(), copy.end());
    return copy;
}

Summary summarize(const std::vector<uint64_t>& sorted) {
    Summary summary;
    summary.count = sorted.size();
    if (sorted.empty()) return summary;
    summary.p50 = percentileOfSorted(sorted, 50);
    summary.p99 = percentileOfSorted(sorted, 99);
    summary.max = sorted.back();
    return summary;
}

int histogramBinOf(uint64_t ns) {
    if (ns <= 1) return 0;
    return static_cast<int>(std::floor(std::log2(static_cast<double>(ns)) * kBinsPerOctave));
}

std::vector<HistogramBin> histogram(const std::vector<uint64_t>& sorted) {
    std::vector<HistogramBin> bins;
    int current = -1;
    for (const uint64_t ns : sorted) {
        const int bin = histogramBinOf(ns);
        if (bin != current) {
            current = bin;
            bins.push_back({std::exp2(static_cast<double>(bin) / kBinsPerOctave),
                            std::exp2(static_cast<double>(bin + 1) / kBinsPerOctave), 0});
        }
        ++bins.back().count;
    }
    return bins;
}

}  // namespace juxhid::bench
