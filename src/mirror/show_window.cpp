// SHOWWINDOW.
#include "mirror/show_window.h"

#include "mirror/window_data.h"

int OnShowWindow(UINT32, UINT32 remoteWnd, UINT32 showCommand) {
  CWindowData *record = FindWindowData(remoteWnd);
  if (!record) return 0;
  // Passed on as received: the agent's show command is a Win32 one.
  if (record->m_hWnd) ShowWindow(record->m_hWnd, static_cast<int>(showCommand));
  return 1;
}
