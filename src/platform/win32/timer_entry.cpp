// The timer callback's entry point (see timer_entry.h): run the routine, ask
// for the module reference, and then either return to the service or leave
// through FreeLibrary so that FreeLibrary returns to the service in our place.
#include "timer_entry.h"

#if defined(__i386__)

// stdcall, on entry: [return][id][message][user][dw1][dw2]. Without a
// reference to give back it returns as stdcall does, popping its 20 bytes;
// with one, it turns its own frame into FreeLibrary(module) returning to the
// service: the return address goes to dw1's place, the module to dw2's, and
// FreeLibrary (stdcall, one argument) pops both.
asm(R"(
    .text
    .globl _juxhid_timer_callback@20
_juxhid_timer_callback@20:
    pushl 4(%esp)
    call  _juxhid_timer_run@4
    call  _juxhid_timer_reference@0
    testl %eax, %eax
    jz    1f
    movl  (%esp), %ecx
    movl  %ecx, 16(%esp)
    movl  %eax, 20(%esp)
    addl  $16, %esp
    jmp   *__imp__FreeLibrary@4
1:  ret   $20
)");

#elif defined(__x86_64__)

// The 64-bit convention: id arrives in ECX, the caller pops its own
// arguments, and every call needs 32 bytes of shadow space with the stack
// 16-byte aligned at the call (on entry it is 8 off, for the return
// address). Giving the reference back is a plain tail call: the frame is
// taken down, the module goes into RCX, and FreeLibrary returns to the
// service. The unwind directives describe the frame, and both ways out are
// the epilogue forms the platform's unwinder recognises.
asm(R"(
    .text
    .globl juxhid_timer_callback
    .def   juxhid_timer_callback; .scl 2; .type 32; .endef
    .seh_proc juxhid_timer_callback
juxhid_timer_callback:
    subq  $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    call  juxhid_timer_run
    call  juxhid_timer_reference
    testq %rax, %rax
    jz    1f
    movq  %rax, %rcx
    addq  $40, %rsp
    rex.W jmp *__imp_FreeLibrary(%rip)
1:  addq  $40, %rsp
    ret
    .seh_endproc
)");

#else
#error "the timer callback's entry point is written for 32-bit and 64-bit x86 only"
#endif
