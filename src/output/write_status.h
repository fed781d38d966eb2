// One device write and the status it earns, shared by the direct path and
// the pacing tick.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace juxhid {

// 0 for a whole write, 407 when the device is gone, 409 for any other
// failure, 410 for a write of another length.
int32_t writeReport(platform::Device* device, const void* report, uint32_t length);

}  // namespace juxhid
