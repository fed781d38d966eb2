// The library's one end of life. Once unloading (or the process's exit) has
// begun, nothing new may start: no opening, no worker thread, no callback, no
// pacing chain. Every call that could start one passes a gate first; the
// unload closes the gate, waits for the calls already past it, and only then
// stops what exists. So a single pass finds everything, also what a callback
// started just before it saw the gate close.
#pragma once

#include <cstdint>

namespace juxhid {

// At load: the gate opens.
void openTheGate();

// A call that may create something enters here; false once the end of life
// has begun (the call then answers its own "unloading" status). A call that
// entered leaves through passGate's end.
bool enterGate();
void leaveGate();

// True once the end of life has begun: workers stop calling the host.
bool endOfLifeBegun();

// At unload: refuses every later enterGate, then waits for the calls that
// already entered, at most `budgetMs`; what it waited is taken from the
// budget. False when some were still inside when the budget ran out.
bool closeTheGate(uint32_t& budgetMs);

// A pass through the gate for the length of a scope.
class GatePass {
public:
    GatePass() : admitted_(enterGate()) {}
    ~GatePass() {
        if (admitted_) leaveGate();
    }
    GatePass(const GatePass&) = delete;
    GatePass& operator=(const GatePass&) = delete;
    explicit operator bool() const { return admitted_; }

private:
    bool admitted_;
};

}  // namespace juxhid
