// The module this code is linked into: juxhid.dll, juxhid_sim.dll, or a
// program that links the objects directly.
#pragma once

#include "windows_api.h"

namespace juxhid::win32 {

// The base address of the module holding this code.
HMODULE thisModule();

// True when this code lives in the process's program rather than in a DLL:
// the program is never unmapped while the process runs.
bool linkedIntoProgram();

// Takes a counted reference on this module, so that it stays mapped while
// code of ours may still run on a thread: a worker, or a pending or running
// timer. Linked into the program, none is needed: true with *module null.
// False when the reference could not be had.
bool holdThisModule(HMODULE* module);

// Gives back a reference taken by holdThisModule, from a thread that goes on
// running code of ours afterwards, so never the last one.
void releaseThisModule(HMODULE module);

}  // namespace juxhid::win32
