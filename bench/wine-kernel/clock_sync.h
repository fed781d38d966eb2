// Two clocks read on two sides of a TCP line: the device side stamps each
// report with its monotonic clock, the Windows side reads its performance
// counter when the report reaches it. Under Wine both run on the guest's
// monotonic clock, but that is checked rather than trusted: the offset
// between them is estimated from request/answer exchanges, taking the one
// with the shortest round trip (its midpoint is the least uncertain, by at
// most half that round trip).
#pragma once

#include <cstdint>
#include <vector>

namespace juxhid::winekernel {

struct ClockExchange {
    int64_t localBeforeNs = 0;  // this side's clock when the question left
    int64_t remoteNs = 0;       // the other side's clock in its answer
    int64_t localAfterNs = 0;   // this side's clock when the answer came
};

struct ClockOffset {
    int64_t offsetNs = 0;  // remote minus local
    int64_t rttNs = -1;    // of the exchange used; -1: no usable exchange
    bool known() const { return rttNs >= 0; }
    int64_t toRemote(int64_t localNs) const { return localNs + offsetNs; }
};

// The offset from the exchange with the shortest round trip; exchanges whose
// answer came before the question (a broken clock) are ignored.
inline ClockOffset offsetFromExchanges(const std::vector<ClockExchange>& exchanges) {
    ClockOffset best;
    for (const ClockExchange& exchange : exchanges) {
        const int64_t rtt = exchange.localAfterNs - exchange.localBeforeNs;
        if (rtt < 0 || (best.known() && rtt >= best.rttNs)) continue;
        const int64_t midpoint = exchange.localBeforeNs + rtt / 2;
        best = ClockOffset{exchange.remoteNs - midpoint, rtt};
    }
    return best;
}

// Of two estimates, the one whose round trip was shorter (the clocks were
// checked not to drift apart over a run: the later estimate may replace an
// earlier one taken while the guest was busy).
inline ClockOffset betterOffset(const ClockOffset& held, const ClockOffset& fresh) {
    if (!fresh.known()) return held;
    return !held.known() || fresh.rttNs < held.rttNs ? fresh : held;
}

// A counter's ticks in nanoseconds, without the overflow of ticks * 1e9.
inline int64_t ticksToNs(int64_t ticks, int64_t frequency) {
    return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
}

// How late a report stamped `stampedNs` (remote clock) is at `localNs`;
// below zero when the offset was misjudged by more than the path took.
inline int64_t latencyNs(int64_t stampedNs, int64_t localNs, const ClockOffset& offset) {
    return offset.toRemote(localNs) - stampedNs;
}

// How far the offset moved over a run, in parts per million of its length:
// the two clocks' rates differ by that much.
inline double driftPpm(const ClockOffset& first, const ClockOffset& last, int64_t elapsedNs) {
    if (elapsedNs <= 0) return 0;
    return static_cast<double>(last.offsetNs - first.offsetNs) * 1e6 / static_cast<double>(elapsedNs);
}

// Microseconds of CPU per report; 0 when nothing arrived.
inline double cpuUsPerReport(uint64_t cpuNs, uint64_t reports) {
    return reports == 0 ? 0 : static_cast<double>(cpuNs) / 1000.0 / static_cast<double>(reports);
}

// Per second over `wallNs`.
inline double perSecond(uint64_t count, uint64_t wallNs) {
    return wallNs == 0 ? 0 : static_cast<double>(count) * 1e9 / static_cast<double>(wallNs);
}

}  // namespace juxhid::winekernel
