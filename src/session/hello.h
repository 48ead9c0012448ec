// Session start: HELLO takes the host frame window over.
#pragma once

#include <windows.h>

// Null until the first session start has found it; then kept for the life of the process.
HWND GetHostFrameWindow();

// HELLO itself is declared with the other command handlers (protocol/handlers.h).
