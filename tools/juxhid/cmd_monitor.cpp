// juxhid monitor: every input report as hex with the time it arrived, through
// the library's callbacks, until the device is unplugged or the user stops it
// (Ctrl-C, or SIGTERM as `timeout` and service managers send: both end it the
// same way, with the summary and exit 0).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "bench.h"
#include "commands.h"
#include "device_session.h"
#include "messages.h"
#include "recorder.h"
#include "report_printer.h"
#include "status_text.h"

namespace juxhid::tool {
namespace {

// The signal may land on any of the process's threads (the library's, or
// the simulated feeder's that raises it), so the flag is a lock-free atomic,
// which a handler may set and another thread read.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) { g_interrupted.store(true); }

}  // namespace

int runMonitor(const CommandLine& line) {
    OpenInterface device;
    if (!device.open(*line.vendor, *line.index)) return kExitFailed;
    if (device.readLength() <= 0) {
        complain("index %d has no input reports to monitor", static_cast<int>(device.index()));
        return kExitFailed;
    }
    std::printf("monitoring index %d, %s input reports of %d bytes (Ctrl-C stops)\n"
                "seconds since opening, then the bytes after the report-ID byte:\n",
                static_cast<int>(device.index()), line.changed ? "changed" : "all",
                static_cast<int>(device.readLength()));
    std::fflush(stdout);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    if (!line.record.empty() && !startRecording(line.record, *line.vendor, device.listed())) return kExitFailed;
    const bool watching = printReportsOf(device.index(), device.readLength(), line.changed, "");
    if (watching) benchInterfaceReady(line, device.index());
    while (watching && !printedDeviceGone() && !g_interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const size_t recorded = finishRecording();
    if (!watching) return kExitFailed;
    if (!line.record.empty()) std::printf("recorded %zu reports to %s\n", recorded, line.record.c_str());
    if (!printedDeviceGone()) {
        std::printf("stopped after %zu reports\n", reportsPrinted());
        return kExitOk;
    }
    device.markDeviceGone();
    std::printf("device unplugged after %zu reports: the error callback reported %s\n", reportsPrinted(),
                describeStatus(printedGoneStatus()).c_str());
    return kExitFailed;
}

}  // namespace juxhid::tool
