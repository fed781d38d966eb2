// The multimedia timer service's entry point into the timer service, and
// the two halves of its work that are written in C++ (timers.cpp).
//
// The entry point is not C++: the timer holds a counted reference on this
// module, and giving it back must be the callback's very last act, after
// which not a single instruction of ours may run (it may unmap this code). So
// it ends by jumping to FreeLibrary, which then returns straight to the
// service; timer_entry.cpp writes it for each architecture.
#pragma once

#include "windows_api.h"

extern "C" {
// The callback as the service calls it (five arguments, the platform's
// callback convention).
void CALLBACK juxhid_timer_callback(UINT id, UINT message, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
// Runs the routine of timer `id`.
void __stdcall juxhid_timer_run(UINT id);
// The module reference to give back after the routine has run, or null.
HMODULE __stdcall juxhid_timer_reference();
}
