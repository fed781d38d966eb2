// Every timed wait of the POSIX layer runs against one absolute
// CLOCK_MONOTONIC deadline, computed once when the wait starts: a spurious
// wake-up or a retry then never stretches the wait, and a change of the
// wall clock never shortens or lengthens it.
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>

namespace juxhid::os::posix {

uint64_t nowNs();

// The monotonic time `ms` from now, clamped to the far future rather than
// wrapping around.
uint64_t deadlineAfterMs(uint32_t ms);

bool hasPassed(uint64_t deadlineNs);

timespec monotonicTimespec(uint64_t deadlineNs);

// A condition variable whose timed waits read CLOCK_MONOTONIC.
bool initMonotonicCondition(pthread_cond_t* condition);

// Waits on `condition` until woken or the deadline; 0 or ETIMEDOUT. The
// caller loops on its own predicate: a wake-up may be spurious.
int waitUntil(pthread_cond_t* condition, pthread_mutex_t* mutex, uint64_t deadlineNs);

}  // namespace juxhid::os::posix
