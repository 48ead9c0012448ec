// The window procedure of every local window the add-in creates.
#pragma once

#include <windows.h>

LRESULT CALLBACK LocalWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
