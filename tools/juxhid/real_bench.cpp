// The real-device build: devices are whatever is plugged in, so the bench
// adds nothing, and the demo lives in the simulated-bus build.
#include <cstdio>

#include "bench.h"
#include "commands.h"
#include "hidraw_nodes.h"

namespace juxhid::tool {

bool benchIsSimulated() { return false; }
bool benchPrepare(const CommandLine&) { return true; }
void benchInterfaceReady(const CommandLine&, int32_t) {}
void benchWatchReady(const CommandLine&) {}
void benchReportsSent(const CommandLine&, int32_t) {}
void benchFinish() {}

std::string benchAccessAdvice(uint32_t vendor, uint32_t productId) {
#if defined(__linux__)
    const std::vector<std::string> nodes = hidrawNodesOf("/sys/class/hidraw", vendor, productId);
    std::string where = "its /dev/hidraw* node was not found";
    for (size_t i = 0; i < nodes.size(); ++i) {
        where = (i == 0 ? (nodes.size() == 1 ? "the device is " : "the device is one of ") : where + ", ") + nodes[i];
    }
    return where +
           "; this user may not open it. A udev rule grants access: see \"Giving a user access to the "
           "devices\" in docs/linux.md";
#else
    (void)vendor;
    (void)productId;
    return "another program may hold the device open exclusively, or this user may not open it";
#endif
}

int runDemo(const CommandLine&) {
    std::fputs("juxhid: the demo attaches a simulated device, so it runs in the simulated-bus build:\n"
               "    juxhid-sim demo\n"
               "This build talks to real devices; start with: juxhid list --vendor ID\n",
               stderr);
    return kExitFailed;
}

}  // namespace juxhid::tool

namespace juxhid::tool {

int runReplay(const CommandLine&) {
    std::fputs("juxhid: a replay attaches a simulated device, so it runs in the simulated-bus build:\n"
               "    juxhid-sim replay FILE\n"
               "This build records real devices: juxhid monitor --vendor ID --index N --record FILE\n",
               stderr);
    return kExitFailed;
}

}  // namespace juxhid::tool
