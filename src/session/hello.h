// Session start: HELLO takes the host frame window over.
#pragma once

#include <windows.h>

// Null until the first session start has found it; then kept for the life of the process.
HWND GetHostFrameWindow();

int OnHello();
HWND FindHostFrameWindow();
HWND CreateSessionPlaceholder();
