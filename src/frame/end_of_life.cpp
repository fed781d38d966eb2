#include "frame/end_of_life.h"

#include <atomic>

#include "platform/platform.h"

namespace juxhid {
namespace {

// The top bit says the gate is closed; the rest counts the calls inside.
// Constant-initialised, without a destructor: the unload runs among the
// process's exit handlers.
constexpr uint32_t kClosed = 0x80000000u;
constexpr uint32_t kPollMs = 1;
std::atomic<uint32_t> gate{0};

}  // namespace

void openTheGate() { gate.store(0); }

bool enterGate() {
    if ((gate.fetch_add(1, std::memory_order_acq_rel) & kClosed) == 0) return true;
    gate.fetch_sub(1, std::memory_order_acq_rel);
    return false;
}

void leaveGate() { gate.fetch_sub(1, std::memory_order_acq_rel); }

bool endOfLifeBegun() { return (gate.load(std::memory_order_acquire) & kClosed) != 0; }

// The calls inside are bounded by their own waits (a lock, a close of an
// earlier opening): none of them calls the host.
bool closeTheGate(uint32_t& budgetMs) {
    gate.fetch_or(kClosed, std::memory_order_acq_rel);
    while ((gate.load(std::memory_order_acquire) & ~kClosed) != 0) {
        if (budgetMs < kPollMs) return false;
        platform::sleepMs(kPollMs);
        budgetMs -= kPollMs;
    }
    return true;
}

}  // namespace juxhid
