// The floor of the callback path, built as that path is: the sender hands a
// stamped item over and wakes a relay thread; the relay hands the newest item
// on and wakes the receiver, which records how long the item took. Items
// handed over while a thread is busy merge into its next wake-up, as reports
// do in the library.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "paths/callback_latency.h"
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

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t stamp_ = 0;
    bool pending_ = false;
    bool closed_ = false;
};

}  // namespace

void measureWakeupFloor(double rate, double seconds, LatencyRun& result) {
    Handover toRelay;
    Handover toReceiver;
    std::thread relay([&] {
        uint64_t stamp = 0;
        while (toRelay.take(stamp)) toReceiver.put(stamp);
        toReceiver.close();
    });
    std::thread receiver([&] {
        uint64_t stamp = 0;
        while (toReceiver.take(stamp)) {
            result.samples.add(nowNs() - stamp);
            ++result.calls;
        }
    });
    tightenTimerSlack();
    const std::atomic<bool> never{false};
    const Pacer pacer(rate, static_cast<uint64_t>(rate * seconds));
    result.delivered = pacer.run([&](uint64_t) { toRelay.put(nowNs()); }, never);
    toRelay.close();
    relay.join();
    receiver.join();
}

}  // namespace juxhid::bench
