// How the platform's load and unload notifications reach the library.
//
// In a DLL they come through DllMain, under the loader lock. Unload then
// waits for no running worker and no timer: every worker (threads.cpp) and
// every pending or running tick (timers.cpp) holds a reference on the DLL,
// so the notification comes only once none is left; from then on no
// timer is accepted. When the process is ending (lpReserved not null), every
// other thread has already been stopped wherever it was, possibly holding a
// lock or half-way through a table update: nothing is touched then, and the
// process takes everything back.
//
// Linked straight into a program (the test programs do this), there is no
// DllMain: a constructor and a destructor of the image do the same work.
#include "frame/lifecycle.h"
#include "module_reference.h"
#include "timer_service.h"

namespace {

void unload() {
    juxhid::win32::refuseNewTimers();
    juxhid::frame::libraryUnload();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: juxhid::frame::libraryLoad(); break;
        case DLL_PROCESS_DETACH:
            if (reserved == nullptr) unload();
            break;
        default: break;
    }
    return TRUE;
}

namespace {

__attribute__((constructor)) void loadIntoProgram() {
    if (juxhid::win32::linkedIntoProgram()) juxhid::frame::libraryLoad();
}

__attribute__((destructor)) void unloadFromProgram() {
    if (juxhid::win32::linkedIntoProgram()) unload();
}

}  // namespace
