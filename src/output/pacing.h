// The pacing chain shared by all interfaces: one tick at a time, scheduled by
// a direct write and by every tick that still found something to send.
#pragma once

#include <cstdint>

namespace juxhid {

inline constexpr uint32_t kSlowTickDelayMs = 50;
inline constexpr uint32_t kSlowTickResolutionMs = 10;
inline constexpr uint32_t kFastTickDelayMs = 5;
inline constexpr uint32_t kFastTickResolutionMs = 0;

// Schedules the next tick at the interval of `fast`; 0 when that failed.
uint32_t scheduleTick(bool fast);

// The timer routine.
void runPacingTick(uint32_t timerId);

}  // namespace juxhid
