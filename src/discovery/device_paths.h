// The whole path of each listed device, which is what opening uses. The row
// also keeps the path cut to 255 characters, as listed; a path that long is
// rare, but cut it could name another device, or none.
#pragma once

#include "frame/library_state.h"

namespace juxhid {

// Keeps a copy of `path` as the row's opening path, replacing any earlier
// one. False when the memory cannot be had (the row then has none).
bool keepOpenPath(DeviceEntry& entry, const char* path);

// Gives back every row's opening path (at unload).
void forgetDevicePaths();

}  // namespace juxhid
