// winsim user32: painting (update state, WM_PAINT, BeginPaint), the screen, the work area and the
// cursor. There is no screen to draw on: painting only tracks which windows need WM_PAINT.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "user_internal.h"

namespace winsim::detail {
namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;

RECT g_workArea = {0, 0, kScreenWidth, kScreenHeight};
POINT g_cursor = {0, 0};

void ValidateLocked(Window *window, bool allChildren) {
  window->needsPaint = false;
  if (!allChildren) return;
  for (HWND child : window->children)
    if (Window *c = FindWindowLocked(child)) ValidateLocked(c, true);
}

void CollectNeedingPaint(HWND hwnd, bool allChildren, std::vector<HWND> &out) {
  Window *window = FindWindowLocked(hwnd);
  if (!window) return;
  if (window->needsPaint) out.push_back(hwnd);
  if (allChildren)
    for (HWND child : window->children) CollectNeedingPaint(child, true, out);
}

void PaintNow(const std::vector<HWND> &windows) {
  for (HWND hwnd : windows) {
    bool needs;
    {
      Guard guard(Lock());
      Window *window = FindWindowLocked(hwnd);
      needs = window && window->needsPaint && IsVisibleLocked(hwnd);
    }
    if (needs) SendMessageInternal(hwnd, WM_PAINT, 0, 0, false);
  }
}

}  // namespace

std::set<HWND> &PaintCandidatesLocked() {
  static std::set<HWND> *candidates = new std::set<HWND>;  // never destroyed, like the windows
  return *candidates;
}

// Only visible windows collect an update region, as on Windows.
void InvalidateLocked(Window *window, bool allChildren) {
  if (IsVisibleLocked(window->handle)) {
    window->needsPaint = true;
    PaintCandidatesLocked().insert(window->handle);
    WakeThreadLocked(window->threadId);
  }
  if (!allChildren) return;
  for (HWND child : window->children)
    if (Window *c = FindWindowLocked(child)) InvalidateLocked(c, true);
}

RECT WorkAreaLocked() { return g_workArea; }

}  // namespace winsim::detail

using namespace winsim::detail;
using winsim::UserCall;
using winsim::UserCallRecord;

extern "C" {

BOOL WINAPI RedrawWindow(HWND hwnd, const RECT *update, HRGN updateRegion, UINT flags) {
  (void)update;
  (void)updateRegion;  // the whole window is invalidated or validated
  std::vector<HWND> targets;
  BOOL result = TRUE;
  {
    Guard guard(Lock());
    if (hwnd) {
      if (FindWindowOrFailLocked(hwnd))
        targets.push_back(hwnd);
      else
        result = FALSE;
    } else {
      targets.assign(TopLevelLocked().begin(), TopLevelLocked().end());  // the desktop: every top-level window
    }
    bool children = (flags & RDW_ALLCHILDREN) || !hwnd;
    for (HWND target : targets) {
      Window *window = FindWindowLocked(target);
      if (flags & RDW_INVALIDATE)
        InvalidateLocked(window, children);
      else if (flags & RDW_VALIDATE)
        ValidateLocked(window, children);
    }
  }
  if (result && (flags & RDW_UPDATENOW)) {
    std::vector<HWND> paint;
    {
      Guard guard(Lock());
      for (HWND target : targets) CollectNeedingPaint(target, true, paint);
    }
    PaintNow(paint);
  }
  UserCallRecord record{UserCall::RedrawWindow};
  record.hwnd = hwnd;
  record.flags = flags;
  record.result = result;
  LogCall(record);
  return result;
}

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT *rect, BOOL erase) {
  (void)rect;
  (void)erase;
  Guard guard(Lock());
  if (!hwnd) {
    for (HWND top : TopLevelLocked()) InvalidateLocked(FindWindowLocked(top), true);
    return TRUE;
  }
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return FALSE;
  InvalidateLocked(window, false);
  return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
  std::vector<HWND> paint;
  {
    Guard guard(Lock());
    if (!FindWindowOrFailLocked(hwnd)) return FALSE;
    CollectNeedingPaint(hwnd, true, paint);
  }
  PaintNow(paint);
  return TRUE;
}

BOOL WINAPI EqualRect(const RECT *a, const RECT *b) {
  if (!a || !b) return FALSE;
  return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

BOOL WINAPI SystemParametersInfoA(UINT action, UINT uiParam, PVOID pvParam, UINT winIni) {
  (void)uiParam;
  (void)winIni;
  Guard guard(Lock());
  switch (action) {
    case SPI_GETWORKAREA:
      if (!pvParam) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      std::memcpy(pvParam, &g_workArea, sizeof g_workArea);
      return TRUE;
    case SPI_SETWORKAREA: {
      RECT area = {0, 0, kScreenWidth, kScreenHeight};
      if (pvParam) std::memcpy(&area, pvParam, sizeof area);
      if (area.left >= area.right || area.top >= area.bottom) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      g_workArea = area;
      return TRUE;
    }
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
}

int WINAPI GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return kScreenWidth;
    case SM_CYSCREEN:
      return kScreenHeight;
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
  if (!point) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Guard guard(Lock());
  *point = g_cursor;
  return TRUE;
}

// The cursor stays on the screen, as on Windows.
BOOL WINAPI SetCursorPos(int x, int y) {
  Guard guard(Lock());
  g_cursor.x = std::clamp(x, 0, kScreenWidth - 1);
  g_cursor.y = std::clamp(y, 0, kScreenHeight - 1);
  return TRUE;
}

}  // extern "C"

namespace winsim {

void SetWorkArea(const RECT &area) {
  detail::Guard guard(detail::Lock());
  detail::g_workArea = area;
}

void SetCursorPosition(int x, int y) {
  detail::Guard guard(detail::Lock());
  detail::g_cursor = {x, y};
}

}  // namespace winsim
