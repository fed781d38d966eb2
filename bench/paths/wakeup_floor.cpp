// The floor of the callback path, built as that path is: the sender hands a
// stamped item over and wakes a relay thread; the relay hands the newest item
// on and wakes the receiver, which records how long the item took. Items
// handed over while a thread is busy merge into its next wake-up, as reports
// do in the library.
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "paths/callback_latency.h"
#include "paths/handover_relay.h"
#include "paths/relay.h"
#include "support/pacer.h"

namespace juxhid::bench {
namespace {

// One hand-over point: the newest stamp and whether it is unread.
class Handover {
public:
    void put(uint64_t stamp) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            stamp_ = stamp;
            pending_ = true;
        }
        wake_.notify_one();
    }

    // Waits for an unread stamp; false once closed with nothing unread.
    bool take(uint64_t& stamp) {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] { return pending_ || closed_; });
        if (!pending_) return false;
        pending_ = false;
        stamp = stamp_;
        return true;
    }

    void close() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            closed_ = true;
        }
        wake_.notify_one();
    }

    bool ok() const { return true; }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t stamp_ = 0;
    bool pending_ = false;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<Relay> startConditionRelay(double rate, uint64_t total, LatencyRun& result) {
    return std::make_unique<HandoverRelay<Handover>>(rate, total, result);
}

void measureRelayFloor(StartRelay start, double rate, double seconds, LatencyRun& result) {
    const uint64_t total = static_cast<uint64_t>(rate * seconds);
    std::unique_ptr<Relay> relay = start(rate, total, result);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    while (!relay->senderDone()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    relay->stop();
    result.delivered = relay->handedOver();
}

void measureWakeupFloor(double rate, double seconds, LatencyRun& result) {
    measureRelayFloor(startConditionRelay, rate, seconds, result);
}

}  // namespace juxhid::bench
