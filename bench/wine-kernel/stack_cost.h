// What Wine's own processes spend beside the measured program: the Wine
// server (every wait and every handle operation may go through it) and
// winedevice.exe, the service process in which Wine's HID bus and class
// drivers read the hidraw nodes and complete the program's reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/process_cost.h"

namespace juxhid::winekernel {

// The winedevice.exe processes of this Wine session, found through Z:\proc
// once; their threads' counters summed on every call afterwards.
bench::ProcessCost sampleWineDeviceCost();
// How many winedevice.exe processes were found ("none" is a measurement too).
uint32_t wineDeviceProcesses();

// The Wine server's counters, found the same way by its command name
// (wineserver64 or wineserver). Z:\proc\self, which the shared sampler
// reads, named the server here but gave no counts that changed.
bench::ProcessCost sampleServerByName();
uint32_t wineServerProcesses();

}  // namespace juxhid::winekernel
