// One measuring run: reports paced through the kernel's HID stack to one way
// of taking them, with the process's CPU counted around it; and one idle
// window, with the process's CPU and wake-ups counted over it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/device_side.h"
#include "kernel/run_arithmetic.h"
#include "support/samples.h"

namespace juxhid::bench::kernel {

enum class Way { BareRead, Callback, ReadData };

struct RunSpec {
    Way way;
    uint32_t devices;  // devices 0 .. devices-1, each at `rate`
    double rate;
    uint32_t rounds;
};

struct RunFigures {
    bool measured = false;  // the reports were sent and some arrived
    Summary latency;
    Delivery delivery;
    uint64_t sent = 0;
    double usCpuPerReport = 0;  // per report sent, the host process's CPU
    double achievedRate = 0;    // per device
};

// `nodes` and `indices` name devices 0 .. in device order.
RunFigures measureRun(DeviceSide& devices, const std::vector<std::string>& nodes, const std::vector<int32_t>& indices,
                      const RunSpec& spec);

struct IdleFigures {
    bool measured = false;
    double percentOfCore = 0;
    double wakeupsPerSecond = 0;
};

// This process over `window`, after a short settling time.
IdleFigures measureIdle(std::chrono::milliseconds window);

}  // namespace juxhid::bench::kernel
