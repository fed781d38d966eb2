// The floor the library is measured against on Wine's stack: for each
// device, one thread blocked in ReadFile on the device's own HID handle,
// the driver's queue at the size the library asks for, and nothing else
// done with a report but noting when it came.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "arrivals.h"

namespace juxhid::winekernel {

// The HID device paths of one vendor's devices, by product, in one pass.
std::map<uint16_t, std::string> hidPathsOfVendor(uint16_t vendor);

// This side's clock: the performance counter in nanoseconds.
int64_t localNowNs();
int64_t performanceFrequency();

class BareReaders {
public:
    // Opens every path and starts its reader; false (nothing left running)
    // when a handle could not be opened or a thread not started.
    bool start(const std::vector<std::string>& paths, uint32_t queue, Arrivals* arrivals);
    // Ends the pending reads and joins the readers.
    void stop();
    ~BareReaders() { stop(); }

    // The queue the driver took on the first handle.
    uint32_t queue() const { return queue_; }

private:
    struct Reader {
        void* handle = nullptr;
        void* thread = nullptr;
        Arrivals* arrivals = nullptr;
        std::atomic<bool>* stopping = nullptr;
    };
    static unsigned long __stdcall readLoop(void* argument);

    std::vector<Reader> readers_;
    std::atomic<bool> stopping_{false};
    uint32_t queue_ = 0;
};

}  // namespace juxhid::winekernel
