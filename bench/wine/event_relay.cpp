#include "wine/event_relay.h"

#include <windows.h>


#include "paths/handover_relay.h"

namespace juxhid::bench {
namespace {

// One hand-over point: the newest stamp, whether it is unread, and an
// auto-reset event that wakes the one thread taking from it.
class EventHandover {
public:
    EventHandover() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) { InitializeCriticalSection(&lock_); }
    ~EventHandover() {
        CloseHandle(event_);
        DeleteCriticalSection(&lock_);
    }
    EventHandover(const EventHandover&) = delete;
    EventHandover& operator=(const EventHandover&) = delete;

    bool ok() const { return event_ != nullptr; }

    void put(uint64_t stamp) {
        EnterCriticalSection(&lock_);
        stamp_ = stamp;
        pending_ = true;
        LeaveCriticalSection(&lock_);
        SetEvent(event_);
    }

    // Waits for an unread stamp; false once closed with nothing unread.
    bool take(uint64_t& stamp) {
        for (;;) {
            EnterCriticalSection(&lock_);
            const bool pending = pending_;
            const bool closed = closed_;
            pending_ = false;
            stamp = stamp_;
            LeaveCriticalSection(&lock_);
            if (pending) return true;
            if (closed || WaitForSingleObject(event_, INFINITE) != WAIT_OBJECT_0) return false;
        }
    }

    void close() {
        EnterCriticalSection(&lock_);
        closed_ = true;
        LeaveCriticalSection(&lock_);
        SetEvent(event_);
    }

private:
    HANDLE event_;
    CRITICAL_SECTION lock_;
    uint64_t stamp_ = 0;
    bool pending_ = false;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<Relay> startEventRelay(double rate, uint64_t total, LatencyRun& result) {
    return std::make_unique<HandoverRelay<EventHandover>>(rate, total, result);
}

}  // namespace juxhid::bench
