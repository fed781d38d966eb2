// Calls an exported function by its address, the way a host program of this
// architecture does, with pointer-width arguments.
//
// On 32-bit Windows the library's functions are stdcall: the callee pops its
// own arguments, and a callee that pops too few or too many bytes corrupts
// its caller's stack. So there the call also measures how far the stack
// pointer moved across it. 64-bit Windows has a single convention in which
// the caller owns the stack, so there is nothing to measure.
#pragma once

#include <cstdint>

namespace juxhid::test {

// True where exported functions carry decorated aliases and pop their own
// arguments: 32-bit Windows.
constexpr bool kStdcallPlatform = sizeof(void*) == 4;

// Most arguments any exported function takes.
constexpr uint32_t kMaxArguments = 5;

struct HostCall {
    uint32_t result;  // the 32-bit result register after the call
    // 32-bit Windows only: bytes the stack pointer moved across the call, 0
    // when the callee popped exactly its arguments. A cdecl callee leaves
    // them behind (negative); one that pops too much leaves it positive.
    int32_t stackMoved;
};

// Calls `function` with the first `count` (at most kMaxArguments) of
// `arguments`.
HostCall callExport(const void* function, const uintptr_t* arguments, uint32_t count);

}  // namespace juxhid::test
