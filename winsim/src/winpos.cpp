// winsim user32: z-order, SetWindowPos and ShowWindow, activation, foreground and focus. The rules
// follow Windows as Wine implements it: raising or showing a top-level window activates it unless
// told not to; activation sends WM_ACTIVATE (WA_INACTIVE) to the old window, WM_ACTIVATE to the new
// one, then WM_KILLFOCUS and WM_SETFOCUS; hiding or destroying the active window activates the next
// visible top-level window in z-order.
//
// Simplification: one active window for the whole process (it is also the foreground window), and
// messages to windows of other threads run on the calling thread.
#include <windows.h>

#include <algorithm>

#include "user_internal.h"

namespace winsim::detail {
namespace {

HWND g_active = nullptr;
HWND g_focus = nullptr;

bool IsSpecialInsertAfter(HWND after) {
  return after == HWND_TOP || after == HWND_BOTTOM || after == HWND_TOPMOST || after == HWND_NOTOPMOST;
}

bool CanActivateLocked(HWND hwnd) {
  Window *window = FindWindowLocked(hwnd);
  if (!window) return false;
  if (!(window->style & WS_VISIBLE)) return false;
  if ((window->style & (WS_POPUP | WS_CHILD)) == WS_CHILD) return false;
  return !(window->style & WS_DISABLED);
}

HWND SetFocusWindow(HWND hwnd) {
  HWND previous;
  {
    Guard guard(Lock());
    previous = g_focus;
    if (hwnd == previous) return previous;
    g_focus = hwnd;
  }
  if (previous && IsWindow(previous))
    SendMessageInternal(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0, false);
  {
    Guard guard(Lock());
    if (g_focus != hwnd) return previous;
  }
  if (hwnd && IsWindow(hwnd)) SendMessageInternal(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0, false);
  return previous;
}

int Clamp16(int value) { return std::clamp(value, 0, 32767); }

bool SetActiveInternal(HWND hwnd, bool focus) {
  HWND previous;
  {
    Guard guard(Lock());
    previous = g_active;
  }
  if (previous == hwnd) return true;
  if (previous && IsWindow(previous)) {
    SendMessageInternal(previous, WM_NCACTIVATE, FALSE, reinterpret_cast<LPARAM>(hwnd), false);
    SendMessageInternal(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(previous) ? 1 : 0),
                        reinterpret_cast<LPARAM>(hwnd), false);
  }
  {
    Guard guard(Lock());
    if (hwnd && !FindWindowLocked(hwnd)) return false;
    g_active = hwnd;
  }
  if (hwnd) {
    SendMessageInternal(hwnd, WM_NCACTIVATE, TRUE, reinterpret_cast<LPARAM>(previous), false);
    SendMessageInternal(hwnd, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, IsIconic(hwnd) ? 1 : 0),
                        reinterpret_cast<LPARAM>(previous), false);
  }
  if (focus) {
    bool change;
    {
      Guard guard(Lock());
      // The focus moves into the new active window unless it is already there.
      change = hwnd == g_active && (!g_focus || !hwnd || RootLocked(g_focus) != hwnd);
    }
    if (change) SetFocusWindow(hwnd);
  }
  return true;
}

bool SetForegroundInternal(HWND hwnd) {
  HWND previous;
  {
    Guard guard(Lock());
    if (!FindWindowOrFailLocked(hwnd)) return false;  // a null handle is no window either
    previous = g_active;
  }
  if (previous == hwnd) return true;
  return SetActiveInternal(hwnd, true);
}

}  // namespace

HWND ActiveWindowLocked() { return g_active; }

void ForgetWindowLocked(HWND hwnd) {
  if (g_active == hwnd) g_active = nullptr;
  if (g_focus == hwnd) g_focus = nullptr;
}

