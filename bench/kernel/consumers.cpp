#include "kernel/consumers.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "juxhid.h"
#include "juxhid_status.h"
#include "kernel/device_side.h"

namespace juxhid::bench::kernel {
namespace {

constexpr int kStopSignal = SIGUSR1;

// Interrupts a read() and nothing else: installed without SA_RESTART.
void installStopSignal() {
    struct sigaction action{};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(kStopSignal, &action, nullptr);
}

// The callback is a plain function; the run it records for is found here.
std::atomic<RunTally*> callbackTally{nullptr};

int32_t JUXHID_CALL onReport(uint8_t* payload) {
    const uint64_t arrived = monotonicNs();
    if (RunTally* tally = callbackTally.load(std::memory_order_acquire)) tally->record(payload, arrived);
    return 1;
}

}  // namespace

BareReaders::BareReaders(const std::vector<std::string>& nodes, RunTally& tally) : tally_(tally) {
    installStopSignal();
    for (const std::string& node : nodes) {
        const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "measure: %s: %s\n", node.c_str(), std::strerror(errno));
            opened_ = false;
            continue;
        }
        fds_.push_back(fd);
        ++running_;
        threads_.emplace_back([this, fd] { readUntilStopped(fd); });
    }
}

// A signal sent before a thread is back in read() is lost: send until all left.
BareReaders::~BareReaders() {
    stop_ = true;
    for (int tries = 0; running_.load() > 0 && tries < 1000; ++tries) {
        for (std::thread& thread : threads_) pthread_kill(thread.native_handle(), kStopSignal);
        usleep(2000);
    }
    for (std::thread& thread : threads_) thread.join();
    for (const int fd : fds_) close(fd);
}

void BareReaders::readUntilStopped(int fd) {
    uint8_t report[64];
    while (!stop_.load(std::memory_order_relaxed)) {
        const ssize_t got = read(fd, report, sizeof report);
        if (got >= static_cast<ssize_t>(kPayloadBytes)) tally_.record(report, monotonicNs());
        else if (got < 0 && errno != EINTR) break;
    }
    --running_;
}

std::vector<int32_t> libraryIndices(uint32_t count) {
    DeviceSummary listed[JUXHID_MAX_DEVICES] = {};
    int32_t found = 0;
    if (EnumerateJUX(kVendor, listed, &found) != JUXHID_OK) return {};
    std::vector<int32_t> indices;
    for (uint32_t device = 0; device < count; ++device) {
        const auto at = std::find_if(listed, listed + found,
                                     [&](const DeviceSummary& d) { return d.ProductID == kFirstProduct + device; });
        if (at == listed + found) return {};
        indices.push_back(at->Index);
    }
    return indices;
}

Opening::Opening(std::vector<int32_t> indices) : indices_(std::move(indices)) {
    for (; opened_ < indices_.size(); ++opened_) {
        const int32_t status = SetupInterface(indices_[opened_]);
        if (status != JUXHID_OK) {
            std::fprintf(stderr, "measure: SetupInterface(%d) answered %d\n", indices_[opened_], status);
            ok_ = false;
            return;
        }
    }
}

Opening::~Opening() {
    for (size_t i = 0; i < opened_; ++i) CloseInterface(indices_[i]);
}

CallbackConsumer::CallbackConsumer(const std::vector<int32_t>& indices, RunTally& tally)
    : opening_(std::make_unique<Opening>(indices)) {
    callbackTally.store(&tally, std::memory_order_release);
    ok_ = opening_->ok();
    for (const int32_t index : opening_->indices()) {
        if (!ok_) break;
        ok_ = SetDataCallback(index, 1, onReport) == JUXHID_OK;
    }
}

// CloseInterface ends every callback: only then may the tally go.
CallbackConsumer::~CallbackConsumer() {
    opening_.reset();
    callbackTally.store(nullptr, std::memory_order_release);
}

PollingConsumer::PollingConsumer(const std::vector<int32_t>& indices, RunTally& tally)
    : opening_(indices), tally_(tally) {
    if (opening_.ok()) thread_ = std::thread([this] { poll(); });
}

PollingConsumer::~PollingConsumer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void PollingConsumer::poll() {
    uint8_t report[1 + kPayloadBytes + 32];
    while (!stop_.load(std::memory_order_relaxed)) {
        bool tookAny = false;
        for (const int32_t index : opening_.indices()) {
            int32_t status;
            while ((status = ReadData(index, report)) == JUXHID_OK) {
                tally_.record(report + 1, monotonicNs());
                tookAny = true;
            }
            if (status != JUXHID_READ_EMPTY) failed_ = true;
        }
        if (!tookAny) std::this_thread::sleep_for(kPollPause);
    }
}

}  // namespace juxhid::bench::kernel
