// winsim user32: what a window carries — styles and window data (Get/SetWindowLong), text
// (Set/GetWindowText, InternalGetWindowText), class name, rectangles, and the window tree as
// Win32 reports it (GetWindow, GetParent, EnumWindows, visibility).
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "user_internal.h"

namespace winsim::detail {

DWORD FixExStyle(DWORD style, DWORD exStyle) {
  if ((exStyle & WS_EX_DLGMODALFRAME) || (!(exStyle & WS_EX_STATICEDGE) && (style & (WS_DLGFRAME | WS_THICKFRAME))))
    return exStyle | WS_EX_WINDOWEDGE;
  return exStyle & ~static_cast<DWORD>(WS_EX_WINDOWEDGE);
}

namespace {

LONG_PTR *ExtraSlot(Window *window, int index) {
  if (index < 0 || static_cast<size_t>(index) + sizeof(LONG) > window->extra.size()) return nullptr;
  return reinterpret_cast<LONG_PTR *>(window->extra.data() + index);
}

LONG GetWindowLongCommon(HWND hwnd, int index) {
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG>(window->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(window->exStyle);
    case GWL_WNDPROC:
      return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window->proc));
    case GWL_HINSTANCE:
      return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window->instance));
    case GWL_HWNDPARENT:
      return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window->parent ? window->parent : window->owner));
    case GWL_ID:
      return static_cast<LONG>(window->id);
    case GWL_USERDATA:
      return static_cast<LONG>(window->userData);
    default:
      break;
  }
  if (LONG_PTR *slot = ExtraSlot(window, index)) {
    LONG value;
    std::memcpy(&value, slot, sizeof value);
    return value;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

LONG SetWindowLongCommon(HWND hwnd, int index, LONG value, bool ansi) {
  LONG previous = 0;
  {
    Guard guard(Lock());
    Window *window = FindWindowOrFailLocked(hwnd);
    if (!window) return 0;
    if (window->foreign) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    switch (index) {
      case GWL_STYLE: {
        previous = static_cast<LONG>(window->style);
        DWORD style = static_cast<DWORD>(value);
        if (!window->parent) style |= WS_CLIPSIBLINGS;  // cannot be cleared on top-level windows
        if (window->style & WS_MINIMIZE) style |= WS_MINIMIZE;
        window->style = style;
        break;
      }
      case GWL_EXSTYLE:
        previous = static_cast<LONG>(window->exStyle);
        // WS_EX_TOPMOST changes only through SetWindowPos.
        window->exStyle = FixExStyle(window->style, static_cast<DWORD>(value) & ~static_cast<DWORD>(WS_EX_TOPMOST)) |
                          (window->exStyle & WS_EX_TOPMOST);
        break;
      case GWL_WNDPROC:
        previous = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window->proc));
        if (!value) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return 0;
        }
        window->proc = reinterpret_cast<WNDPROC>(static_cast<LONG_PTR>(value));
        window->ansi = ansi;
        break;
      case GWL_ID:
        previous = static_cast<LONG>(window->id);
        window->id = value;
        break;
      case GWL_USERDATA:
        previous = static_cast<LONG>(window->userData);
        window->userData = value;
        break;
      default:
        if (LONG_PTR *slot = ExtraSlot(window, index)) {
          std::memcpy(&previous, slot, sizeof previous);
          std::memcpy(slot, &value, sizeof value);
          break;
        }
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
  }
  UserCallRecord record{UserCall::SetWindowLong};
  record.hwnd = hwnd;
  record.index = index;
  record.value = value;
  record.result = previous;
  LogCall(record);
  return previous;
}

// The class of a window: what later windows of the class start from. Windows that exist keep
// what they were created with.
DWORD ClassLongCommon(HWND hwnd, int index, const LONG *value, bool ansi) {
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return 0;
  WindowClass *cls = window->windowClass;
  if (value && window->foreign) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  DWORD previous;
  switch (index) {
    case GCL_WNDPROC:
      previous = static_cast<DWORD>(reinterpret_cast<uintptr_t>(cls->proc));
      if (value) {
        if (!*value) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return 0;
        }
        cls->proc = reinterpret_cast<WNDPROC>(static_cast<uintptr_t>(static_cast<DWORD>(*value)));
        cls->ansi = ansi;
      }
      return previous;
    case GCL_STYLE:
      previous = cls->style;
      if (value) cls->style = static_cast<UINT>(*value);
      return previous;
    case GCL_HBRBACKGROUND:
      previous = static_cast<DWORD>(reinterpret_cast<uintptr_t>(cls->background));
      if (value) cls->background = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(static_cast<DWORD>(*value)));
      return previous;
    case GCL_HMODULE:
      previous = static_cast<DWORD>(reinterpret_cast<uintptr_t>(cls->instance));
      if (value) cls->instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(static_cast<DWORD>(*value)));
      return previous;
    case GCL_CBWNDEXTRA:
      previous = static_cast<DWORD>(cls->wndExtra);
      if (value) cls->wndExtra = std::clamp(static_cast<int>(*value), 0, 40);
      return previous;
    case GCW_ATOM:
      if (!value) return cls->atom;
      break;
    default:
      break;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

enum class Owner { None, OtherProcess, ThisProcess };

