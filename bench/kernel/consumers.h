// The three ways a run's reports are taken off the kernel's HID stack: the
// floor (a bare thread per hidraw node blocked in read(), nothing else), the
// library's callback in every-wake-up mode, and a host thread polling
// ReadData. Each records into the run's tally from the moment it is made
// until it is destroyed; nothing of it runs after its destructor.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel/run_tally.h"

namespace juxhid::bench::kernel {

// How long the polling host sleeps when no interface has an unread report:
// what a host that polls at a screen's pace or a game loop's would choose.
inline constexpr auto kPollPause = std::chrono::milliseconds(1);

class Consumer {
public:
    virtual ~Consumer() = default;
    virtual bool ok() const = 0;
};

// A thread per node in read(); ended by a signal that interrupts the read.
class BareReaders : public Consumer {
public:
    BareReaders(const std::vector<std::string>& nodes, RunTally& tally);
    ~BareReaders() override;
    bool ok() const override { return opened_; }

private:
    void readUntilStopped(int fd);

    RunTally& tally_;
    bool opened_ = true;
    std::atomic<bool> stop_{false};
    std::vector<int> fds_;
    std::vector<std::thread> threads_;
    std::atomic<uint32_t> running_{0};
};

// The library's indices of the run's devices 0 .. count-1, found by their
// product numbers; empty when one is missing.
std::vector<int32_t> libraryIndices(uint32_t count);

// SetupInterface on each index; CloseInterface on each when destroyed.
class Opening {
public:
    explicit Opening(std::vector<int32_t> indices);
    ~Opening();
    Opening(const Opening&) = delete;
    Opening& operator=(const Opening&) = delete;
    bool ok() const { return ok_; }
    const std::vector<int32_t>& indices() const { return indices_; }

private:
    std::vector<int32_t> indices_;
    size_t opened_ = 0;
    bool ok_ = true;
};

class CallbackConsumer : public Consumer {
public:
    CallbackConsumer(const std::vector<int32_t>& indices, RunTally& tally);
    ~CallbackConsumer() override;
    bool ok() const override { return ok_; }

private:
    std::unique_ptr<Opening> opening_;
    bool ok_ = false;
};

class PollingConsumer : public Consumer {
public:
    PollingConsumer(const std::vector<int32_t>& indices, RunTally& tally);
    ~PollingConsumer() override;
    bool ok() const override { return opening_.ok() && !failed_.load(); }

private:
    void poll();

    Opening opening_;
    RunTally& tally_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace juxhid::bench::kernel
