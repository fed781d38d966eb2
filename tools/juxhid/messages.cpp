#include "messages.h"

#include <cstdarg>
#include <cstdio>

#include "args.h"
#include "bench.h"

namespace juxhid::tool {

void complain(const char* format, ...) {
    std::fflush(stdout);  // what was printed before stays before
    std::fprintf(stderr, "%s: ", programName(benchIsSimulated()).c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

}  // namespace juxhid::tool
