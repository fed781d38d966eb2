// The juxhid command-line tool: a host application of the library, built on
// its public header alone. One source makes two programs: juxhid, linked with
// the real-device library, and juxhid-sim, linked with the simulated bus.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"
#include "bench.h"
#include "commands.h"

namespace {

using namespace juxhid::tool;

int dispatch(const CommandLine& line) {
    if (line.command == "list") return runList(line);
    if (line.command == "monitor") return runMonitor(line);
    if (line.command == "send") return runSend(line);
    if (line.command == "demo") return runDemo(line);
    if (line.command == "replay") return runReplay(line);
    if (line.command == "watch") return runWatch(line);
    return runCodes(line);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const bool simulated = benchIsSimulated();
    const ParseOutcome parsed = parseCommandLine(args, simulated);
    if (!parsed.error.empty()) {
        const std::string name = programName(simulated);
        std::fprintf(stderr, "%s: %s\n", name.c_str(), parsed.error.c_str());
        if (args.empty()) {
            std::fprintf(stderr, "\n%s", usageText(simulated).c_str());
        } else {
            std::fprintf(stderr, "Run '%s --help' for the commands and their options.\n", name.c_str());
        }
        return kExitUsage;
    }
    if (!parsed.output.empty()) {
        std::fputs(parsed.output.c_str(), stdout);
        return kExitOk;
    }
    if (!benchPrepare(parsed.line)) return kExitFailed;
    const int status = dispatch(parsed.line);
    benchFinish();
    std::fflush(stdout);
    return status;
}
