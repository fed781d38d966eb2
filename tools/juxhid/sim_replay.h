// Starting a replay on the tool's simulated bus, for --sim-replay and the
// replay command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "juxhid_sim.h"

namespace juxhid::tool {

// The replay, or null after printing why (the file, the line and the fault).
JuxsimReplay* startReplay(const std::string& path, double speed);

// The vendor the recording names (read again from the file: the bus keeps
// the device's description to itself).
std::optional<uint32_t> recordedVendor(const std::string& path);

}  // namespace juxhid::tool
