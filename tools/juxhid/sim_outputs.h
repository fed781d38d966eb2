// The device's side of the simulated bus: which output reports reached a
// simulated device, and when. Only the simulated-bus build has it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace juxhid::tool {

// Waits until the device holds `count` untaken output reports or `limit` passes.
bool waitForOutputs(int32_t simDevice, int32_t count, std::chrono::milliseconds limit);

// Takes every output report the device received and prints each with its
// time from the first one and the gap to the one before. Returns how many.
size_t printReceivedOutputs(int32_t simDevice, const char* indent);

}  // namespace juxhid::tool
