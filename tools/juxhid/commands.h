// The tool's commands. Each returns the process's exit status.
#pragma once

#include "args.h"

namespace juxhid::tool {

int runList(const CommandLine& line);
int runMonitor(const CommandLine& line);
int runSend(const CommandLine& line);
int runCodes(const CommandLine& line);
int runDemo(const CommandLine& line);
int runReplay(const CommandLine& line);  // juxhid-sim only
int runWatch(const CommandLine& line);

}  // namespace juxhid::tool
