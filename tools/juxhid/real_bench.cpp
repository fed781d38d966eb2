// The real-device build: devices are whatever is plugged in, so the bench
// adds nothing, and the demo lives in the simulated-bus build.
#include <cstdio>

#include "bench.h"
#include "commands.h"

namespace juxhid::tool {

bool benchIsSimulated() { return false; }
bool benchPrepare(const CommandLine&) { return true; }
void benchInterfaceReady(const CommandLine&, int32_t) {}
void benchReportsSent(const CommandLine&, int32_t) {}
void benchFinish() {}

int runDemo(const CommandLine&) {
    std::fputs("The demo attaches a simulated device, so it runs in the simulated-bus build:\n"
               "    juxhid-sim demo\n"
               "This build talks to real devices; start with: juxhid list --vendor ID\n",
               stdout);
    return kExitFailed;
}

}  // namespace juxhid::tool
