// Load and unload of the library. The platform's load hooks call these: an
// ELF constructor and destructor (posix/), DllMain (win32/).
#pragma once

namespace juxhid::frame {

// Zeroes every table, creates writeLock. Always succeeds as far as the
// platform is concerned.
void libraryLoad();

// Refuses every new opening, worker, callback and write, waits (boundedly)
// for the calls already inside, stops and waits for every worker, closes
// every interface (0 to 24, ascending), cancels the pacing tick, ends the
// timer service, joins the library's threads and closes writeLock. Bounded:
// 2 s for the calls and the threads together, 250 ms for writeLock and the
// running tick's end.
void libraryUnload();

}  // namespace juxhid::frame
