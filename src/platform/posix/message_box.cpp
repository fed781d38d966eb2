// A library without a window system says what it would have shown: one line
// on standard error, written with a single call so that lines of concurrent
// boxes do not interleave.
#include <cstdio>

#include "platform/os.h"

namespace juxhid::os {

void messageBox(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
}

}  // namespace juxhid::os
