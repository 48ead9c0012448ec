// One look at the session's top-level windows, in z-order (top first).
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "snapshot.h"

namespace agent {

// The window id on the wire: the handle's 32 significant bits (also on 64-bit Windows, where
// handles of windows are 32-bit values).
uint32_t WindowId(HWND hwnd);

// Every visible top-level window (the desktop and the session's taskbar left out) and every
// window for which reported(id) is true, visible or not. Titles, shapes and icon handles are read
// for visible windows only; shapes are in frame coordinates: screen coordinates from the top
// left corner of the virtual screen, cut to it.
// With hostProcesses (the TCP connection to the stand-in host): the windows of every process that
// shows the host's frame window or the add-in's local windows on this desktop are left out, and
// those processes' ids are put there (empty when the host is elsewhere, as it should be).
std::vector<WindowSnapshot> ScanWindows(const std::function<bool(uint32_t)> &reported,
                                        std::vector<DWORD> *hostProcesses = nullptr);

}  // namespace agent
