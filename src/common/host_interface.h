// The interface between the add-in and the host application that loads it: the private window
// messages they exchange and the notification icons' callback message. The add-in, the stand-in
// host (tools/host) and the tests all use this one header.
#pragma once

#include <windows.h>

// Posted to the host frame window: wParam is the local window that became active, lParam 0.
constexpr UINT WM_USER_ACTIVE_WINDOW = WM_USER + 4;
// Sent by a window of the host process to any local window: wParam is the requesting window,
// lParam the address of a writable, zero-terminated ANSI text (the program to start).
constexpr UINT WM_USER_START_PROG_REQ = WM_USER + 5;
// Posted to the requesting window once its request was taken (wParam 0, lParam 0).
constexpr UINT WM_USER_START_PROG_ACK = WM_USER + 6;
// Posted to the host frame window whenever remote windows appear or change shape (0, 0).
constexpr UINT WM_USER_WINDOWS_CHANGED = WM_USER + 7;
// Posted to the host frame window at each session start: wParam is the session placeholder.
constexpr UINT WM_USER_PLACEHOLDER_WINDOW = WM_USER + 8;
// The callback message of every mirrored notification icon, delivered to its proxy window.
constexpr UINT WM_TRAYMESSAGE = WM_USER + 14;
// The message the taskbar sends a window to show its system menu (lParam packs the point).
constexpr UINT WM_SYSMENU_REQUEST = 0x0313;
