#include "skewed_stack.h"

#include <vector>

#if defined(__i386__)
// quorv_skewed_call(fn, args, count, skew), cdecl. The caller's stack pointer is kept in EBX, which
// every convention preserves, and restored after the call whoever pops the arguments.
extern "C" std::uintptr_t QuorvSkewedCall(const void *fn, const std::uintptr_t *args, unsigned count,
                                          unsigned skew) __asm__("quorv_skewed_call");
__asm__(
    ".text\n"
    ".globl quorv_skewed_call\n"
    "quorv_skewed_call:\n"
    "  push %ebp\n"
    "  mov %esp, %ebp\n"
    "  push %ebx\n"
    "  push %esi\n"
    "  push %edi\n"
    "  mov 16(%ebp), %ecx\n"       // count
    "  lea (,%ecx,4), %eax\n"
    "  mov %esp, %edi\n"
    "  sub %eax, %edi\n"
    "  sub $64, %edi\n"
    "  and $-16, %edi\n"
    "  sub 20(%ebp), %edi\n"       // the stack pointer at the call: skew bytes below a boundary
    "  mov %esp, %ebx\n"
    "  mov %edi, %esp\n"
    "  mov 12(%ebp), %esi\n"       // args
    "  xor %edx, %edx\n"
    "1:\n"
    "  cmp %ecx, %edx\n"
    "  jae 2f\n"
    "  mov (%esi,%edx,4), %eax\n"
    "  mov %eax, (%edi,%edx,4)\n"
    "  inc %edx\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  mov %ebx, %esp\n"
    "  pop %edi\n"
    "  pop %esi\n"
    "  pop %ebx\n"
    "  pop %ebp\n"
    "  ret\n");

namespace testkit {

std::uintptr_t CallOnSkewedStack(const void *fn, std::initializer_list<std::uintptr_t> args, unsigned skew) {
  const std::vector<std::uintptr_t> values(args);
  return QuorvSkewedCall(fn, values.data(), static_cast<unsigned>(values.size()), skew & 15u);
}

}  // namespace testkit

#endif
