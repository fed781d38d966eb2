// The pacing chain shared by all interfaces: one tick at a time, scheduled by
// a direct write and by every tick that still found something to send.
#pragma once

#include <cstdint>

namespace juxhid {

struct InterfaceSlot;

inline constexpr uint32_t kSlowTickDelayMs = 50;
inline constexpr uint32_t kSlowTickResolutionMs = 10;
inline constexpr uint32_t kFastTickDelayMs = 5;
inline constexpr uint32_t kFastTickResolutionMs = 0;

// Schedules the next tick at the interval of `fast`; 0 when that failed.
uint32_t scheduleTick(bool fast);

// The timer routine.
void runPacingTick(uint32_t timerId);

// An opening puts its new write queue in place under writeLock: a tick
// running for other interfaces looks at every slot.
void installWriteQueue(InterfaceSlot& slot, uint32_t slotSize);

// A teardown takes the slot out of the chain: under writeLock it destroys
// the slot's write queue (dropping what was still queued for it) so that no
// tick can reach it any more. With `cancelTick` it also cancels the pending
// tick, as closing does, and then starts the chain over for the other
// interfaces, so that their queued reports still go out.
void withdrawFromPacing(InterfaceSlot& slot, bool cancelTick);

}  // namespace juxhid
