// A deadlock must fail the run with a message, not hang it until the test
// runner's time limit: every soak thread beats a heartbeat, and the watchdog
// aborts the process when one stops beating for too long.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace juxhid::test::soak {

inline int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Heartbeat {
    std::string name;
    std::atomic<int64_t> lastMs{nowMs()};
    std::atomic<const char*> doing{"starting"};
    std::atomic<bool> done{false};

    void beat(const char* what) {
        doing = what;
        lastMs = nowMs();
    }
};

class Watchdog {
public:
    Watchdog(std::vector<Heartbeat*> hearts, int64_t stallLimitMs)
        : hearts_(std::move(hearts)), stallLimitMs_(stallLimitMs), thread_([this] { watch(); }) {}
    ~Watchdog() {
        stop_ = true;
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void watch() {
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (const Heartbeat* heart : hearts_) {
                if (heart->done || nowMs() - heart->lastMs <= stallLimitMs_) continue;
                std::fprintf(stderr, "watchdog: %s has not moved for %lld ms, last doing %s; deadlock?\n",
                             heart->name.c_str(), static_cast<long long>(nowMs() - heart->lastMs),
                             heart->doing.load());
                for (const Heartbeat* other : hearts_)
                    std::fprintf(stderr, "  %s: %s, %lld ms ago%s\n", other->name.c_str(), other->doing.load(),
                                 static_cast<long long>(nowMs() - other->lastMs), other->done ? " (done)" : "");
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    std::vector<Heartbeat*> hearts_;
    int64_t stallLimitMs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace juxhid::test::soak
