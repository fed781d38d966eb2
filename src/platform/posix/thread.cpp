// Threads. The record is shared by the handle and the registry of live
// threads, and whichever of the two lets go last frees it: a handle given
// back while the thread still runs leaves the registry to clean up.
//
// A thread's routine returns into this file and then into the C library, so
// "the routine returned" is not yet "no code of the library runs on it".
// Only pthread_join tells that. Every thread is therefore joinable and
// registered: threads that have ended are joined when the next one starts,
// and unload joins every one still registered before the library goes.
//
// A thread can also end without its routine returning: a host's runtime may
// end it inside a callback (an interpreter shutting down ends foreign
// threads that try to enter it). The end is then marked by a cleanup handler
// that the thread runs on its own way out, so nobody waits for a routine
// that will never return. A thread that neither ends nor returns (parked
// for ever by its host) cannot be joined; unload waits for it only so long
// and then leaves it.
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
    pthread_t id{};
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t endedCondition;
    bool ended = false;
    std::atomic<int> holders{2};  // the handle and the registry
    Thread* nextLive = nullptr;   // the registry's list, under its mutex
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

// Every started thread not joined yet, as a list through the records: no
// object with a destructor and nothing on the heap, since unload runs among
// the exit handlers (static objects may be gone) and a library unloaded with
// dlclose must leave nothing behind.
pthread_mutex_t registryMutex = PTHREAD_MUTEX_INITIALIZER;
Thread* liveThreads = nullptr;

void letGo(Thread* thread) {
    if (thread->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    pthread_cond_destroy(&thread->endedCondition);
    pthread_mutex_destroy(&thread->mutex);
    delete thread;
}

bool hasEnded(Thread* thread) {
    pthread_mutex_lock(&thread->mutex);
    const bool ended = thread->ended;
    pthread_mutex_unlock(&thread->mutex);
    return ended;
}

// Takes out of the registry the threads that `pick` chooses, the calling
// thread never (it cannot join itself); answers them as a list.
Thread* takeFromRegistry(bool (*pick)(Thread*)) {
    Thread* taken = nullptr;
    pthread_mutex_lock(&registryMutex);
    for (Thread** link = &liveThreads; *link != nullptr;) {
        Thread* thread = *link;
        if (thread == currentThread || !pick(thread)) {
            link = &thread->nextLive;
            continue;
        }
        *link = thread->nextLive;
        thread->nextLive = taken;
        taken = thread;
    }
    pthread_mutex_unlock(&registryMutex);
    return taken;
}

void joinAll(Thread* threads) {
    while (threads != nullptr) {
        Thread* thread = threads;
        threads = thread->nextLive;
        pthread_join(thread->id, nullptr);
        letGo(thread);
    }
}

bool endsBefore(Thread* thread, uint64_t deadlineNs) {
    pthread_mutex_lock(&thread->mutex);
    int result = 0;
    while (!thread->ended && result != ETIMEDOUT)
        result = posix::waitUntil(&thread->endedCondition, &thread->mutex, deadlineNs);
    const bool ended = thread->ended;
    pthread_mutex_unlock(&thread->mutex);
    return ended;
}

// Joins each thread that ends before a shared deadline (a thread whose end is
// marked has only its last few instructions left); one that has not ended by
// then is detached and left: its record stays with it, since it still marks
// its end there, and nothing of it is released under it.
void joinAllUntil(Thread* threads, uint64_t deadlineNs) {
    while (threads != nullptr) {
        Thread* thread = threads;
        threads = thread->nextLive;
        if (endsBefore(thread, deadlineNs)) {
            pthread_join(thread->id, nullptr);
            letGo(thread);
        } else {
            pthread_detach(thread->id);
        }
    }
}

// Joining a thread whose routine has returned waits only for its last few
// instructions.
void joinEnded() { joinAll(takeFromRegistry(hasEnded)); }

// A program that uses the threads without the library's unload (a static
// link whose load hooks are not in it) leaves no ended thread unjoined at
// exit either.
__attribute__((destructor)) void joinEndedAtExit() { joinEnded(); }

void markEnded(void* record) {
    Thread* thread = static_cast<Thread*>(record);
    currentThread = nullptr;
    pthread_mutex_lock(&thread->mutex);
    thread->ended = true;
    pthread_cond_broadcast(&thread->endedCondition);
    pthread_mutex_unlock(&thread->mutex);
}

// The end is marked however the thread leaves: its routine returns, or it
// is ended inside the host's code (pthread_exit or a cancel unwinds through
// the cleanup handler).
void* runThread(void* record) {
    Thread* thread = static_cast<Thread*>(record);
    currentThread = thread;
    pthread_cleanup_push(markEnded, thread);
    thread->routine(thread->argument);
    pthread_cleanup_pop(1);
    return nullptr;
}

// Registered before it can run, so that a join at unload never misses it.
bool launch(Thread* thread, size_t stackBytes) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_mutex_lock(&registryMutex);
    const bool ok = pthread_attr_setstacksize(&attributes, stackBytesFor(stackBytes)) == 0 &&
                    pthread_create(&thread->id, &attributes, runThread, thread) == 0;
    if (ok) {
        thread->nextLive = liveThreads;
        liveThreads = thread;
    }
    pthread_mutex_unlock(&registryMutex);
    pthread_attr_destroy(&attributes);
    return ok;
}

}  // namespace

Thread* threadStart(ThreadRoutine routine, void* argument, size_t stackBytes) {
    if (routine == nullptr) return nullptr;
    joinEnded();
    Thread* thread = new (std::nothrow) Thread;
    if (thread == nullptr) return nullptr;
    thread->routine = routine;
    thread->argument = argument;
    if (!posix::initMonotonicCondition(&thread->endedCondition)) {
        delete thread;
        return nullptr;
    }
    if (!launch(thread, stackBytes)) {
        pthread_cond_destroy(&thread->endedCondition);
        delete thread;
        return nullptr;
    }
    return thread;
}

int32_t threadWait(Thread* thread, uint32_t ms) {
    if (thread == nullptr) return platform::kWaitFailed;
    return endsBefore(thread, posix::deadlineAfterMs(ms)) ? platform::kWaitAcquired
                                                           : platform::kWaitTimeout;
}

bool threadIsCurrent(const Thread* thread) { return thread != nullptr && thread == currentThread; }

void threadRelease(Thread* thread) {
    if (thread != nullptr) letGo(thread);
}

void threadWaitForAll(uint32_t ms) {
    const uint64_t deadline = posix::deadlineAfterMs(ms);
    joinAllUntil(takeFromRegistry([](Thread*) { return true; }), deadline);
}

}  // namespace juxhid::os
