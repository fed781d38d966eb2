// The relay's three threads, whatever hands the stamps over between them:
// a sender paced at a fixed rate, a relay that passes the newest stamp on,
// and a receiver that records how long each took. A Handover has put(stamp),
// take(stamp) (false once closed with nothing unread), close(), and ok()
// (false when it could not be made).
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>

#include "paths/relay.h"
#include "support/pacer.h"

namespace juxhid::bench {

template <typename Handover>
class HandoverRelay final : public Relay {
public:
    HandoverRelay(double rate, uint64_t total, LatencyRun& result)
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
            tightenTimerSlack();
            pacer_.run([this](uint64_t n) {
                toRelay_.put(nowNs());
                handed_.store(n + 1, std::memory_order_release);
            }, stop_);
            done_ = true;
        });
    }
    ~HandoverRelay() override { stop(); }

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
    Handover toRelay_;
    Handover toReceiver_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<uint64_t> handed_{0};
    std::thread relay_;
    std::thread receiver_;
    std::thread sender_;
};

}  // namespace juxhid::bench
