// The host frame window: the host application's own top-level window, found by its title at the
// first session start and kept for the life of the process.
#pragma once

#include <windows.h>

// Null until a session start has found it.
HWND GetHostFrameWindow();
// The first session start: searches the windows of this process for the one titled as the host's
// AppName setting, unless one was found before. Returns the host frame window, or null.
HWND LocateHostFrameWindow();
