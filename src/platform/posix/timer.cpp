// One-shot timers, served by one thread that sleeps to the earliest
// deadline (absolute, monotonic) and runs each routine with the service's
// mutex released, so a routine may schedule or cancel timers itself.
//
// Each start of the service thread is a new generation; shutdown ends the
// current one. A thread of an ended generation, still inside a routine
// (shutdown called from a routine), leaves as soon as it returns, while a
// later schedule may already have started the next generation.
#include <pthread.h>

#include <map>
#include <new>
#include <set>
#include <utility>

#include "platform/os.h"
#include "platform/posix/monotonic.h"

namespace juxhid::os {
namespace {

struct TimerService {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed;
    std::set<std::pair<uint64_t, uint32_t>> byDeadline;  // (deadline, id)
    std::map<uint32_t, std::pair<uint64_t, TimerRoutine>> pending;  // id -> (deadline, routine)
    uint32_t lastId = 0;
    uint64_t generation = 0;
    bool running = false;
    pthread_t thread{};

    TimerService() { posix::initMonotonicCondition(&changed); }
};

// Never destroyed: the library's unload runs from an ELF destructor, after
// the process's static objects may already be gone. It lives in the
// library's own storage, not on the heap, so a host that loads and unloads
// the library again and again loses nothing.
TimerService& service() {
    alignas(TimerService) static unsigned char storage[sizeof(TimerService)];
    static TimerService* const instance = new (storage) TimerService;
    return *instance;
}

uint32_t nextId(TimerService& timers) {
    do {
        ++timers.lastId;
    } while (timers.lastId == 0 || timers.pending.count(timers.lastId) != 0);
    return timers.lastId;
}

// Takes the entry that is due, if any; otherwise sleeps until the earliest
// deadline or a change. Called with the mutex held.
bool takeDue(TimerService& timers, uint32_t* id, TimerRoutine* routine) {
    if (timers.byDeadline.empty()) {
        pthread_cond_wait(&timers.changed, &timers.mutex);
        return false;
    }
    const auto [deadline, earliest] = *timers.byDeadline.begin();
    if (!posix::hasPassed(deadline)) {
        posix::waitUntil(&timers.changed, &timers.mutex, deadline);
        return false;
    }
    *id = earliest;
    *routine = timers.pending[earliest].second;
    timers.byDeadline.erase(timers.byDeadline.begin());
    timers.pending.erase(earliest);
    return true;
}

void* serve(void* generationAddress) {
    TimerService& timers = service();
    const uint64_t generation = *static_cast<uint64_t*>(generationAddress);
    delete static_cast<uint64_t*>(generationAddress);
    pthread_mutex_lock(&timers.mutex);
    while (timers.generation == generation) {
        uint32_t id = 0;
        TimerRoutine routine = nullptr;
        if (!takeDue(timers, &id, &routine)) continue;
        pthread_mutex_unlock(&timers.mutex);
        routine(id);
        pthread_mutex_lock(&timers.mutex);
    }
    pthread_mutex_unlock(&timers.mutex);
    return nullptr;
}

// Called with the mutex held.
bool ensureRunning(TimerService& timers) {
    if (timers.running) return true;
    uint64_t* generation = new uint64_t(timers.generation + 1);
    timers.generation = *generation;
    if (pthread_create(&timers.thread, nullptr, serve, generation) != 0) {
        delete generation;
        return false;
    }
    timers.running = true;
    return true;
}

}  // namespace

uint32_t timerSchedule(uint32_t delayMs, uint32_t /*resolutionMs: always the finest*/,
                       TimerRoutine routine) {
    if (routine == nullptr) return 0;
    TimerService& timers = service();
    const uint64_t deadline = posix::deadlineAfterMs(delayMs);
    pthread_mutex_lock(&timers.mutex);
    uint32_t id = 0;
    if (ensureRunning(timers)) {
        id = nextId(timers);
        timers.pending[id] = {deadline, routine};
        timers.byDeadline.emplace(deadline, id);
        pthread_cond_broadcast(&timers.changed);
    }
    pthread_mutex_unlock(&timers.mutex);
    return id;
}

bool timerCancel(uint32_t timerId) {
    TimerService& timers = service();
    pthread_mutex_lock(&timers.mutex);
    const auto entry = timers.pending.find(timerId);
    const bool found = entry != timers.pending.end();
    if (found) {
        timers.byDeadline.erase({entry->second.first, timerId});
        timers.pending.erase(entry);
        pthread_cond_broadcast(&timers.changed);
    }
    pthread_mutex_unlock(&timers.mutex);
    return found;
}

// Entries still pending are dropped: the service is ending for good, or
// until the next schedule starts it again.
void timerShutdown() {
    TimerService& timers = service();
    pthread_mutex_lock(&timers.mutex);
    if (!timers.running) {
        pthread_mutex_unlock(&timers.mutex);
        return;
    }
    ++timers.generation;
    timers.running = false;
    const pthread_t thread = timers.thread;
    timers.byDeadline.clear();
    timers.pending.clear();
    pthread_cond_broadcast(&timers.changed);
    pthread_mutex_unlock(&timers.mutex);
    // From inside a routine the thread cannot wait for itself; it leaves once
    // the routine returns.
    if (pthread_equal(thread, pthread_self())) pthread_detach(thread);
    else pthread_join(thread, nullptr);
}

}  // namespace juxhid::os
