#include "support/pacer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "juxhid_sim.h"

namespace juxhid::bench {
namespace {

#if defined(_WIN32)
// The Windows runtime sleeps in whole milliseconds and turns a shorter sleep
// into a bare yield, so waiting for an item less than a millisecond away
// would spin a core away from the threads being measured (under Wine the
// feeder alone took 60% of one): it sleeps a whole one, as a USB frame lasts,
// and catches up on what came due meanwhile.
constexpr uint64_t kShortestSleepNs = 1'000'000;
#else
constexpr uint64_t kShortestSleepNs = 0;
#endif

}  // namespace

uint64_t Pacer::dueBy(uint64_t elapsedNs) const {
    const double due = std::floor(static_cast<double>(elapsedNs) * rate_ / 1e9) + 1;
    return std::min<uint64_t>(total_, static_cast<uint64_t>(due));
}

uint64_t Pacer::dueAt(uint64_t n) const {
    return static_cast<uint64_t>(std::ceil(static_cast<double>(n) * 1e9 / rate_));
}

uint64_t Pacer::run(const std::function<void(uint64_t)>& emit, const std::atomic<bool>& stop) const {
    const uint64_t start = nowNs();
    uint64_t emitted = 0;
    while (emitted < total_ && !stop.load(std::memory_order_relaxed)) {
        const uint64_t due = dueBy(nowNs() - start);
        // A late wake-up catches up on many items at once; a stop asked for
        // by one of them still ends the run right there.
        while (emitted < due && !stop.load(std::memory_order_relaxed)) emit(emitted++);
        if (emitted == total_ || stop.load(std::memory_order_relaxed)) break;
        const uint64_t wakeAt = start + dueAt(emitted);
        const uint64_t now = nowNs();
        if (wakeAt > now) std::this_thread::sleep_for(std::chrono::nanoseconds(std::max(wakeAt - now, kShortestSleepNs)));
    }
    return emitted;
}

void tightenTimerSlack() {
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

uint64_t nowNs() { return juxsim_now_ns(); }

}  // namespace juxhid::bench
