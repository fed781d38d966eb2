// The caller's duties as a lock: calls on an index share it, opening and
// closing that index (or listing, for the whole-library lock) hold it alone.
// Writers go first once they wait, so the owner thread is never starved by a
// stream of calls.
#pragma once

#include <condition_variable>
#include <mutex>

namespace juxhid::test::soak {

class CallerDutyLock {
public:
    void lock_shared() {
        std::unique_lock<std::mutex> hold(mutex_);
        changed_.wait(hold, [&] { return !exclusive_ && waitingExclusive_ == 0; });
        ++shared_;
    }
    void unlock_shared() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (--shared_ == 0) changed_.notify_all();
    }
    void lock() {
        std::unique_lock<std::mutex> hold(mutex_);
        ++waitingExclusive_;
        changed_.wait(hold, [&] { return !exclusive_ && shared_ == 0; });
        --waitingExclusive_;
        exclusive_ = true;
    }
    // For callbacks, which must never wait for a thread that may be waiting
    // for them.
    bool try_lock_shared() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (exclusive_ || waitingExclusive_ != 0) return false;
        ++shared_;
        return true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (exclusive_ || shared_ != 0) return false;
        exclusive_ = true;
        return true;
    }
    void unlock() {
        std::lock_guard<std::mutex> hold(mutex_);
        exclusive_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int shared_ = 0;
    int waitingExclusive_ = 0;
    bool exclusive_ = false;
};

}  // namespace juxhid::test::soak
