// HELLO: the session start that takes the host frame window over.
#include "session/hello.h"

#include "mirror/create.h"
#include "mirror/window_data.h"
#include "protocol/handlers.h"
#include "session/host_messages.h"
#include "session/settings.h"

#include <cstring>

namespace {

HWND g_hostFrame = nullptr;

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchHostFrame(HWND hwnd, LPARAM context) {
  Search *search = reinterpret_cast<Search *>(context);
  DWORD processId = 0;
  GetWindowThreadProcessId(hwnd, &processId);
  if (processId != search->processId) return TRUE;
  char title[128] = {};
  GetWindowTextA(hwnd, title, sizeof title);
  if (strcmp(title, LoadHostAppName()) != 0) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindHostFrameWindow() {
  Search search = {GetCurrentProcessId(), nullptr};
  EnumWindows(MatchHostFrame, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND CreateSessionPlaceholder() {
  CWindowData *record = AddNewWindowData(0);
  if (!record) return nullptr;
  CreateLocalWindow(record);
  RestyleLocalWindow(record->m_hWnd, true, SW_SHOW);
  return record->m_hWnd;
}

}  // namespace

HWND GetHostFrameWindow() { return g_hostFrame; }

int OnHello() {
  ResetWindowRegistry();
  if (!g_hostFrame) g_hostFrame = FindHostFrameWindow();
  if (!g_hostFrame) return 0;
  const HWND host = g_hostFrame;

  if (HWND placeholder = CreateSessionPlaceholder())
    PostMessageA(host, WM_USER_PLACEHOLDER_WINDOW, reinterpret_cast<WPARAM>(placeholder), 0);

  ShowWindow(host, SW_HIDE);
  const int mode = GetDisplayMode();
  if (mode != 2) SetWindowLongA(host, GWL_STYLE, GetWindowLongA(host, GWL_STYLE) & static_cast<LONG>(0xFF3FFFFF));
  if (mode == 0) SetWindowLongA(host, GWL_EXSTYLE, GetWindowLongA(host, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);

  RECT workArea = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  // The size is the work area's right and bottom edges, as the host expects.
  MoveWindow(host, workArea.left, workArea.top, workArea.right, workArea.bottom, FALSE);

  for (HWND child = GetWindow(host, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char className[256] = {};
    GetClassNameA(child, className, sizeof className);
    if (strncmp(className, "ATL:", 4) != 0) ShowWindow(child, SW_HIDE);
  }
  if (mode != 0) ShowWindow(host, SW_SHOW);
  return 1;
}
