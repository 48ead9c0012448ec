// DESTROY, DESTROYGRP and SHOWWINDOW.
#include "mirror/window_data.h"
#include "protocol/handlers.h"
#include "session/hello.h"
#include "session/settings.h"

int OnDestroy(UINT32, UINT32 remoteWnd, UINT32) {
  const WindowRegistry &registry = GetWindowRegistry();
  auto entry = registry.find(remoteWnd);
  if (entry == registry.end()) return 0;
  DestroyWindowData(entry);
  return 1;
}

int OnDestroyGroup(UINT32, UINT32 groupId, UINT32) {
  const WindowRegistry &registry = GetWindowRegistry();
  for (auto entry = registry.begin(); entry != registry.end();) {
    if (entry->second->m_groupId == groupId)
      entry = DestroyWindowData(entry);
    else
      ++entry;
  }
  const HWND host = GetHostFrameWindow();
  if (GetDisplayMode() == 0 && registry.empty() && host) {
    // Nothing left to show: the host frame gets an empty shape of its own; the accumulated shape
    // stays for the next update.
    HRGN empty = CreateRectRgn(0, 0, 0, 0);
    if (empty && !SetWindowRgn(host, empty, TRUE)) DeleteObject(empty);
    SetForegroundWindow(host);
  }
  return 1;
}

int OnShowWindow(UINT32, UINT32 remoteWnd, UINT32 showCommand) {
  CWindowData *record = FindWindowData(remoteWnd);
  if (!record) return 0;
  if (record->m_hWnd) ShowWindow(record->m_hWnd, static_cast<int>(showCommand));
  return 1;
}