void LinkWindowLocked(Window *window, HWND insertAfter) {
  HWND hwnd = window->handle;
  auto &list = SiblingsLocked(window);
  // A window being created is in no list yet: no need to look for it in a long one.
  auto position = window->linked ? std::find(list.begin(), list.end(), hwnd) : list.end();
  bool linked = position != list.end();
  window->linked = true;
  if (insertAfter == HWND_NOTOPMOST) {
    if (!(window->exStyle & WS_EX_TOPMOST) && linked) return;
    window->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
    insertAfter = HWND_TOP;
  }
  if (linked) list.erase(position);
  auto topmost = [](HWND h) {
    Window *w = FindWindowLocked(h);
    return w && (w->exStyle & WS_EX_TOPMOST);
  };
  if (insertAfter == HWND_BOTTOM) {
    list.push_back(hwnd);
    window->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
  } else if (insertAfter == HWND_TOPMOST) {
    list.insert(list.begin(), hwnd);
    window->exStyle |= WS_EX_TOPMOST;
  } else {
    auto previous = IsSpecialInsertAfter(insertAfter) ? list.end() : std::find(list.begin(), list.end(), insertAfter);
    if (previous == list.end()) {
      // HWND_TOP: a non-topmost window goes above the first non-topmost window.
      auto it = list.begin();
      if (!(window->exStyle & WS_EX_TOPMOST))
        while (it != list.end() && topmost(*it)) ++it;
      list.insert(it, hwnd);
    } else {
      bool previousTopmost = topmost(*previous);
      auto inserted = list.insert(previous + 1, hwnd);
      if (!previousTopmost)
        window->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
      else if (inserted + 1 != list.end() && topmost(*(inserted + 1)))
        window->exStyle |= WS_EX_TOPMOST;
    }
  }
}

