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

// Takes a counted reference on this module, so that it stays mapped while a
// thread of ours still runs in it; given back by FreeLibraryAndExitThread.
// Linked into the program, none is needed: true with *module null. False
// when the reference could not be had.
bool holdThisModule(HMODULE* module);

}  // namespace juxhid::win32
