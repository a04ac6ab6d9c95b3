// Calling a plug-in export with 15 argument slots.
//
// The exports are written by package authors in whatever convention their
// tool produces: stdcall (the callee pops its arguments) or cdecl (the caller
// pops them), with any number of parameters up to 15. No single C++ call
// expression fits both on i386, so the 32-bit stub calls through a few lines
// of assembly that remember the stack pointer and put it back afterwards.
#include "plugins/win32/plugin_host_win32.h"

#if defined(__i386__)

// int32_t zulCallPluginExport(const void* proc, const uint32_t* slots)
// cdecl: [esp+4] = proc, [esp+8] = slots (15 values).
//
//   push ebp / mov ebp, esp   frame: ebp holds our stack pointer across the call
//   push esi                  callee-saved register we use
//   esi = slots, ecx = 15
//   loop: push slots[ecx-1]   slot 15 first, so slot 1 ends on top and the
//                             export sees it as its first argument
//   call proc                 result in eax
//   lea esp, [ebp-4]          back to where we were, whether the export
//                             popped 0, 4 × n or 60 bytes (ebp is callee-saved
//                             in both conventions, so it is still ours)
//   pop esi / pop ebp / ret
asm(R"(
    .text
    .globl _zulCallPluginExport
    .def _zulCallPluginExport; .scl 2; .type 32; .endef
_zulCallPluginExport:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    movl 12(%ebp), %esi
    movl $15, %ecx
1:
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jnz 1b
    call *8(%ebp)
    leal -4(%ebp), %esp
    popl %esi
    popl %ebp
    ret
)");

extern "C" int32_t zulCallPluginExport(const void* proc, const uint32_t* slots);

namespace zul::win32 {

int32_t callWithSlots(const void* proc, const ArgumentSlots& arguments) {
  static_assert(sizeof(uintptr_t) == sizeof(uint32_t));
  return zulCallPluginExport(proc, reinterpret_cast<const uint32_t*>(arguments.data()));
}

}  // namespace zul::win32

#elif defined(__x86_64__)

namespace zul::win32 {

// x86-64 Windows has one calling convention, in which the caller always
// removes the arguments; passing more arguments than the export declares is
// harmless. Plug-ins for this build exist only to test the stub's Windows
// code on 64-bit machines; the stub that ships is 32-bit.
int32_t callWithSlots(const void* proc, const ArgumentSlots& a) {
  using Export15 = int32_t (*)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                               uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
  const auto fn = reinterpret_cast<Export15>(const_cast<void*>(proc));
  return fn(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12], a[13], a[14]);
}

}  // namespace zul::win32

#else
#error "plug-in calls are implemented for i386 and x86-64 only"
#endif
