// Fault injection: every wrapped platform call asks here first whether an
// armed fault takes it. A fault names the kind of call, the class of thread
// making it and the device it concerns; it lets `skip` matching calls
// through and then fails `count` of them.
#pragma once

#include <cstdint>

#include "juxhid_sim.h"

namespace juxhid::sim {

// What the failing call reports.
struct FaultOutcome {
    uint32_t error;
    uint32_t shortCount;
};

// True when an armed fault takes this call; *outcome then says how it fails.
// `device` is the id of the device the call concerns, 0 for none.
bool faultTakes(JuxsimCall call, int32_t device, FaultOutcome* outcome);

// The class of the calling thread, as the trampolines of the library's
// threads and of the timer tag it.
void tagCurrentThread(JuxsimThread role);
JuxsimThread currentThreadClass();

// Tags the current thread for the lifetime of the object and restores the
// earlier tag afterwards (a timer routine may run on a tagged thread).
class ThreadTag {
public:
    explicit ThreadTag(JuxsimThread role) : previous_(currentThreadClass()) { tagCurrentThread(role); }
    ~ThreadTag() { tagCurrentThread(previous_); }
    ThreadTag(const ThreadTag&) = delete;
    ThreadTag& operator=(const ThreadTag&) = delete;

private:
    JuxsimThread previous_;
};

}  // namespace juxhid::sim
