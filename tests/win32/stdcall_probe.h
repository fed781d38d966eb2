// Calls an exported function the way a stdcall caller does, and measures
// whether the callee kept its side of the convention.
#pragma once

#include <cstdint>

namespace juxhid::test {

struct ProbedCall {
    uint32_t result;  // EAX after the call
    // Bytes the stack pointer moved across the call: 0 when the callee popped
    // exactly its arguments.
    int32_t stackMoved;
};

// Pushes `count` 32-bit arguments right to left, calls, and pops nothing
// itself. A cdecl callee leaves the arguments behind (stackMoved negative);
// a callee that pops too much leaves it positive.
ProbedCall callAsStdcall(const void* function, const uint32_t* arguments, uint32_t count);

}  // namespace juxhid::test
