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

}  // namespace juxhid
