// The notification-area mirror: remote notification icons re-made in the local notification area.
#pragma once

#include <windows.h>

// A proxy window is going: the icons the mirror put in the notification area for it go too.
void RemoveNotifyIconsOf(HWND hwnd);

// Library unload: frees the pending notification record and clears the tray icon assembly.
void ResetTrayMirror();
