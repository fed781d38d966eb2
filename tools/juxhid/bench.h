// What a build adds around the device commands. The simulated-bus build
// attaches the devices named by --sim-attach, makes them send reports and
// shows what reached them; the real-device build adds nothing. The build
// chooses by linking sim_bench.cpp or real_bench.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "args.h"

namespace juxhid::tool {

bool benchIsSimulated();

// Before the command runs; false (with a message) when it cannot be set up.
bool benchPrepare(const CommandLine& line);

// monitor: the interface is open and its callbacks are installed.
void benchInterfaceReady(const CommandLine& line, int32_t index);

// watch: the watch runs.
void benchWatchReady(const CommandLine& line);

// send: every report was handed to the library and the queue has drained.
void benchReportsSent(const CommandLine& line, int32_t index);

// An open of the vendor's product was refused for access: the device's path
// where this build can name it, and how access is granted.
std::string benchAccessAdvice(uint32_t vendor, uint32_t productId);

// After the command: nothing the bench started is left running.
void benchFinish();

}  // namespace juxhid::tool
