#include "platform/posix/monotonic.h"

#include <limits>

namespace juxhid::os::posix {
namespace {

constexpr uint64_t kNsPerMs = 1'000'000;
constexpr uint64_t kNsPerSecond = 1'000'000'000;
// Far enough to be "never", small enough that every clock and time_t holds it.
constexpr uint64_t kFarFutureNs = uint64_t{std::numeric_limits<int32_t>::max()} * kNsPerSecond;

uint64_t readClock(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<uint64_t>(now.tv_sec) * kNsPerSecond + static_cast<uint64_t>(now.tv_nsec);
}

timespec toTimespec(uint64_t ns) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    at.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    return at;
}

}  // namespace

uint64_t nowNs() { return readClock(CLOCK_MONOTONIC); }

uint64_t deadlineAfterMs(uint32_t ms) {
    const uint64_t now = nowNs();
    const uint64_t wait = uint64_t{ms} * kNsPerMs;
    if (now >= kFarFutureNs || wait >= kFarFutureNs - now) return kFarFutureNs;
    return now + wait;
}

bool hasPassed(uint64_t deadlineNs) { return nowNs() >= deadlineNs; }

timespec monotonicTimespec(uint64_t deadlineNs) { return toTimespec(deadlineNs); }

bool initMonotonicCondition(pthread_cond_t* condition) {
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) return false;
    const bool ok = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                    pthread_cond_init(condition, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
    return ok;
}

int waitUntil(pthread_cond_t* condition, pthread_mutex_t* mutex, uint64_t deadlineNs) {
    const timespec at = monotonicTimespec(deadlineNs);
    return pthread_cond_timedwait(condition, mutex, &at);
}

}  // namespace juxhid::os::posix