BOOL SetWindowPosInternal(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  bool activate, child;
  {
    Guard guard(Lock());
    Window *window = FindWindowOrFailLocked(hwnd);
    if (!window) return FALSE;
    if (!(flags & SWP_NOZORDER) && !IsSpecialInsertAfter(insertAfter)) {
      Window *after = FindWindowOrFailLocked(insertAfter);
      if (!after) return FALSE;
      if (after->parent != window->parent) return TRUE;  // must be a sibling
    }
    RECT rect = window->rect;
    if (!(flags & SWP_NOMOVE)) {
      x = std::clamp(x, -32768, 32767);
      y = std::clamp(y, -32768, 32767);
      if (x == rect.left && y == rect.top) flags |= SWP_NOMOVE;
    }
    if (!(flags & SWP_NOSIZE)) {
      cx = Clamp16(cx);
      cy = Clamp16(cy);
      if (cx == rect.right - rect.left && cy == rect.bottom - rect.top) flags |= SWP_NOSIZE;
    }
    if (window->style & WS_VISIBLE)
      flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    else {
      flags &= ~static_cast<UINT>(SWP_HIDEWINDOW);
      if (!(flags & SWP_SHOWWINDOW)) flags |= SWP_NOREDRAW;
    }
    child = (window->style & (WS_POPUP | WS_CHILD)) == WS_CHILD;
    // Activating a top-level window also brings it to the top.
    if (!child && !(flags & (SWP_NOACTIVATE | SWP_HIDEWINDOW)) &&
        ((flags & SWP_NOZORDER) || (insertAfter != HWND_TOPMOST && insertAfter != HWND_NOTOPMOST))) {
      flags &= ~static_cast<UINT>(SWP_NOZORDER);
      insertAfter = HWND_TOP;
    }
    if (!(flags & SWP_NOZORDER)) {
      const auto &list = SiblingsLocked(window);
      bool topmost = (window->exStyle & WS_EX_TOPMOST) != 0;
      if (insertAfter == HWND_TOP) {
        if (!list.empty() && list.front() == hwnd) flags |= SWP_NOZORDER;
      } else if (insertAfter == HWND_BOTTOM) {
        if (!topmost && !list.empty() && list.back() == hwnd) flags |= SWP_NOZORDER;
      } else if (insertAfter == HWND_TOPMOST) {
        if (topmost && !list.empty() && list.front() == hwnd) flags |= SWP_NOZORDER;
      } else if (insertAfter == HWND_NOTOPMOST) {
        if (!topmost) flags |= SWP_NOZORDER;
      } else {
        auto it = std::find(list.begin(), list.end(), insertAfter);
        if (insertAfter == hwnd || (it != list.end() && it + 1 != list.end() && *(it + 1) == hwnd))
          flags |= SWP_NOZORDER;
      }
    }
    if (!(flags & SWP_NOMOVE)) {
      rect.right += x - rect.left;
      rect.bottom += y - rect.top;
      rect.left = x;
      rect.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      rect.right = rect.left + cx;
      rect.bottom = rect.top + cy;
    }
    window->rect = rect;
    if (!(flags & SWP_NOZORDER)) LinkWindowLocked(window, insertAfter);
    if (flags & SWP_SHOWWINDOW) {
      window->style |= WS_VISIBLE;
      InvalidateLocked(window, true);
    } else if (flags & SWP_HIDEWINDOW) {
      window->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    activate = !(flags & (SWP_NOACTIVATE | SWP_HIDEWINDOW));
  }
  if (activate) {
    if (child)
      SendMessageInternal(hwnd, WM_CHILDACTIVATE, 0, 0, false);
    else
      SetForegroundInternal(hwnd);
  }
  return TRUE;
}

BOOL ShowWindowInternal(HWND hwnd, int command) {
  bool wasVisible, child, parentVisible;
  bool showFlag = true, stateChanged = false;
  UINT swp = 0;
  RECT rect;
  {
    Guard guard(Lock());
    Window *window = FindWindowOrFailLocked(hwnd);
    if (!window) return FALSE;
    DWORD style = window->style;
    wasVisible = (style & WS_VISIBLE) != 0;
    child = (style & WS_CHILD) != 0;
    parentVisible = !window->parent || IsVisibleLocked(window->parent);
    rect = window->rect;
    switch (command) {
      case SW_HIDE:
        if (!wasVisible) return FALSE;
        showFlag = false;
        swp |= SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE;
        if (child) swp |= SWP_NOACTIVATE | SWP_NOZORDER;
        break;
      case SW_SHOWMINNOACTIVE:
      case SW_MINIMIZE:
      case SW_FORCEMINIMIZE:
        swp |= SWP_NOACTIVATE | SWP_NOZORDER;
        [[fallthrough]];
      case SW_SHOWMINIMIZED:
        swp |= SWP_SHOWWINDOW | SWP_FRAMECHANGED | SWP_NOSIZE | SWP_NOMOVE;
        if ((style & WS_MINIMIZE) && wasVisible) return TRUE;
        if (!(style & WS_MINIMIZE)) {
          if (!(style & WS_MAXIMIZE)) window->normalRect = window->rect;
          window->style = (style | WS_MINIMIZE) & ~static_cast<DWORD>(WS_MAXIMIZE);
          stateChanged = true;
        }
        break;
      case SW_SHOWMAXIMIZED:
        if (!wasVisible) swp |= SWP_SHOWWINDOW;
        swp |= SWP_FRAMECHANGED;
        if ((style & WS_MAXIMIZE) && wasVisible) return TRUE;
        if (!(style & (WS_MINIMIZE | WS_MAXIMIZE))) window->normalRect = window->rect;
        window->style = (style | WS_MAXIMIZE) & ~static_cast<DWORD>(WS_MINIMIZE);
        stateChanged = true;
        if (window->parent) {
          Window *parent = FindWindowLocked(window->parent);
          rect = {0, 0, parent->rect.right - parent->rect.left, parent->rect.bottom - parent->rect.top};
        } else {
          rect = WorkAreaLocked();
        }
        break;
      case SW_SHOWNA:
        swp |= SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE;
        if (child) swp |= SWP_NOZORDER;
        break;
      case SW_SHOW:
        if (wasVisible) return TRUE;
        swp |= SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE;
        if (child) swp |= SWP_NOACTIVATE | SWP_NOZORDER;
        break;
      case SW_SHOWNOACTIVATE:
        swp |= SWP_NOACTIVATE | SWP_NOZORDER;
        [[fallthrough]];
      case SW_RESTORE:
      case SW_SHOWNORMAL:
      case SW_SHOWDEFAULT:
        if (!wasVisible) swp |= SWP_SHOWWINDOW;
        if (style & (WS_MINIMIZE | WS_MAXIMIZE)) {
          swp |= SWP_FRAMECHANGED;
          window->style = style & ~static_cast<DWORD>(WS_MINIMIZE | WS_MAXIMIZE);
          rect = window->normalRect;
          stateChanged = true;
        } else {
          if (wasVisible) return TRUE;
          swp |= SWP_NOSIZE | SWP_NOMOVE;
        }
        if (child && !stateChanged) swp |= SWP_NOACTIVATE | SWP_NOZORDER;
        break;
      default:
        return wasVisible;  // Windows ignores unknown commands
    }
  }
  if ((showFlag != wasVisible || command == SW_SHOWNA) && command != SW_SHOWMAXIMIZED && !stateChanged) {
    SendMessageInternal(hwnd, WM_SHOWWINDOW, showFlag, 0, false);
    if (!IsWindow(hwnd)) return wasVisible;
  }
  if (!parentVisible && !stateChanged) {
    Guard guard(Lock());
    if (Window *window = FindWindowLocked(hwnd)) {
      if (showFlag)
        window->style |= WS_VISIBLE;
      else
        window->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
  } else {
    SetWindowPosInternal(hwnd, HWND_TOP, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, swp);
  }
  if (command == SW_HIDE) {
    HWND active;
    {
      Guard guard(Lock());
      active = g_active;
    }
    if (hwnd == active) ActivateOtherWindow(hwnd);
    HWND focus, parent = nullptr;
    {
      Guard guard(Lock());
      focus = g_focus;
      if (Window *window = FindWindowLocked(hwnd)) parent = window->parent;
    }
    if (hwnd == focus) SetFocusInternal(parent);
  } else if (IsIconic(hwnd)) {
    HWND focus;
    {
      Guard guard(Lock());
      focus = RootLocked(g_focus);
    }
    if (focus == hwnd) SetFocusInternal(nullptr);
  }
  return wasVisible;
}

HWND SetFocusInternal(HWND hwnd) {
  HWND previous, top = hwnd;
  {
    Guard guard(Lock());
    previous = g_focus;
    if (hwnd) {
      if (!FindWindowOrFailLocked(hwnd)) return nullptr;
      if (hwnd == previous) return previous;
      for (;;) {
        Window *window = FindWindowLocked(top);
        if (window->style & (WS_MINIMIZE | WS_DISABLED)) return nullptr;
        if (!(window->style & WS_CHILD) || !window->parent) break;
        top = window->parent;
      }
    } else if (!previous) {
      return nullptr;
    }
  }
  if (hwnd) {
    bool needActivate;
    {
      Guard guard(Lock());
      needActivate = top != g_active;
    }
    if (needActivate) {
      if (!SetActiveInternal(top, false) || !IsWindow(hwnd)) return nullptr;
      Guard guard(Lock());
      if (top != g_active) return nullptr;
    }
  }
  return SetFocusWindow(hwnd);
}

void ActivateOtherWindow(HWND hwnd) {
  HWND target = nullptr;
  {
    Guard guard(Lock());
    Window *window = FindWindowLocked(hwnd);
    if (window && (window->style & WS_POPUP) && window->owner) {
      Window *owner = FindWindowLocked(window->owner);
      HWND root = owner && !(owner->style & WS_DISABLED) ? RootLocked(window->owner) : nullptr;
      if (root && CanActivateLocked(root)) target = root;
    }
    if (!target) {
      const auto &list = TopLevelLocked();
      auto self = std::find(list.begin(), list.end(), hwnd);
      if (self != list.end())
        for (auto it = self + 1; it != list.end() && !target; ++it)
          if (CanActivateLocked(*it)) target = *it;
      for (auto it = list.begin(); it != self && it != list.end() && !target; ++it)
        if (CanActivateLocked(*it)) target = *it;
    }
  }
  if (target && SetForegroundInternal(target)) return;
  SetActiveInternal(nullptr, true);
}

}  // namespace winsim::detail

using namespace winsim::detail;
using winsim::UserCall;
using winsim::UserCallRecord;

extern "C" {

BOOL WINAPI SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  BOOL result = SetWindowPosInternal(hwnd, insertAfter, x, y, cx, cy, flags);
  UserCallRecord record{UserCall::SetWindowPos};
  record.hwnd = hwnd;
  record.insertAfter = insertAfter;
  record.x = x;
  record.y = y;
  record.cx = cx;
  record.cy = cy;
  record.flags = flags;
  record.result = result;
  LogCall(record);
  return result;
}

BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  BOOL result = SetWindowPosInternal(hwnd, nullptr, x, y, width, height,
                                     SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
  UserCallRecord record{UserCall::MoveWindow};
  record.hwnd = hwnd;
  record.x = x;
  record.y = y;
  record.cx = width;
  record.cy = height;
  record.flags = static_cast<UINT>(repaint);
  record.result = result;
  LogCall(record);
  return result;
}

BOOL WINAPI ShowWindow(HWND hwnd, int command) {
  BOOL result = ShowWindowInternal(hwnd, command);
  UserCallRecord record{UserCall::ShowWindow};
  record.hwnd = hwnd;
  record.flags = static_cast<UINT>(command);
  record.result = result;
  LogCall(record);
  return result;
}

BOOL WINAPI SetForegroundWindow(HWND hwnd) {
  BOOL result = SetForegroundInternal(hwnd) ? TRUE : FALSE;
  UserCallRecord record{UserCall::SetForegroundWindow};
  record.hwnd = hwnd;
  record.result = result;
  LogCall(record);
  return result;
}

HWND WINAPI GetForegroundWindow(void) {
  Guard guard(Lock());
  return g_active;
}

HWND WINAPI GetActiveWindow(void) {
  Guard guard(Lock());
  Window *window = FindWindowLocked(g_active);
  return window && window->threadId == CurrentThread() ? g_active : nullptr;
}

HWND WINAPI GetFocus(void) {
  Guard guard(Lock());
  Window *window = FindWindowLocked(g_focus);
  return window && window->threadId == CurrentThread() ? g_focus : nullptr;
}

HWND WINAPI SetFocus(HWND hwnd) { return SetFocusInternal(hwnd); }

}  // extern "C"
