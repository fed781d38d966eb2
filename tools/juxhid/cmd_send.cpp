// juxhid send: output reports through the library's paced queue, each
// status printed as the call returns.
#include <chrono>
#include <cstdio>
#include <thread>

#include "bench.h"
#include "commands.h"
#include "device_session.h"
#include "juxhid.h"
#include "listing_text.h"
#include "messages.h"
#include "status_text.h"

namespace juxhid::tool {
namespace {

// Closing the interface discards what its queue still holds, and the library
// offers no way to ask whether the queue is empty. So wait out one interval
// per report plus the tick that ends the chain, with room for a busy machine.
std::chrono::milliseconds queueDrainTime(size_t reports, bool fast) {
    const int intervalMs = fast ? 5 : 50;
    return std::chrono::milliseconds(static_cast<int>(reports + 1) * intervalMs * 3 / 2 + 200);
}

// The caller's report padded with zeros to the device's output length.
bool fitReports(const CommandLine& line, size_t writeLength, std::vector<std::vector<uint8_t>>& out) {
    for (size_t i = 0; i < line.reports.size(); ++i) {
        if (line.reports[i].size() > writeLength) {
            complain("report %zu has %zu bytes; index %d takes %zu", i + 1, line.reports[i].size(),
                     static_cast<int>(*line.index), writeLength);
            return false;
        }
        out.push_back(line.reports[i]);
        out.back().resize(writeLength, 0);
    }
    return true;
}

}  // namespace

int runSend(const CommandLine& line) {
    OpenInterface device;
    if (!device.open(*line.vendor, *line.index)) return kExitFailed;
    if (device.writeLength() <= 0) {
        complain("index %d has no output reports", static_cast<int>(*line.index));
        return kExitFailed;
    }
    std::vector<std::vector<uint8_t>> reports;
    // Only the opened device knows its report length, so a report too long for
    // it is the device's refusal (1), not a bad argument (2): by now the
    // library has been called.
    if (!fitReports(line, static_cast<size_t>(device.writeLength()), reports)) return kExitFailed;

    const char* writer = line.fast ? "FastWrite" : "WriteData";
    const auto start = std::chrono::steady_clock::now();
    bool allAccepted = true;
    for (size_t i = 0; i < reports.size(); ++i) {
        const int32_t status = line.fast ? FastWrite(device.index(), reports[i].data())
                                         : WriteData(device.index(), reports[i].data());
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("%8.1f ms  %s %s: %s\n", ms, writer, formatHex(reports[i].data(), reports[i].size()).c_str(),
                    describeStatus(status).c_str());
        allAccepted = allAccepted && status == 0;
    }
    std::fflush(stdout);
    std::this_thread::sleep_for(queueDrainTime(reports.size(), line.fast));
    benchReportsSent(line, device.index());
    return allAccepted ? kExitOk : kExitFailed;
}

}  // namespace juxhid::tool
