// SYSTRAY: the notification-area mirror. Remote notification icons are made again in the local
// notification area, each pointed at a local proxy window whose procedure reports clicks back.
#pragma once

#include <windows.h>

#include <string_view>

// One notification record (part kind -1) or one part of its icon. 1 when it made a shell call.
int OnSysTray(UINT32 messageNumber, UINT32 remoteWnd, INT32 partKind, bool large, std::string_view payload);

// A proxy window is going: the icons the mirror put in the notification area for it go too.
void RemoveNotifyIconsOf(HWND hwnd);

// Library unload: frees the pending notification record and clears the tray icon assembly.
void ResetTrayMirror();
