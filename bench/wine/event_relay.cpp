#include "wine/event_relay.h"

#include <windows.h>

#include <atomic>
#include <limits>
#include <thread>

#include "support/pacer.h"

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

class EventRelay final : public Relay {
public:
    EventRelay(double rate, uint64_t total, LatencyRun& result)
        : pacer_(rate, total == 0 ? std::numeric_limits<uint64_t>::max() / 2 : total) {
        if (!toRelay_.ok() || !toReceiver_.ok()) {
            result.failed = true;
            done_ = true;
            return;
        }
        relay_ = std::thread([this] {
            uint64_t stamp = 0;
            while (toRelay_.take(stamp)) toReceiver_.put(stamp);
            toReceiver_.close();
        });
        receiver_ = std::thread([this, &result] {
            uint64_t stamp = 0;
            while (toReceiver_.take(stamp)) {
                result.samples.add(nowNs() - stamp);
                ++result.calls;
            }
        });
        sender_ = std::thread([this] {
            pacer_.run([this](uint64_t n) {
                toRelay_.put(nowNs());
                handed_.store(n + 1, std::memory_order_release);
            }, stop_);
            done_ = true;
        });
    }
    ~EventRelay() override { stop(); }

    uint64_t handedOver() const override { return handed_.load(std::memory_order_acquire); }
    bool senderDone() const override { return done_.load(); }
    void stop() override {
        if (!sender_.joinable()) return;
        stop_ = true;
        sender_.join();
        toRelay_.close();
        relay_.join();
        receiver_.join();
    }

private:
    Pacer pacer_;
    EventHandover toRelay_;
    EventHandover toReceiver_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<uint64_t> handed_{0};
    std::thread relay_;
    std::thread receiver_;
    std::thread sender_;
};

}  // namespace

std::unique_ptr<Relay> startEventRelay(double rate, uint64_t total, LatencyRun& result) {
    return std::make_unique<EventRelay>(rate, total, result);
}

}  // namespace juxhid::bench
