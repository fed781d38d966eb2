// What the load hooks need of the timer service beyond the seam.
#pragma once

namespace juxhid::win32 {

// From now on every timerSchedule fails. Called as the library goes away,
// before the unload closes the interfaces: a tick scheduled then would take
// a reference on a module that is being unloaded.
void refuseNewTimers();

}  // namespace juxhid::win32
