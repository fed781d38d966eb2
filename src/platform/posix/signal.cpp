// Manual-reset signals. A waiter does not sleep on the signal itself: it
// registers on the one or two signals it waits for and sleeps on its own
// condition variable, so setting a signal wakes exactly the threads waiting
// for it and nobody else, however many interfaces are open.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/os.h"
#include "platform/posix/monotonic.h"

namespace juxhid::os {

namespace {

// One waiting thread; lives on that thread's stack for the wait.
struct Waiter {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t woken;
    bool poked = false;
};

// A waiter's entry in one signal's list of waiters.
struct Registration {
    Waiter* waiter = nullptr;
    Registration* previous = nullptr;
    Registration* next = nullptr;
};

}  // namespace

struct Signal {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;  // guards the list and changes of `set`
    std::atomic<bool> set{false};
    Registration* waiters = nullptr;
};

namespace {

void poke(Waiter* waiter) {
    pthread_mutex_lock(&waiter->mutex);
    waiter->poked = true;
    pthread_cond_signal(&waiter->woken);
    pthread_mutex_unlock(&waiter->mutex);
}

// From here on every set of the signal pokes the waiter, so a set between
// the waiter's look at the signal and its sleep is never missed.
void enlist(Signal* signal, Registration* entry) {
    pthread_mutex_lock(&signal->mutex);
    entry->previous = nullptr;
    entry->next = signal->waiters;
    if (signal->waiters != nullptr) signal->waiters->previous = entry;
    signal->waiters = entry;
    pthread_mutex_unlock(&signal->mutex);
}

// After this no setter touches the waiter any more.
void withdraw(Signal* signal, Registration* entry) {
    pthread_mutex_lock(&signal->mutex);
    if (entry->previous != nullptr) entry->previous->next = entry->next;
    else signal->waiters = entry->next;
    if (entry->next != nullptr) entry->next->previous = entry->previous;
    pthread_mutex_unlock(&signal->mutex);
}

// The index of the first set signal among `count`, or -1.
int firstSet(Signal* const* signals, int count) {
    for (int index = 0; index < count; ++index)
        if (signals[index]->set.load(std::memory_order_acquire)) return index;
    return -1;
}

// Sleeps until poked or the deadline; false once the deadline has passed.
bool sleepUntilPoked(Waiter& waiter, uint64_t deadlineNs) {
    pthread_mutex_lock(&waiter.mutex);
    int result = 0;
    while (!waiter.poked && result != ETIMEDOUT)
        result = posix::waitUntil(&waiter.woken, &waiter.mutex, deadlineNs);
    const bool poked = waiter.poked;
    waiter.poked = false;
    pthread_mutex_unlock(&waiter.mutex);
    return poked || !posix::hasPassed(deadlineNs);
}

// Waits for any of up to two signals: the lowest set index, or a time-out.
int32_t waitForAny(Signal* const* signals, int count, uint32_t ms) {
    for (int index = 0; index < count; ++index)
        if (signals[index] == nullptr) return platform::kWaitFailed;
    int found = firstSet(signals, count);
    if (found >= 0 || ms == 0) return found >= 0 ? found : platform::kWaitTimeout;

    const uint64_t deadline = posix::deadlineAfterMs(ms);
    Waiter waiter;
    if (!posix::initMonotonicCondition(&waiter.woken)) return platform::kWaitFailed;
    Registration entries[2];
    for (int index = 0; index < count; ++index) {
        entries[index].waiter = &waiter;
        enlist(signals[index], &entries[index]);
    }
    // A signal set and reset again before this thread looks was not set for
    // it: the wait goes on, as after any other spurious wake-up.
    for (found = firstSet(signals, count); found < 0; found = firstSet(signals, count))
        if (!sleepUntilPoked(waiter, deadline)) break;
    if (found < 0) found = firstSet(signals, count);
    for (int index = 0; index < count; ++index) withdraw(signals[index], &entries[index]);
    pthread_cond_destroy(&waiter.woken);
    return found >= 0 ? found : platform::kWaitTimeout;
}

}  // namespace

Signal* signalCreate() { return new (std::nothrow) Signal; }

void signalSet(Signal* signal) {
    if (signal == nullptr) return;
    pthread_mutex_lock(&signal->mutex);
    signal->set.store(true, std::memory_order_release);
    for (Registration* entry = signal->waiters; entry != nullptr; entry = entry->next) poke(entry->waiter);
    pthread_mutex_unlock(&signal->mutex);
}

void signalReset(Signal* signal) {
    if (signal != nullptr) signal->set.store(false, std::memory_order_release);
}

bool signalIsSet(Signal* signal) {
    return signal != nullptr && signal->set.load(std::memory_order_acquire);
}

int32_t signalWait(Signal* signal, uint32_t ms) {
    Signal* const signals[1] = {signal};
    return waitForAny(signals, 1, ms);
}

int32_t signalWaitEither(Signal* first, Signal* second, uint32_t ms) {
    Signal* const signals[2] = {first, second};
    return waitForAny(signals, 2, ms);
}

void signalClose(Signal* signal) {
    if (signal == nullptr) return;
    pthread_mutex_destroy(&signal->mutex);
    delete signal;
}

}  // namespace juxhid::os
