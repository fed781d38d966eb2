#include "sim_outputs.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "juxhid_sim.h"
#include "listing_text.h"

namespace juxhid::tool {

bool waitForOutputs(int32_t simDevice, int32_t count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (juxsim_output_count(simDevice) < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

size_t printReceivedOutputs(int32_t simDevice, const char* indent) {
    std::vector<uint8_t> report(65535);  // any report length the platform can state
    uint32_t length = 0;
    uint64_t at = 0;
    uint64_t first = 0;
    uint64_t previous = 0;
    size_t taken = 0;
    while (juxsim_take_output(simDevice, report.data(), static_cast<uint32_t>(report.size()), &length, &at) == 1) {
        if (taken == 0) first = previous = at;
        const double sinceFirst = static_cast<double>(at - first) / 1e6;
        const double gap = static_cast<double>(at - previous) / 1e6;
        const size_t shown = length < report.size() ? length : report.size();
        std::printf("%sat %7.1f ms (gap %5.1f ms)  %s\n", indent, sinceFirst, gap,
                    formatHex(report.data(), shown).c_str());
        previous = at;
        ++taken;
    }
    std::fflush(stdout);
    return taken;
}

}  // namespace juxhid::tool
