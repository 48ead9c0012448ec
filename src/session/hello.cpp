// HELLO: the session start that takes the host frame window over.
#include "session/hello.h"

#include "appearance/shape.h"
#include "common/host_frame.h"
#include "common/host_interface.h"
#include "common/settings.h"
#include "mirror/local_window.h"
#include "mirror/window_data.h"

#include <cstring>

namespace {

// The Remote Desktop control lives in children of the host frame whose class names start so (the
// class names the control's hosting library gives its windows); every other child is hidden.
const char kClientControlClassPrefix[] = "ATL:";

HWND CreateSessionPlaceholder() {
  CWindowData *record = AddNewWindowData(0);
  if (!record) return nullptr;
  CreateLocalWindow(record);
  RestyleLocalWindow(record->m_hWnd, true, SW_SHOW);
  return record->m_hWnd;
}

}  // namespace

int OnHello() {
  ResetShapeRegion();
  DestroyAllWindowData();
  const HWND host = LocateHostFrameWindow();
  if (!host) return 0;

  if (HWND placeholder = CreateSessionPlaceholder())
    PostMessageA(host, WM_USER_PLACEHOLDER_WINDOW, reinterpret_cast<WPARAM>(placeholder), 0);

  ShowWindow(host, SW_HIDE);
  const DisplayMode mode = GetDisplayMode();
  if (mode != DisplayMode::kWithCaption)
    SetWindowLongA(host, GWL_STYLE, GetWindowLongA(host, GWL_STYLE) & ~static_cast<LONG>(WS_CAPTION));
  // A tool window has no taskbar button: in shaped mode only the remote windows' buttons show.
  if (mode == DisplayMode::kShaped)
    SetWindowLongA(host, GWL_EXSTYLE, GetWindowLongA(host, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);

  RECT workArea = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  // The size is the work area's right and bottom edges, as the host expects.
  MoveWindow(host, workArea.left, workArea.top, workArea.right, workArea.bottom, FALSE);

  for (HWND child = GetWindow(host, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char className[256] = {};
    GetClassNameA(child, className, sizeof className);
    if (strncmp(className, kClientControlClassPrefix, sizeof kClientControlClassPrefix - 1) != 0)
      ShowWindow(child, SW_HIDE);
  }
  // In shaped mode the first shape update shows the frame.
  if (mode != DisplayMode::kShaped) ShowWindow(host, SW_SHOW);
  return 1;
}
