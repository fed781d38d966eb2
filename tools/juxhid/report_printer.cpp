#include "report_printer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "juxhid.h"
#include "juxhid_status.h"
#include "listing_text.h"
#include "messages.h"
#include "recorder.h"
#include "status_text.h"

namespace juxhid::tool {
namespace {

// The callbacks carry no context of their own, so the one printed
// interface's state lives here.
struct Printed {
    std::chrono::steady_clock::time_point start;
    int32_t index = 0;
    size_t payloadLength = 0;
    const char* indent = "";
    std::atomic<size_t> reports{0};
    std::atomic<bool> gone{false};
    std::atomic<int32_t> goneStatus{0};
};
Printed g_printed;

// Runs on the library's callback thread: one line, then back to it.
int32_t JUXHID_CALL printReport(uint8_t* report) {
    recordArrivals(g_printed.index);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - g_printed.start).count();
    const std::string hex = formatHex(report, g_printed.payloadLength);
    std::printf("%s%9.4f s  %s\n", g_printed.indent, seconds, hex.c_str());
    std::fflush(stdout);
    ++g_printed.reports;
    return 1;
}

int32_t JUXHID_CALL noteDeviceGone(intptr_t status) {
    recordUnplug(g_printed.index);
    g_printed.goneStatus = static_cast<int32_t>(status);
    g_printed.gone = true;
    return 0;
}

// The callback hands over the report without its report-ID byte.
size_t payloadLengthFor(int32_t readLength) { return readLength <= 1 ? 0 : static_cast<size_t>(readLength - 1); }

}  // namespace

bool printReportsOf(int32_t index, int32_t readLength, bool changedOnly, const char* indent) {
    g_printed.start = std::chrono::steady_clock::now();
    g_printed.index = index;
    g_printed.payloadLength = payloadLengthFor(readLength);
    g_printed.indent = indent;
    int32_t status = SetErrorCallback(index, noteDeviceGone);
    if (status == JUXHID_OK) status = SetDataCallback(index, changedOnly ? 2u : 1u, printReport);
    if (status == JUXHID_OK) return true;
    complain("installing the callbacks: %s", describeStatus(status).c_str());
    return false;
}

bool printedDeviceGone() { return g_printed.gone; }
int32_t printedGoneStatus() { return g_printed.goneStatus; }
size_t reportsPrinted() { return g_printed.reports; }

}  // namespace juxhid::tool
