// What the library holds of the platform right now, counted by the wrappers
// as objects are obtained and given back. The bus's own bookkeeping is not
// counted: only what the library asked for.
#pragma once

#include <atomic>
#include <cstdint>

namespace juxhid::sim {

struct LiveCounts {
    std::atomic<int32_t> deviceLists{0};
    std::atomic<int32_t> handles{0};
    std::atomic<int32_t> preparsed{0};
    std::atomic<int32_t> locks{0};
    std::atomic<int32_t> signals{0};
    std::atomic<int32_t> threads{0};
    std::atomic<int32_t> timers{0};
    std::atomic<int32_t> allocations{0};
    std::atomic<int32_t> messageBoxes{0};
};

LiveCounts& liveCounts();

}  // namespace juxhid::sim
