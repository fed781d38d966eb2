#include "host_call.h"

#if defined(__i386__)

// cdecl: juxhid_probe_stdcall(function, arguments, count, result) pushes the
// arguments right to left, calls, pops nothing itself, and answers the stack
// movement. EBX, ESI, EDI and EBP are preserved by every Windows callee, so
// EDI can keep the stack pointer from before the pushes across the call.
asm(R"(
    .text
    .globl _juxhid_probe_stdcall
_juxhid_probe_stdcall:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  8(%ebp), %eax
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    movl  %esp, %edi
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:  call  *%eax
    movl  20(%ebp), %ecx
    movl  %eax, (%ecx)
    movl  %esp, %eax
    subl  %edi, %eax
    movl  %edi, %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");

extern "C" int32_t juxhid_probe_stdcall(const void* function, const uintptr_t* arguments, uint32_t count,
                                        uint32_t* result);

namespace juxhid::test {

HostCall callExport(const void* function, const uintptr_t* arguments, uint32_t count) {
    HostCall call{};
    call.stackMoved = juxhid_probe_stdcall(function, arguments, count, &call.result);
    return call;
}

}  // namespace juxhid::test

#elif defined(__x86_64__)

namespace juxhid::test {

// The first four arguments travel in registers and the rest on the stack,
// which the caller owns and takes down; so a call with all five slots filled
// reaches a callee of fewer arguments exactly as a call of its own arity
// would. Integer arguments narrower than 64 bits are read from the low half
// of their slot, and a 32-bit result is the low half of RAX.
using FiveArguments = uintptr_t (*)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t);

HostCall callExport(const void* function, const uintptr_t* arguments, uint32_t count) {
    uintptr_t slots[kMaxArguments] = {};
    for (uint32_t at = 0; at < count && at < kMaxArguments; ++at) slots[at] = arguments[at];
    const auto call = reinterpret_cast<FiveArguments>(const_cast<void*>(function));
    const uintptr_t result = call(slots[0], slots[1], slots[2], slots[3], slots[4]);
    return HostCall{static_cast<uint32_t>(result), 0};
}

}  // namespace juxhid::test

#else
#error "host calls are written for 32-bit and 64-bit x86 Windows"
#endif
