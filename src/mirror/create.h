// Local windows: the class "WTSHalvornDummy" and the zero-size pop-up windows that carry remote
// windows into the taskbar.
#pragma once

#include "mirror/window_data.h"

// Makes sure the record has a local window and shows it: zero size, at the screen origin, on top.
void CreateLocalWindow(CWindowData *record);
// Hides the local window, gives it the tool-window style or takes it away, and shows it with
// showCommand (SW_HIDE keeps it hidden).
void RestyleLocalWindow(HWND hwnd, bool tool, int showCommand);
// Destroys a local window. One that belongs to another thread (library unload on a thread that
// did not create the windows) cannot be destroyed from here: it is handed to the default window
// procedure, so nothing calls into this library once it is gone, and closed by its own thread.
void DestroyLocalWindow(HWND hwnd);
// Library unload (not process termination): unregisters the class after the windows are gone.
void UnregisterLocalWindowClass();
