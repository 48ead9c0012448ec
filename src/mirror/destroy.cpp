// DESTROY and DESTROYGRP.
#include "mirror/destroy.h"

#include "common/host_frame.h"
#include "common/settings.h"
#include "mirror/window_data.h"

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
  if (GetDisplayMode() == DisplayMode::kShaped && registry.empty() && host) {
    // Nothing left to show: the host frame gets an empty shape of its own; the accumulated shape
    // stays for the next update.
    HRGN empty = CreateRectRgn(0, 0, 0, 0);
    if (empty && !SetWindowRgn(host, empty, TRUE)) DeleteObject(empty);
    SetForegroundWindow(host);
  }
  return 1;
}
