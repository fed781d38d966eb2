// What a measuring run on the kernel's HID stack reads off its raw counts:
// the reports that came summed over devices, the latencies of all devices in
// one distribution, CPU per report and the rate the device side reached.
#pragma once

#include <cstdint>
#include <vector>

#include "support/sequence_check.h"

namespace juxhid::bench::kernel {

struct Delivery {
    uint64_t arrived = 0;
    uint64_t lost = 0;
    uint64_t inOrder = 0;  // arrived, less those at or below a number already seen
};

// Every device sent reports 0 .. sentPerDevice-1; numbers never seen by the
// end are lost too.
Delivery sumDelivery(const std::vector<SequenceCheck>& devices, uint32_t sentPerDevice);

// One ascending sequence from several ascending ones.
std::vector<uint64_t> mergeSorted(const std::vector<std::vector<uint64_t>>& parts);

// Microseconds of CPU per report; 0 when no report was sent.
double usCpuPerReport(uint64_t cpuNs, uint64_t reports);

// Rounds per second between the first and the last round's stamp; 0 when
// fewer than two rounds or no time passed.
double achievedRate(uint64_t rounds, uint64_t firstNs, uint64_t lastNs);

// Events per second over `wallNs`.
double perSecond(uint64_t events, uint64_t wallNs);

}  // namespace juxhid::bench::kernel
