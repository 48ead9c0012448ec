// winsim's inspection interface: what Win32 cannot tell a test (the clock, the module path, the
// kernel objects alive, the user's rights, and the window manager's internals). Tests only.
#pragma once

#include <windows.h>

#include <cstdint>

namespace winsim {

// The clock behind GetLocalTime and the C runtime's time(): real until a test fixes it.
void SetLocalTime(const SYSTEMTIME &time);
void SetCalendarTime(int64_t secondsSince1970);

// What GetModuleFileNameA(NULL, ...) reports for the executable (a Windows path, e.g.
// "C:\\host\\host.exe"); by default the real path of the running program.
void SetModuleFileName(const char *path);

// Kernel objects: how many kernel handles are open.
int OpenKernelHandles();

// A standard user may not open keys under HKEY_LOCAL_MACHINE for writing.
void SetStandardUser(bool standard);

}  // namespace winsim

#if __has_include("winsim_inspect_user.h")
#include "winsim_inspect_user.h"
#endif
