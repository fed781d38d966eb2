// Threads. The record is shared by the handle and the running thread, and
// whichever of the two lets go last frees it: a handle given back while the
// thread still runs leaves the thread to clean up after itself.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>

#include "platform/os.h"
#include "platform/posix/monotonic.h"

namespace juxhid::os {

struct Thread {
    ThreadRoutine routine = nullptr;
    void* argument = nullptr;
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t endedCondition;
    bool ended = false;
    std::atomic<int> holders{2};  // the handle and the thread itself
};

namespace {

// Host callbacks run on the library's worker threads, and sanitizer builds
// need far more stack than the library asks for, so no thread gets less
// than the system's default for new threads, and never less than 1 MiB.
constexpr size_t kStackFloorBytes = size_t{1} << 20;

size_t stackBytesFor(size_t asked) {
    static const size_t systemDefault = [] {
        size_t bytes = 0;
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) == 0) {
            pthread_attr_getstacksize(&attributes, &bytes);
            pthread_attr_destroy(&attributes);
        }
        return bytes;
    }();
    return std::max({asked, systemDefault, kStackFloorBytes});
}

thread_local const Thread* currentThread = nullptr;

void letGo(Thread* thread) {
    if (thread->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    pthread_cond_destroy(&thread->endedCondition);
    pthread_mutex_destroy(&thread->mutex);
    delete thread;
}

void* runThread(void* record) {
    Thread* thread = static_cast<Thread*>(record);
    currentThread = thread;
    thread->routine(thread->argument);
    currentThread = nullptr;
    pthread_mutex_lock(&thread->mutex);
    thread->ended = true;
    pthread_cond_broadcast(&thread->endedCondition);
    pthread_mutex_unlock(&thread->mutex);
    letGo(thread);
    return nullptr;
}

bool launchDetached(Thread* thread, size_t stackBytes) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_t id;
    const bool ok = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
                    pthread_attr_setstacksize(&attributes, stackBytesFor(stackBytes)) == 0 &&
                    pthread_create(&id, &attributes, runThread, thread) == 0;
    pthread_attr_destroy(&attributes);
    return ok;
}

}  // namespace

Thread* threadStart(ThreadRoutine routine, void* argument, size_t stackBytes) {
    if (routine == nullptr) return nullptr;
    Thread* thread = new (std::nothrow) Thread;
    if (thread == nullptr) return nullptr;
    thread->routine = routine;
    thread->argument = argument;
    if (!posix::initMonotonicCondition(&thread->endedCondition)) {
        delete thread;
        return nullptr;
    }
    if (!launchDetached(thread, stackBytes)) {
        pthread_cond_destroy(&thread->endedCondition);
        delete thread;
        return nullptr;
    }
    return thread;
}

int32_t threadWait(Thread* thread, uint32_t ms) {
    if (thread == nullptr) return platform::kWaitFailed;
    const uint64_t deadline = posix::deadlineAfterMs(ms);
    pthread_mutex_lock(&thread->mutex);
    int result = 0;
    while (!thread->ended && result != ETIMEDOUT)
        result = posix::waitUntil(&thread->endedCondition, &thread->mutex, deadline);
    const bool ended = thread->ended;
    pthread_mutex_unlock(&thread->mutex);
    return ended ? platform::kWaitAcquired : platform::kWaitTimeout;
}

bool threadIsCurrent(const Thread* thread) { return thread != nullptr && thread == currentThread; }

void threadRelease(Thread* thread) {
    if (thread != nullptr) letGo(thread);
}

}  // namespace juxhid::os
