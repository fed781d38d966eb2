// The library's threads, started through a trampoline that tags each with
// its role (so faults can aim at readers or callback workers) and counts it
// until it has ended and its handle has been given back, whichever is last.
#include <atomic>

#include "platform/os.h"
#include "platform/sim/bus.h"
#include "platform/sim/counts.h"
#include "platform/sim/faults.h"
#include "platform/sim/watch_feed.h"

namespace juxhid::platform {

struct Thread {
    ThreadRoutine routine;
    void* argument;
    JuxsimThread role;
    os::Thread* thread = nullptr;
    std::atomic<int> holders{2};  // the handle and the running thread
};

namespace {

// What the library asks for; the OS layer raises it to a safe size.
constexpr size_t kWorkerStackBytes = 2048;

thread_local const Thread* currentThread = nullptr;

void letGo(Thread* record) {
    if (record->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    delete record;
    --sim::liveCounts().threads;
}

void runTagged(void* argument) {
    Thread* record = static_cast<Thread*>(argument);
    currentThread = record;
    sim::tagCurrentThread(record->role);
    record->routine(record->argument);
    sim::tagCurrentThread(JUXSIM_THREAD_ANY);
    currentThread = nullptr;
    letGo(record);
}

JuxsimThread classOf(ThreadRole role) {
    return role == ThreadRole::Reader ? JUXSIM_THREAD_READER : JUXSIM_THREAD_CALLBACK;
}

}  // namespace

Thread* threadStart(ThreadRoutine routine, void* argument, ThreadRole role) {
    sim::FaultOutcome fault{};
    if (sim::faultTakes(JUXSIM_CALL_THREAD_START, 0, &fault)) return nullptr;
    auto* record = new Thread{routine, argument, classOf(role)};
    ++sim::liveCounts().threads;
    record->thread = os::threadStart(runTagged, record, kWorkerStackBytes);
    if (record->thread == nullptr) {
        delete record;
        --sim::liveCounts().threads;
        return nullptr;
    }
    return record;
}

int32_t threadWait(Thread* thread, uint32_t ms) {
    if (thread == nullptr) return kWaitFailed;
    return os::threadWait(thread->thread, ms);
}

// Answered from the trampoline's own tag: the OS handle is stored only after
// the thread may already be running.
bool threadIsCurrent(const Thread* thread) { return thread != nullptr && thread == currentThread; }

void threadRelease(Thread* thread) {
    if (thread == nullptr) return;
    os::threadRelease(thread->thread);
    letGo(thread);
}

// The bus's own replay threads run code that goes with the library too.
void threadWaitForAll(uint32_t ms) {
    sim::stopEveryReplay();
    sim::stopWatchesForUnload();
    os::threadWaitForAll(ms);
}

}  // namespace juxhid::platform
