// The exported watch functions and the table behind their ids. An id names
// a watch only while it runs: a stopped watch leaves the table at once, and
// ids are not reused soon (slot plus a turn counter), so a stale id stops
// nothing else.
#include <mutex>
#include <new>

#include "juxhid_status.h"
#include "watch/watch.h"

namespace juxhid::watch {
namespace {

// How long a stop waits for a callback that is running.
constexpr uint32_t kStopWaitMs = 500;
constexpr uint32_t kKnownFlags = JUXHID_WATCH_PRESENT;
constexpr int32_t kTurns = 1 << 20;

void stopEveryWatch();

struct Table {
    std::mutex mutex;  // guards slots and turn; held only to claim, publish or remove
    Watch* slots[JUXHID_MAX_WATCHES] = {};
    bool reserved[JUXHID_MAX_WATCHES] = {};
    int32_t turn = 0;
    // No destructor: the watches the host left running are stopped by the
    // library's own unload (see deviceWatchesStopAtUnload), which must come
    // before the code goes and must not run before the unload that joins
    // the library's other threads.
};

// Built when the library loads, before any call can reach it; gone when it unloads.
Table gTable;

Table& table() { return gTable; }

int32_t reserveSlot() {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.mutex);
    for (int32_t slot = 0; slot < JUXHID_MAX_WATCHES; ++slot) {
        if (t.reserved[slot]) continue;
        t.reserved[slot] = true;
        return slot;
    }
    return -1;
}

void freeSlot(int32_t slot) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.mutex);
    t.reserved[slot] = false;
    t.slots[slot] = nullptr;
}

int32_t publish(int32_t slot, Watch* watch) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.mutex);
    t.turn = t.turn % kTurns + 1;
    watch->id = t.turn * JUXHID_MAX_WATCHES + slot;
    t.slots[slot] = watch;
    return watch->id;
}

// Takes the running watch with that id out of the table; null if none.
Watch* withdraw(int32_t id) {
    if (id <= 0) return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.mutex);
    const int32_t slot = id % JUXHID_MAX_WATCHES;
    Watch* watch = t.slots[slot];
    if (watch == nullptr || watch->id != id) return nullptr;
    t.slots[slot] = nullptr;
    t.reserved[slot] = false;
    return watch;
}

// A watch that never ran: the worker's and the table's references are
// dropped here with the starter's.
int32_t abandon(int32_t slot, Watch* watch, int32_t status) {
    letGo(watch);
    letGo(watch);
    letGo(watch);
    freeSlot(slot);
    return status;
}

int32_t startWorker(int32_t slot, Watch* watch, uint32_t flags, int32_t* id) {
    uint32_t error = 0;
    watch->source = platform::deviceWatchOpen((flags & JUXHID_WATCH_PRESENT) != 0, &error);
    if (watch->source == nullptr) return abandon(slot, watch, JUXHID_WATCH_NO_EVENTS);
    watch->started = platform::signalCreate();
    if (watch->started == nullptr) return abandon(slot, watch, JUXHID_WATCH_NO_THREAD);
    watch->thread = platform::threadStart(runWatch, watch, platform::ThreadRole::Callback);
    if (watch->thread == nullptr) return abandon(slot, watch, JUXHID_WATCH_NO_THREAD);
    *id = publish(slot, watch);
    // The first callback may stop the watch by its id: it runs only now.
    platform::signalSet(watch->started);
    letGo(watch);
    return JUXHID_OK;
}

int32_t stop(Watch* watch) {
    watch->stopping.store(true);
    platform::Thread* thread = watch->thread;
    int32_t status = JUXHID_OK;
    // From inside its own callback: the worker ends when the callback returns.
    if (!platform::threadIsCurrent(thread) &&
        platform::threadWait(thread, kStopWaitMs) != platform::kWaitAcquired)
        status = JUXHID_WATCH_CALLBACK_RUNNING;
    platform::threadRelease(thread);
    letGo(watch);
    return status;
}

// Takes whatever watch runs in the slot out of the table; null if none.
Watch* withdrawSlot(int32_t slot) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.mutex);
    Watch* watch = t.slots[slot];
    if (watch == nullptr) return nullptr;
    t.slots[slot] = nullptr;
    t.reserved[slot] = false;
    return watch;
}

void stopEveryWatch() {
    for (int32_t slot = 0; slot < JUXHID_MAX_WATCHES; ++slot) {
        if (Watch* watch = withdrawSlot(slot)) stop(watch);
    }
}

}  // namespace

}  // namespace juxhid::watch

using namespace juxhid::watch;

extern "C" JUXHID_API int32_t JUXHID_CALL StartDeviceWatch(uint32_t vendorId, uint32_t flags,
                                                          JuxhidWatchCallback callback,
                                                          void* context, int32_t* watch) {
    if (callback == nullptr || watch == nullptr || (flags & ~kKnownFlags) != 0)
        return JUXHID_WATCH_BAD_ARGUMENT;
    juxhid::platform::deviceWatchesStopAtUnload(stopEveryWatch);
    const int32_t slot = reserveSlot();
    if (slot < 0) return JUXHID_WATCH_TOO_MANY;
    Watch* record = new (std::nothrow) Watch;
    if (record == nullptr) {
        freeSlot(slot);
        return JUXHID_WATCH_NO_THREAD;
    }
    // A vendor id above 16 bits matches no device, as in EnumerateJUX.
    record->vendorId = vendorId;
    record->callback = callback;
    record->context = context;
    return startWorker(slot, record, flags, watch);
}

extern "C" JUXHID_API int32_t JUXHID_CALL StopDeviceWatch(int32_t watch) {
    Watch* record = withdraw(watch);
    if (record == nullptr) return JUXHID_WATCH_NOT_RUNNING;
    return stop(record);
}
