// Locks behave like the mutexes the library was designed around: owned by a
// thread, recursive, and robust, so that a waiter learns when the owner
// ended while holding it and takes the lock over instead of waiting forever.
#include <pthread.h>

#include <cerrno>
#include <new>

#include "platform/os.h"
#include "platform/posix/monotonic.h"

namespace juxhid::os {

struct Lock {
    pthread_mutex_t mutex;
};

namespace {

bool initRecursiveRobust(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    const bool ok = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

// The thread sanitizer of this toolchain does not see pthread_mutex_clocklock
// and would lose track of the lock; it gets the wall-clock form, retried
// until the monotonic deadline has really passed.
int lockUntil(pthread_mutex_t* mutex, uint64_t deadlineNs) {
#if defined(__SANITIZE_THREAD__)
    for (;;) {
        const timespec at = posix::realtimeTimespec(deadlineNs);
        const int result = pthread_mutex_timedlock(mutex, &at);
        if (result != ETIMEDOUT || posix::hasPassed(deadlineNs)) return result;
    }
#else
    const timespec at = posix::monotonicTimespec(deadlineNs);
    return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &at);
#endif
}

}  // namespace

Lock* lockCreate() {
    Lock* lock = new (std::nothrow) Lock;
    if (lock == nullptr) return nullptr;
    if (!initRecursiveRobust(&lock->mutex)) {
        delete lock;
        return nullptr;
    }
    return lock;
}

int32_t lockWait(Lock* lock, uint32_t ms) {
    if (lock == nullptr) return platform::kWaitFailed;
    switch (lockUntil(&lock->mutex, posix::deadlineAfterMs(ms))) {
        case 0:
            return platform::kWaitAcquired;
        case EOWNERDEAD:
            // The caller owns it now; whatever it guards may be half changed,
            // which the caller is told through the outcome.
            pthread_mutex_consistent(&lock->mutex);
            return platform::kWaitAbandoned;
        case ETIMEDOUT:
            return platform::kWaitTimeout;
        default:
            return platform::kWaitFailed;
    }
}

bool lockRelease(Lock* lock) {
    return lock != nullptr && pthread_mutex_unlock(&lock->mutex) == 0;
}

void lockClose(Lock* lock) {
    if (lock == nullptr) return;
    pthread_mutex_destroy(&lock->mutex);
    delete lock;
}

}  // namespace juxhid::os
