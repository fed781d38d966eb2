// Hands out work at a fixed rate the way a USB host controller does: item n
// is due n/rate seconds after the start, and a thread that wakes late catches
// up on everything due at once, as a bus delivers the reports of the frames
// it was busy for. The thread sleeps between items instead of spinning, so
// it does not take a core away from the threads being measured.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace juxhid::bench {

class Pacer {
public:
    // `rate` items per second, `total` items in all.
    Pacer(double rate, uint64_t total) : rate_(rate), total_(total) {}

    // Items due `elapsedNs` after the start, never more than `total`.
    uint64_t dueBy(uint64_t elapsedNs) const;
    // Time after the start at which item `n` (from 0) is due.
    uint64_t dueAt(uint64_t n) const;
    uint64_t total() const { return total_; }

    // Calls emit(n) for n = 0 .. total-1 in order, each no earlier than it is
    // due, on the calling thread; returns early when `stop` becomes true.
    // Returns the number of items emitted.
    uint64_t run(const std::function<void(uint64_t)>& emit, const std::atomic<bool>& stop) const;

private:
    double rate_;
    uint64_t total_;
};

// Lets the calling thread's sleeps end within microseconds of their due time
// instead of the default 50 us of timer slack.
void tightenTimerSlack();

// The bus clock (the one the simulated bus stamps output reports with).
uint64_t nowNs();

}  // namespace juxhid::bench
