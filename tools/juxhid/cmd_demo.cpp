// juxhid-sim demo: a tour of the library on the simulated bus. It attaches a
// device, lists it, streams input reports through the callbacks, sends a
// burst of paced writes and shows when each reached the device, and unplugs.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "commands.h"
#include "device_session.h"
#include "juxhid.h"
#include "juxhid_sim.h"
#include "listing_text.h"
#include "messages.h"
#include "report_printer.h"
#include "sim_outputs.h"
#include "status_text.h"

namespace juxhid::tool {
namespace {

constexpr uint32_t kDemoVendor = 0x1A2B;
constexpr uint32_t kReportLength = 9;
constexpr int32_t kInputReports = 6;
constexpr int32_t kBurst = 5;

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void step(int number, const char* what) {
    std::printf("\n%d. %s\n", number, what);
    std::fflush(stdout);
}

void streamInputReports(int32_t simDevice) {
    std::vector<uint8_t> report(kReportLength, 0);
    for (int32_t n = 0; n < kInputReports; ++n) {
        report[1] = static_cast<uint8_t>(n);
        report[2] = static_cast<uint8_t>(0x10 * n);
        juxsim_deliver(simDevice, report.data(), kReportLength);
        sleepMs(20);
    }
    sleepMs(100);  // lets the last callback print before the next step
}

// One burst through the paced queue, then what the device saw of it.
void sendBurst(int32_t index, int32_t simDevice, bool fast) {
    const char* writer = fast ? "FastWrite" : "WriteData";
    std::vector<uint8_t> report(kReportLength, 0);
    for (int32_t n = 0; n < kBurst; ++n) {
        report[1] = static_cast<uint8_t>(fast ? 0xF0 + n : n);
        const int32_t status = fast ? FastWrite(index, report.data()) : WriteData(index, report.data());
        std::printf("   %s #%d: %s\n", writer, static_cast<int>(n + 1), describeStatus(status).c_str());
    }
    waitForOutputs(simDevice, kBurst, std::chrono::milliseconds(3000));
    std::printf("   the device received them (the first at once, then one per tick):\n");
    printReceivedOutputs(simDevice, "   ");
    sleepMs(fast ? 50 : 150);  // the tick after the last report ends the chain
}

}  // namespace

int runDemo(const CommandLine&) {
    step(1, "attaching a simulated device: vendor 0x1A2B, product 0x0001, 9-byte reports\n"
            "   (a report-ID byte and 8 data bytes; the data callback gets and prints the 8)");
    const JuxsimDeviceInfo info{kDemoVendor, 0x0001, 0xFF00, 0x0001, kReportLength, kReportLength, nullptr};
    const int32_t simDevice = juxsim_attach(&info);

    step(2, "listing vendor 0x1A2B (EnumerateJUX, GetReadLength, GetWriteLength)");
    std::vector<ListedDevice> devices;
    const int32_t listed = listVendorDevices(kDemoVendor, devices);
    if (listed != 0) {
        complain("listing failed: %s", describeStatus(listed).c_str());
        return kExitFailed;
    }
    std::fputs(formatDeviceTable(kDemoVendor, devices).c_str(), stdout);

    step(3, "opening index 0 (SetupInterface) with a data callback and an error callback");
    OpenInterface device;
    if (!device.open(kDemoVendor, 0)) return kExitFailed;
    if (!printReportsOf(0, device.readLength(), false, "   ")) return kExitFailed;

    step(4, "the device sends 6 input reports, 20 ms apart; the data callback prints each");
    streamInputReports(simDevice);

    step(5, "a burst of 5 WriteData calls: paced 50 ms apart");
    sendBurst(0, simDevice, false);

    step(6, "a burst of 5 FastWrite calls: paced 5 ms apart");
    sendBurst(0, simDevice, true);

    step(7, "unplugging the device");
    juxsim_detach(simDevice);
    for (int waited = 0; !printedDeviceGone() && waited < 3000; waited += 10) sleepMs(10);
    if (!printedDeviceGone()) {
        complain("the error callback was not called");
        return kExitFailed;
    }
    device.markDeviceGone();
    std::printf("   the error callback reported %s; CleanupInterface releases the interface\n",
                describeStatus(printedGoneStatus()).c_str());
    std::printf("\ndone: %zu input reports printed by the data callback\n", reportsPrinted());
    return kExitOk;
}

}  // namespace juxhid::tool
