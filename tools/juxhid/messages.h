// What the tool tells its user on stderr, each line led by the program's own
// name (juxhid or juxhid-sim), as a command-line program does.
#pragma once

#if defined(__MINGW32__)
#define JUXHID_TOOL_PRINTF __attribute__((format(gnu_printf, 1, 2)))
#else
#define JUXHID_TOOL_PRINTF __attribute__((format(printf, 1, 2)))
#endif

namespace juxhid::tool {

// "juxhid-sim: " + the formatted text + a line end.
void complain(const char* format, ...) JUXHID_TOOL_PRINTF;

}  // namespace juxhid::tool
