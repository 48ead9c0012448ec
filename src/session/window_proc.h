// The window procedure of every local window the add-in creates.
#pragma once

#include <windows.h>

LRESULT CALLBACK LocalWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// True when a focus event for hwnd comes within the same calendar second as the last one.
bool IsFocusEventRepeated(HWND hwnd);
