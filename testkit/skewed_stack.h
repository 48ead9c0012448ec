// Calls a function the way a client built by another compiler may: on 32-bit x86 with the stack
// pointer a chosen number of bytes off a 16-byte boundary. The 32-bit Windows calling convention
// promises only 4-byte alignment, so code called from outside must not assume more.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace testkit {

// Calls fn with the 32-bit arguments given, pushed right to left, with the stack pointer at the
// call instruction `skew` bytes below a 16-byte boundary (0, 4, 8 or 12); returns EAX. The callee
// may pop its arguments (stdcall) or not (cdecl). Only for 32-bit x86: the other conventions keep
// the stack aligned.
#if defined(__i386__)
std::uintptr_t CallOnSkewedStack(const void *fn, std::initializer_list<std::uintptr_t> args, unsigned skew);
#endif

}  // namespace testkit
