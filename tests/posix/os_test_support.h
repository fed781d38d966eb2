// Small helpers for driving the OS layer from tests: a stopwatch on the
// layer's own clock and a thread started through the layer that runs a
// lambda.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/os.h"

namespace juxhid::test {

inline double msSince(uint64_t startNs) {
    return static_cast<double>(os::monotonicNs() - startNs) / 1e6;
}

// Runs `body` on a thread of the OS layer; the thread owns the closure.
inline os::Thread* startThread(std::function<void()> body) {
    auto* closure = new std::function<void()>(std::move(body));
    os::Thread* thread = os::threadStart(
        [](void* argument) {
            auto* run = static_cast<std::function<void()>*>(argument);
            (*run)();
            delete run;
        },
        closure, 2048);
    if (thread == nullptr) delete closure;
    return thread;
}

// Waits generously for the thread to end and gives its handle back.
inline bool joinThread(os::Thread* thread) {
    const bool ended = os::threadWait(thread, 10000) == platform::kWaitAcquired;
    os::threadRelease(thread);
    return ended;
}

}  // namespace juxhid::test
