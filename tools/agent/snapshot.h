// One look at a top-level window of the session, as the scan reads it and the tracker compares it.
// Plain data: the tracker and its tests need no window to exist.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoders.h"

namespace agent {

// What the add-in is told about a window.
enum class WindowKind {
  kTaskbar,    // CREATE without parent or flags: a local window with a taskbar button
  kOwned,      // CREATE with its owner: recorded by the add-in, no button (dialogs)
  kTool,       // CREATE with the tool-window flag: a hidden local window, no button (palettes)
  kShapeOnly,  // not announced, only part of the shape (menus, tooltips, drop-downs)
};

// The parts of a window's styles and relations the classification reads.
struct WindowTraits {
  uint32_t style = 0;
  uint32_t exStyle = 0;
  bool owned = false;
};
// What a taskbar makes of a visible top-level window: a button for unowned windows that are not
// tool windows, and for any window that asks for one (WS_EX_APPWINDOW); owned windows and tool
// windows with a caption are announced without one; captionless owned or tool windows (menus,
// tooltips, drop-downs) are only shape.
WindowKind Classify(const WindowTraits &traits);

struct WindowSnapshot {
  uintptr_t handle = 0;  // the HWND, for the tracker's user; never sent
  uint32_t id = 0;       // the window id on the wire: the handle's 32 significant bits
  uint32_t ownerId = 0;  // kOwned: the owner's id
  uint32_t group = 0;    // the process id: windows of one program go together
  WindowKind kind = WindowKind::kShapeOnly;
  bool visible = false;
  // The title and the icon handles are read only for visible windows that are announced (not for
  // menus, tooltips and the like): described says they were. A window that is no longer described
  // keeps what was sent for it, since nothing was read to compare with.
  bool described = false;
  std::u16string title;
  std::vector<wire::Rect> shape;         // frame coordinates; empty when nothing of it is on screen
  uintptr_t bigIcon = 0, smallIcon = 0;  // icon handles, 0 when the window has none
};

}  // namespace agent
