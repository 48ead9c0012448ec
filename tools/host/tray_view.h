// The notification area of the host's taskbar strip. Under Wine without a desktop shell the
// system's notification area is a window a few pixels wide in a corner, so that a person would not
// see the add-in's mirrored icons in a screenshot. The host therefore watches the add-in's
// Shell_NotifyIcon calls (its imports of them are pointed at a recorder that passes every call on
// unchanged) and draws the icons it keeps in its own strip.
#pragma once

#include <windows.h>

#include <string>

namespace host {

// Points the module's imports of Shell_NotifyIconA and Shell_NotifyIconW at the recorder. False
// when the module imports neither.
bool WatchNotifyIcons(HMODULE module);
// Forgets every icon (the add-in was unloaded).
void ForgetNotifyIcons();

// Draws the visible icons from left to right, 24 pixels each with 4 between, starting at
// (left, top). Returns how many were drawn.
int DrawNotifyIcons(HDC dc, int left, int top);
// The icon DrawNotifyIcons drew at x when it started at left: its owner and uID. False when no
// icon is there.
bool NotifyIconAt(int x, int left, HWND *owner, UINT *id);
// The tip of the icon (owner, uID), or empty.
std::wstring NotifyIconTip(HWND owner, UINT id);

}  // namespace host
