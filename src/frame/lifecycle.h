// Load and unload of the library. The platform's load hooks call these: an
// ELF constructor and destructor (posix/), DllMain (win32/).
#pragma once

namespace juxhid::frame {

// Zeroes every table, creates writeLock. Always succeeds as far as the
// platform is concerned.
void libraryLoad();

// Closes every interface (0 to 24, ascending), cancels the pacing tick, ends
// the timer service and closes writeLock.
void libraryUnload();

}  // namespace juxhid::frame
