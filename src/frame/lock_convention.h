// Every lock of the library is taken with a limit in milliseconds. A wait has
// three outcomes: acquired, acquired from an owner that ended while holding it
// (which counts as acquired), or not acquired (time-out or a failed wait),
// which the operation answers with its own code, leaving everything as it was.
#pragma once

#include "platform/platform.h"

namespace juxhid {

inline bool isAcquired(int32_t waitOutcome) {
    return waitOutcome == platform::kWaitAcquired || waitOutcome == platform::kWaitAbandoned;
}

// Waits for `lock` at most `ms` and answers the raw outcome (0, 128, 258, -1);
// a missing lock is a failed wait.
inline int32_t waitForLock(platform::Lock* lock, uint32_t ms) {
    if (lock == nullptr) return platform::kWaitFailed;
    return platform::lockWait(lock, ms);
}

inline bool tryLock(platform::Lock* lock, uint32_t ms) { return isAcquired(waitForLock(lock, ms)); }

// Opening and closing must have writeLock to keep a pacing tick away from
// the write queue they create or release; they have no code to answer, so
// they wait as long as a tick's device writes take. A lock that cannot be
// waited for at all is given up on after a few tries, and the caller goes on
// without it.
bool lockPatiently(platform::Lock* lock);

}  // namespace juxhid
