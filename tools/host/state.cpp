#include "state.h"

#include "encode.h"
#include "ui.h"

#include <cstdio>
#include <cstring>

namespace host {

namespace {

uint32_t Fnv(const void *data, size_t size, uint32_t hash = 2166136261u) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * 16777619u;
  return hash;
}

// The bitmap's pixels as 32 bpp top-down rows.
bool BitmapBits(HBITMAP bitmap, int *width, int *height, std::vector<uint32_t> *bits) {
  BITMAP bm = {};
  if (!bitmap || !GetObjectA(bitmap, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0 || bm.bmWidth > 1024 ||
      bm.bmHeight > 1024)
    return false;
  HDC dc = GetDC(nullptr);
  *bits = testkit::ReadBitmapPixels(dc, bitmap, bm.bmWidth, bm.bmHeight);
  ReleaseDC(nullptr, dc);
  *width = bm.bmWidth;
  *height = bm.bmHeight;
  return !bits->empty();
}

std::string DescribeIcon(HICON icon) {
  if (!icon) return "none";
  ICONINFO ii = {};
  if (!GetIconInfo(icon, &ii)) return "unreadable";
  int w = 0, h = 0, mw = 0, mh = 0;
  std::vector<uint32_t> color, mask;
  const bool ok = BitmapBits(ii.hbmColor, &w, &h, &color) && BitmapBits(ii.hbmMask, &mw, &mh, &mask);
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  if (!ok) return "unreadable";
  char text[48];
  const uint32_t hash = Fnv(mask.data(), mask.size() * 4, Fnv(color.data(), color.size() * 4));
  snprintf(text, sizeof text, "%dx%d:%08x", w, h, static_cast<unsigned>(hash));
  return text;
}

HICON WindowIcon(HWND hwnd, WPARAM which) {
  DWORD_PTR icon = 0;
  SendMessageTimeoutW(hwnd, WM_GETICON, which, 0, SMTO_ABORTIFHUNG, 500, &icon);
  return reinterpret_cast<HICON>(icon);
}

BOOL CALLBACK CountLocal(HWND hwnd, LPARAM count) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  if (strcmp(name, "WTSHalvornDummy") == 0) ++*reinterpret_cast<size_t *>(count);
  return TRUE;
}

}  // namespace

FrameState ReadFrameState(HWND frame) {
  FrameState s;
  if (!frame) return s;
  s.visible = IsWindowVisible(frame);
  const LONG style = GetWindowLongA(frame, GWL_STYLE);
  s.caption = (style & WS_CAPTION) == WS_CAPTION;
  s.tool = (GetWindowLongA(frame, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
  GetWindowRect(frame, &s.rect);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  if (GetWindowRgn(frame, region) != ERROR) {
    s.hasRegion = true;
    const DWORD size = GetRegionData(region, 0, nullptr);
    if (size >= sizeof(RGNDATAHEADER) && size < (1u << 24)) {
      std::vector<char> data(size);
      RGNDATA *rgn = reinterpret_cast<RGNDATA *>(data.data());
      if (GetRegionData(region, size, rgn) == size) {
        const RECT *r = reinterpret_cast<const RECT *>(rgn->Buffer);
        for (DWORD i = 0; i < rgn->rdh.nCount && sizeof(RGNDATAHEADER) + (i + 1) * sizeof(RECT) <= size; ++i)
          s.rects.push_back(r[i]);
      }
    }
  }
  DeleteObject(region);
  HostUi &ui = HostUi::Get();
  s.viewVisible = ui.view() && IsWindowVisible(ui.view());
  s.plainVisible = ui.plainChild() && IsWindowVisible(ui.plainChild());
  return s;
}

WindowState ReadWindowState(HWND hwnd) {
  WindowState s;
  s.visible = IsWindowVisible(hwnd);
  s.tool = (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
  wchar_t text[1024] = {};
  InternalGetWindowText(hwnd, text, 1024);
  s.title = Narrow(text);
  s.bigIcon = DescribeIcon(WindowIcon(hwnd, ICON_BIG));
  s.smallIcon = DescribeIcon(WindowIcon(hwnd, ICON_SMALL));
  return s;
}

bool FramePointShown(const FrameState &state, long x, long y) {
  if (!state.visible) return false;
  if (!state.hasRegion)
    return x >= 0 && y >= 0 && x < state.rect.right - state.rect.left && y < state.rect.bottom - state.rect.top;
  for (const RECT &r : state.rects)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

std::vector<std::string> DescribeFrame(const FrameState &s) {
  char line[160];
  snprintf(line, sizeof line, "final frame %s %s %s at %ld,%ld,%ld,%ld; view %s, other child %s",
           s.visible ? "visible" : "hidden", s.caption ? "caption" : "nocaption", s.tool ? "tool" : "notool",
           s.rect.left, s.rect.top, s.rect.right, s.rect.bottom, s.viewVisible ? "visible" : "hidden",
           s.plainVisible ? "visible" : "hidden");
  std::vector<std::string> out{line};
  if (!s.hasRegion) {
    out.push_back("final frame shape: none (the whole window)");
    return out;
  }
  std::string shape = "final frame shape: " + std::to_string(s.rects.size()) + " rectangles";
  for (const RECT &r : s.rects) {
    snprintf(line, sizeof line, " %ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    shape += line;
  }
  out.push_back(shape);
  return out;
}

std::string DescribeWindow(const std::string &name, const WindowState &s) {
  return "final window " + name + " " + (s.visible ? "visible" : "hidden") + " " + (s.tool ? "tool" : "notool") +
         " title \"" + s.title + "\" big icon " + s.bigIcon + " small icon " + s.smallIcon;
}

size_t CountLocalWindows() {
  size_t count = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountLocal, reinterpret_cast<LPARAM>(&count));
  return count;
}

}  // namespace host
