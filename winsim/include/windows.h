// winsim's <windows.h>: the Win32 surface the add-in, its tests and its tools use, on Linux.
#pragma once
#include "winsim_types.h"
#include "winsim_kernel.h"
#include "winsim_user.h"
