// Local windows: the class "WTSHalvornDummy" and the zero-size pop-up windows that carry remote
// windows into the taskbar, proxy mirrored notification icons and stand for the session.
#pragma once

#include <windows.h>

// The library's set-up gives the class its window procedure before the first window is made.
void SetLocalWindowProcedure(WNDPROC procedure);
// A new local window (registering the class at the first one) named title, with exactTitle, when
// given, as its text; null when it cannot be made.
HWND MakeLocalWindow(const char *title, const WCHAR *exactTitle);
// Shows a local window: zero size, at the screen origin, on top of the z-order, without redrawing.
void ShowLocalWindowOnTop(HWND hwnd);
// Hides the local window, gives it the tool-window style or takes it away, and shows it with
// showCommand (SW_HIDE keeps it hidden).
void RestyleLocalWindow(HWND hwnd, bool tool, int showCommand);
// Destroys a local window. One that belongs to another thread (library unload on a thread that
// did not create the windows) cannot be destroyed from here: it is handed to the default window
// procedure, so nothing calls into this library once it is gone, and closed by its own thread.
void DestroyLocalWindow(HWND hwnd);
// Library unload (not process termination): unregisters the class after the windows are gone.
void UnregisterLocalWindowClass();
