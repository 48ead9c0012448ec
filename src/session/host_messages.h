// The private window messages exchanged with the host application.
#pragma once

#include <windows.h>

constexpr UINT WM_USER_ACTIVE_WINDOW = WM_USER + 4;       // to the host frame: wParam a local window
constexpr UINT WM_USER_START_PROG_REQ = WM_USER + 5;      // from the host: wParam requester, lParam text
constexpr UINT WM_USER_START_PROG_ACK = WM_USER + 6;      // to the requester
constexpr UINT WM_USER_WINDOWS_CHANGED = WM_USER + 7;     // to the host frame
constexpr UINT WM_USER_PLACEHOLDER_WINDOW = WM_USER + 8;  // to the host frame: wParam the placeholder
constexpr UINT WM_TRAYMESSAGE = WM_USER + 14;             // notification icons' callback message
constexpr UINT WM_SYSMENU_REQUEST = 0x0313;               // the taskbar asks a window for its system menu
