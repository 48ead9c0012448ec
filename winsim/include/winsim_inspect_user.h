// winsim, for tests only: what Win32 cannot tell a test about the window manager, the notification
// area and the GDI objects — and the few knobs a test needs (work area, cursor, windows of another
// process). Never used by the add-in.
#pragma once

#include "windows.h"

#include <string>
#include <vector>

namespace winsim {

// ---- desktop state ------------------------------------------------------------------------------
void SetWorkArea(const RECT &area);
// Puts the cursor anywhere, also off the screen (SetCursorPos clamps to the screen as Windows does).
void SetCursorPosition(int x, int y);

// A top-level window that belongs to another process: GetWindowThreadProcessId reports processId
// (0: the current process id + 1) and a thread of that process. DestroyWindow from this process
// fails on it; its messages are handled by the default window procedure.
HWND CreateForeignWindow(LPCSTR className, LPCWSTR title, DWORD style, DWORD exStyle, const RECT &rect,
                         DWORD processId = 0);

// ---- notification area --------------------------------------------------------------------------
struct NotifyIconEntry {
  HWND hWnd = nullptr;
  UINT uID = 0;
  UINT uFlags = 0;  // every NIF_ flag that an add or modify has set for the entry
  UINT uCallbackMessage = 0;
  UINT uVersion = 0;
  std::u16string tip;
  HICON hIcon = nullptr;  // the table's own copy: inspect it with GetIconInfo, never destroy it
  DWORD dwState = 0;
  HICON hBalloonIcon = nullptr;  // the value the latest record carried, never a handle of the table's
};
std::vector<NotifyIconEntry> NotifyIcons();
// A click on the icon: sends its callback message to its window, as the shell does (classic
// versions: wParam uID, lParam mouseMessage; version 4: wParam the cursor position, lParam
// MAKELPARAM(mouseMessage, uID)). False when the icon does not exist or has no callback message.
bool ClickNotifyIcon(HWND hWnd, UINT uID, UINT mouseMessage);

// ---- resource accounting ------------------------------------------------------------------------
enum class ObjectKind { Window, Region, Bitmap, Icon, DeviceContext, Brush };
// Live objects of a kind in this process (stock objects and windows of other processes excluded).
size_t LiveObjectCount(ObjectKind kind);
// The window that owns a region given to it with SetWindowRgn, or null.
HWND RegionOwner(HRGN region);
// The nth CreateDIBitmap call from now on (1: the next) fails, as when GDI runs out of objects.
void FailBitmapCreation(int nth);

// ---- call log -----------------------------------------------------------------------------------
enum class UserCall {
  ShowWindow,
  SetWindowPos,
  MoveWindow,
  SetForegroundWindow,
  SetWindowLong,
  SetWindowRgn,
  DestroyWindow,
  SetWindowText,
  RedrawWindow,
  PostMessage
};
struct UserCallRecord {
  UserCall call;
  HWND hwnd = nullptr;
  HWND insertAfter = nullptr;        // SetWindowPos
  int x = 0, y = 0, cx = 0, cy = 0;  // SetWindowPos, MoveWindow
  // SetWindowPos flags, ShowWindow command, MoveWindow repaint, RedrawWindow flags, SetWindowRgn
  // redraw, PostMessage message
  UINT flags = 0;
  int index = 0;       // SetWindowLong
  LONG_PTR value = 0;  // SetWindowLong value, SetWindowRgn region, PostMessage wParam
  LONG_PTR result = 0;
};
// Every call of the kinds above since the start or the last clear, in call order, from all threads.
std::vector<UserCallRecord> UserCallLog();
void ClearUserCallLog();

}  // namespace winsim
