// Pauses and the clock the rest of the library measures time with.
#include <time.h>

#include <cerrno>

#include "platform/os.h"
#include "platform/posix/monotonic.h"

namespace juxhid::os {

uint64_t monotonicNs() { return posix::nowNs(); }

// Sleeps to an absolute deadline, so that a signal interrupting the sleep
// resumes it without adding to it.
void sleepMs(uint32_t ms) {
    const timespec until = posix::monotonicTimespec(posix::deadlineAfterMs(ms));
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace juxhid::os
