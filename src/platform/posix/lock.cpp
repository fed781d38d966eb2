// Locks behave like the mutexes the library was designed around: owned by a
// thread, recursive, and robust, so that a waiter learns when the owner
// ended while holding it and takes the lock over instead of waiting forever.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/os.h"
#include "platform/posix/monotonic.h"

namespace juxhid::os {

// The lock knows its owner, so that a release by any other thread answers
// false without touching the mutex at all (an unlock by a non-owner is an
// error the thread sanitizer reports, whatever the mutex answers).
struct Lock {
    pthread_mutex_t mutex;
    std::atomic<uint64_t> owner{0};  // token of the owning thread, 0 for none
    uint32_t depth = 0;              // changed only by the owner
};

namespace {

// Never reused, unlike thread ids, so a thread that ended holding a lock is
// never mistaken for a later one.
uint64_t currentToken() {
    static std::atomic<uint64_t> lastToken{0};
    thread_local const uint64_t token = ++lastToken;
    return token;
}

void takeOwnership(Lock* lock, bool abandoned) {
    if (abandoned) lock->depth = 0;  // the ended owner's depth went with it
    lock->owner.store(currentToken(), std::memory_order_relaxed);
    ++lock->depth;
}

bool initRecursiveRobust(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    const bool ok = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

// The thread sanitizer of this toolchain sees neither pthread_mutex_clocklock
// nor an abandoned owner reported by a timed lock, and would lose track of
// the lock; its builds try the lock in short pauses until the deadline
// instead (only the sanitizer's try-lock knows about abandoned owners).
int lockUntil(pthread_mutex_t* mutex, uint64_t deadlineNs) {
#if defined(__SANITIZE_THREAD__)
    constexpr timespec kPause{0, 200'000};
    for (;;) {
        const int result = pthread_mutex_trylock(mutex);
        if (result != EBUSY) return result;
        if (posix::hasPassed(deadlineNs)) return ETIMEDOUT;
        nanosleep(&kPause, nullptr);
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
            takeOwnership(lock, false);
            return platform::kWaitAcquired;
        case EOWNERDEAD:
            // The caller owns it now; whatever it guards may be half changed,
            // which the caller is told through the outcome.
            pthread_mutex_consistent(&lock->mutex);
            takeOwnership(lock, true);
            return platform::kWaitAbandoned;
        case ETIMEDOUT:
            return platform::kWaitTimeout;
        default:
            return platform::kWaitFailed;
    }
}

bool lockRelease(Lock* lock) {
    if (lock == nullptr || lock->owner.load(std::memory_order_relaxed) != currentToken()) return false;
    if (--lock->depth == 0) lock->owner.store(0, std::memory_order_relaxed);
    return pthread_mutex_unlock(&lock->mutex) == 0;
}

void lockClose(Lock* lock) {
    if (lock == nullptr) return;
    pthread_mutex_destroy(&lock->mutex);
    delete lock;
}

}  // namespace juxhid::os
