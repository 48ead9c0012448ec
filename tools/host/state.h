// What the host reads back from the windows: the host frame window's state and shape, and each
// local window's visibility, style, title and icons. Used by expectations and the final state.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "script.h"

namespace host {

struct FrameState {
  bool visible = false, caption = false, tool = false;
  RECT rect = {};
  bool hasRegion = false;     // a window region is set
  std::vector<RECT> rects;    // the region's rectangles, frame window coordinates
  bool viewVisible = false;   // the "ATL:" child
  bool plainVisible = false;  // the ordinary child
};

struct WindowState {
  bool visible = false, tool = false;
  std::string title;    // UTF-8, as stored
  std::string bigIcon;  // "none" or "WxH:hash"
  std::string smallIcon;
};

FrameState ReadFrameState(HWND frame);
WindowState ReadWindowState(HWND hwnd);
// Whether a point (frame window coordinates) of the frame is left visible by its shape.
bool FramePointShown(const FrameState &state, long x, long y);
std::vector<std::string> DescribeFrame(const FrameState &state);
std::string DescribeWindow(const std::string &name, const WindowState &state);
// Local windows of the add-in's class on the calling thread.
size_t CountLocalWindows();

}  // namespace host
