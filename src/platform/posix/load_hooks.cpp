// The library's load and unload notifications on ELF systems: the dynamic
// loader runs the constructor when the library is loaded into the process
// (or, linked statically, before main) and the destructor when it is
// unloaded or the process exits.
#include "frame/lifecycle.h"

namespace {

__attribute__((constructor)) void announceLoad() { juxhid::frame::libraryLoad(); }

__attribute__((destructor)) void announceUnload() { juxhid::frame::libraryUnload(); }

}  // namespace
