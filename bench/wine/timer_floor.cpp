#include "wine/timer_floor.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <vector>

#include "support/pacer.h"

namespace juxhid::bench {
namespace {

struct Chain {
    UINT delayMs;
    UINT resolutionMs;
    uint32_t ticksLeft;
    uint64_t nominalNs;
    uint64_t previousNs;
    std::vector<uint64_t> lateness;  // reserved for every tick: the callback never allocates
    uint64_t early = 0;
    HANDLE finished;
    std::atomic<bool> failed{false};
    std::atomic<bool> abandoned{false};  // the waiter gave up: arm no more
};

void CALLBACK onTick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    const uint64_t now = nowNs();
    Chain& chain = *reinterpret_cast<Chain*>(user);
    const uint64_t gap = now - chain.previousNs;
    if (gap < chain.nominalNs) ++chain.early;
    if (chain.lateness.size() < chain.lateness.capacity())
        chain.lateness.push_back(gap > chain.nominalNs ? gap - chain.nominalNs : 0);
    chain.previousNs = now;
    if (--chain.ticksLeft == 0 || chain.abandoned.load() ||
        timeSetEvent(chain.delayMs, chain.resolutionMs, onTick, user, TIME_ONESHOT | TIME_CALLBACK_FUNCTION) == 0) {
        chain.failed = chain.ticksLeft != 0;
        SetEvent(chain.finished);
    }
}

}  // namespace

void measureTimerFloor(Interval interval, uint32_t ticks, TimerFloorRun& result) {
    const bool slow = interval == Interval::Slow;
    // On the heap: a chain whose timer never came back is left to it.
    Chain& chain = *new Chain;
    chain.delayMs = slow ? 50 : 5;
    chain.resolutionMs = slow ? 10 : 0;
    chain.ticksLeft = ticks;
    chain.nominalNs = static_cast<uint64_t>(chain.delayMs) * 1'000'000;
    chain.lateness.reserve(ticks);
    chain.finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (chain.finished == nullptr || ticks == 0) {
        result.failed = true;
        delete &chain;
        return;
    }
    chain.previousNs = nowNs();
    const DWORD_PTR user = reinterpret_cast<DWORD_PTR>(&chain);
    // Ten times the whole chain's nominal length bounds the wait.
    const DWORD limitMs = static_cast<DWORD>(chain.delayMs) * ticks * 10 + 1000;
    const bool armed = timeSetEvent(chain.delayMs, chain.resolutionMs, onTick, user,
                                    TIME_ONESHOT | TIME_CALLBACK_FUNCTION) != 0;
    if (!armed) {
        result.failed = true;
    } else if (WaitForSingleObject(chain.finished, limitMs) != WAIT_OBJECT_0) {
        // The timer stopped firing in time. Its next callback, if it ever
        // comes, arms no more; the chain stays where it can find it unless
        // that callback came meanwhile.
        result.failed = true;
        chain.abandoned = true;
        if (WaitForSingleObject(chain.finished, chain.delayMs * 4 + 1000) != WAIT_OBJECT_0) return;
    }
    result.failed |= chain.failed.load();
    for (const uint64_t ns : chain.lateness) result.lateness.add(ns);
    result.early = chain.early;
    CloseHandle(chain.finished);
    delete &chain;
}

}  // namespace juxhid::bench
