#include "frame/lock_convention.h"

namespace juxhid {

bool lockPatiently(platform::Lock* lock) {
    constexpr uint32_t kSliceMs = 500;
    constexpr int kFailedTries = 8;
    int failures = 0;
    while (lock != nullptr && failures < kFailedTries) {
        const int32_t outcome = platform::lockWait(lock, kSliceMs);
        if (isAcquired(outcome)) return true;
        if (outcome != platform::kWaitTimeout) ++failures;
    }
    return false;
}

}  // namespace juxhid
