#include "stdcall_probe.h"

// cdecl: probe_stdcall(function, arguments, count, result) answers the stack
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

extern "C" int32_t juxhid_probe_stdcall(const void* function, const uint32_t* arguments, uint32_t count,
                                        uint32_t* result);

namespace juxhid::test {

ProbedCall callAsStdcall(const void* function, const uint32_t* arguments, uint32_t count) {
    ProbedCall call{};
    call.stackMoved = juxhid_probe_stdcall(function, arguments, count, &call.result);
    return call;
}

}  // namespace juxhid::test
