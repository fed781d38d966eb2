#include "frame/lifecycle.h"

#include "discovery/device_paths.h"
#include "frame/end_of_life.h"
#include "frame/library_state.h"
#include "frame/lock_convention.h"
#include "interface/teardown.h"
#include "juxhid.h"

namespace juxhid::frame {

void libraryLoad() {
    LibraryState& library = state();
    for (int32_t index = 0; index < kMaxDevices; ++index) {
        library.interfaces[index].current = nullptr;
        library.interfaces[index].leftover = Leftover::None;
        library.interfaces[index].opening = false;
        library.devices[index] = DeviceEntry{};
    }
    library.deviceCount = 0;
    library.pacingTimerId = 0;
    library.deferredWriteStatus = 0;
    library.pacingActive = false;
    library.fastPacing = false;
    // A missing writeLock is not a load failure: every write then answers
    // that the lock could not be had.
    library.writeLock = platform::lockCreate();
    openTheGate();
}

// How long the unload waits, all together, for the calls still inside the
// gate and for the workers to end. A worker normally ends within
// milliseconds of the stop; only one held in the host's code (a callback
// that does not return) can use up the budget, and it is then left where it
// is: waiting for ever would hang the host's exit.
constexpr uint32_t kUnloadBudgetMs = 2000;

void libraryUnload() {
    LibraryState& library = state();
    uint32_t budgetMs = kUnloadBudgetMs;
    // From here on nothing new starts, so one pass finds everything.
    closeTheGate(budgetMs);
    stopEveryOpening(budgetMs);
    for (int32_t index = 0; index < kMaxDevices; ++index) closeInterfaceAtUnload(index);
    if (library.writeLock != nullptr) {
        const bool locked = isAcquired(waitForLock(library.writeLock, 250));
        if (const uint32_t timerId = library.pacingTimerId.exchange(0)) platform::timerCancel(timerId);
        library.pacingActive = false;
        if (locked) platform::lockRelease(library.writeLock);
    }
    // A tick that had already started finishes before the lock goes.
    platform::timerShutdown();
    // No thread the library started may run its code once the library is
    // unmapped: every one is waited for, down to its last instruction, out
    // of what is left of the budget. This includes workers no opening
    // records any more (a callback that closed its own interface and is on
    // its way back), which only the registry of threads knows.
    platform::threadWaitForAll(budgetMs);
    if (library.writeLock != nullptr) platform::lockClose(library.writeLock);
    library.writeLock = nullptr;
    forgetDevicePaths();
}

}  // namespace juxhid::frame
