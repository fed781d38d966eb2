// juxhid watch: a line for every interface of the vendor that arrives or
// goes, as the library's device watch reports it, until Ctrl-C or SIGTERM.
// Lines are printed by the watch's thread, each in one call and flushed, so
// a reader of a pipe sees each event when it happens.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "bench.h"
#include "commands.h"
#include "juxhid_status.h"
#include "juxhid_watch.h"
#include "messages.h"
#include "status_text.h"

namespace juxhid::tool {
namespace {

// The signal may land on any of the process's threads (the library's, or
// the simulated feeder's that raises it), so the flag is a lock-free atomic,
// which a handler may set and another thread read.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onStopSignal(int) { g_stop.store(true); }

// A JSON string: quotes, backslashes and control characters escaped.
std::string jsonString(const char* text) {
    std::string quoted = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += *c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += *c;
        }
    }
    return quoted + "\"";
}

const char* kindName(int32_t kind) { return kind == JUXHID_WATCH_ARRIVED ? "arrived" : "removed"; }

void JUXHID_CALL printJson(const JuxhidWatchEvent* event, void*) {
    const std::string line =
        "{\"event\": \"" + std::string(kindName(event->Kind)) + "\", \"vendorId\": " +
        std::to_string(event->VendorID) + ", \"productId\": " + std::to_string(event->ProductID) +
        ", \"usagePage\": " + std::to_string(event->UsagePage) + ", \"usage\": " + std::to_string(event->Usage) +
        ", \"inputLength\": " + std::to_string(event->InputReportByteLength) +
        ", \"outputLength\": " + std::to_string(event->OutputReportByteLength) +
        ", \"path\": " + jsonString(event->Path) + "}\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void JUXHID_CALL printLine(const JuxhidWatchEvent* event, void*) {
    std::printf("%s  product 0x%04X  usage page 0x%04X  usage 0x%04X  in %u  out %u  %s\n", kindName(event->Kind),
                event->ProductID, event->UsagePage, event->Usage, event->InputReportByteLength,
                event->OutputReportByteLength, event->Path);
    std::fflush(stdout);
}

}  // namespace

int runWatch(const CommandLine& line) {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    if (!line.json) {
        std::printf("watching vendor 0x%04X%s (Ctrl-C stops)\n", static_cast<unsigned>(*line.vendor),
                    line.present ? ", devices already attached first" : "");
        std::fflush(stdout);
    }
    int32_t watch = 0;
    const int32_t status = StartDeviceWatch(*line.vendor, line.present ? JUXHID_WATCH_PRESENT : 0,
                                            line.json ? printJson : printLine, nullptr, &watch);
    if (status != JUXHID_OK) {
        complain("the watch could not start: %s", describeStatus(status).c_str());
        return kExitFailed;
    }
    benchWatchReady(line);
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int32_t stopped = StopDeviceWatch(watch);
    if (stopped != JUXHID_OK) {
        complain("stopping the watch: %s", describeStatus(stopped).c_str());
        return kExitFailed;
    }
    if (!line.json) std::printf("stopped\n");
    return kExitOk;
}

}  // namespace juxhid::tool