// Who owns the window, and the text of another process's window, which is read as stored: its
// procedure is not ours to call.
Owner WindowOwner(HWND hwnd, std::u16string &storedText) {
  Guard guard(Lock());
  Window *window = FindWindowLocked(hwnd);
  if (!window) return Owner::None;
  if (!window->foreign) return Owner::ThisProcess;
  storedText = window->text;
  return Owner::OtherProcess;
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;
using winsim::UserCall;
using winsim::UserCallRecord;

extern "C" {

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  Guard guard(Lock());
  if (!FindWindowOrFailLocked(hwnd)) return FALSE;
  return IsVisibleLocked(hwnd);
}

BOOL WINAPI IsIconic(HWND hwnd) {
  Guard guard(Lock());
  Window *window = FindWindowLocked(hwnd);
  return window && (window->style & WS_MINIMIZE);
}

BOOL WINAPI IsChild(HWND parent, HWND hwnd) {
  Guard guard(Lock());
  Window *window = FindWindowLocked(hwnd);
  while (window && window->parent) {
    if (window->parent == parent) return TRUE;
    window = FindWindowLocked(window->parent);
  }
  return FALSE;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  UserCallRecord record{UserCall::SetWindowText};
  record.hwnd = hwnd;
  LogCall(record);
  return static_cast<BOOL>(SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

BOOL WINAPI SetWindowTextW(HWND hwnd, LPCWSTR text) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  UserCallRecord record{UserCall::SetWindowText};
  record.hwnd = hwnd;
  LogCall(record);
  return static_cast<BOOL>(SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR text, int maxCount) {
  if (!text || maxCount <= 0) return 0;
  std::u16string stored;
  switch (WindowOwner(hwnd, stored)) {
    case Owner::None:
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      text[0] = '\0';
      return 0;
    case Owner::OtherProcess:  // its text as stored, without a message
      return static_cast<int>(CopyTextOut(ToAnsi(stored), text, static_cast<size_t>(maxCount)));
    case Owner::ThisProcess:
      break;
  }
  text[0] = '\0';
  return static_cast<int>(
      SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount) {
  if (!text || maxCount <= 0) return 0;
  std::u16string stored;
  switch (WindowOwner(hwnd, stored)) {
    case Owner::None:
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      text[0] = u'\0';
      return 0;
    case Owner::OtherProcess:
      return static_cast<int>(CopyTextOut(stored, text, static_cast<size_t>(maxCount)));
    case Owner::ThisProcess:
      break;
  }
  text[0] = u'\0';
  return static_cast<int>(
      SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextLengthA(HWND hwnd) {
  std::u16string stored;
  if (WindowOwner(hwnd, stored) != Owner::ThisProcess) return static_cast<int>(ToAnsi(stored).size());
  return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

int WINAPI GetWindowTextLengthW(HWND hwnd) {
  std::u16string stored;
  if (WindowOwner(hwnd, stored) != Owner::ThisProcess) return static_cast<int>(stored.size());
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

int WINAPI InternalGetWindowText(HWND hwnd, LPWSTR text, int maxCount) {
  if (!text || maxCount <= 0) return 0;
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) {
    text[0] = u'\0';
    return 0;
  }
  return static_cast<int>(CopyTextOut(window->text, text, static_cast<size_t>(maxCount)));
}

int WINAPI GetClassNameA(HWND hwnd, LPSTR className, int maxCount) {
  if (!className || maxCount <= 0) return 0;
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return 0;
  return static_cast<int>(CopyTextOut(ToAnsi(window->windowClass->name), className, static_cast<size_t>(maxCount)));
}

LONG WINAPI GetWindowLongA(HWND hwnd, int index) { return GetWindowLongCommon(hwnd, index); }
LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value) { return SetWindowLongCommon(hwnd, index, value, true); }

DWORD WINAPI GetClassLongA(HWND hwnd, int index) { return ClassLongCommon(hwnd, index, nullptr, true); }
DWORD WINAPI SetClassLongA(HWND hwnd, int index, LONG value) { return ClassLongCommon(hwnd, index, &value, true); }

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
  if (!rect) return FALSE;
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return FALSE;
  RECT result = window->rect;
  for (Window *p = FindWindowLocked(window->parent); p; p = FindWindowLocked(p->parent)) {
    result.left += p->rect.left;
    result.right += p->rect.left;
    result.top += p->rect.top;
    result.bottom += p->rect.top;
  }
  *rect = result;
  return TRUE;
}

// Windows have no non-client area here: the client area is the whole window.
BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
  if (!rect) return FALSE;
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return FALSE;
  *rect = {0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  return TRUE;
}

BOOL WINAPI EnumWindows(WNDENUMPROC proc, LPARAM param) {
  if (!proc) return FALSE;
  std::vector<HWND> snapshot;
  {
    Guard guard(Lock());
    snapshot.assign(TopLevelLocked().begin(), TopLevelLocked().end());
  }
  for (HWND hwnd : snapshot) {
    if (!IsWindow(hwnd)) continue;
    if (!proc(hwnd, param)) return FALSE;
  }
  return TRUE;
}

HWND WINAPI GetWindow(HWND hwnd, UINT command) {
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return nullptr;
  if (command == GW_CHILD) return window->children.empty() ? nullptr : window->children.front();
  if (command == GW_OWNER) return window->owner;
  const auto &siblings = SiblingsLocked(window);
  auto it = std::find(siblings.begin(), siblings.end(), hwnd);
  if (it == siblings.end()) return nullptr;
  switch (command) {
    case GW_HWNDFIRST:
      return siblings.front();
    case GW_HWNDLAST:
      return siblings.back();
    case GW_HWNDNEXT:
      return (it + 1) == siblings.end() ? nullptr : *(it + 1);
    case GW_HWNDPREV:
      return it == siblings.begin() ? nullptr : *(it - 1);
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HWND WINAPI GetParent(HWND hwnd) {
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return nullptr;
  if (window->style & WS_POPUP) return window->owner;
  if (window->style & WS_CHILD) return window->parent;
  return nullptr;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return 0;
  if (processId) *processId = window->processId;
  return window->threadId;
}

}  // extern "C"
