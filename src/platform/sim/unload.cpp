// Gives back the simulated bus's process-long objects when the shared
// library goes. A destructor with a priority runs after the plain ones, so
// after the load hook's unload, which still closes handles and counts them.
#include "platform/sim/process_objects.h"

namespace juxhid::sim {
namespace {

__attribute__((destructor(101))) void releaseProcessObjects() {
    releaseReplays();
    releaseTimers();
    releaseBus();
    releaseFaults();
    releaseMessageBox();
    releaseLiveCounts();
}

}  // namespace
}  // namespace juxhid::sim
