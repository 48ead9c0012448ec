// winsim user32: window classes, window creation and destruction, window data and text, the window
// tree. Positions, visibility and activation are in winpos.cpp; messages in message.cpp.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "user_internal.h"

namespace winsim::detail {

std::recursive_mutex &Lock() {
  static std::recursive_mutex lock;
  return lock;
}

uintptr_t NewHandleValue() {
  static uintptr_t next = 0x00010020;
  Guard guard(Lock());
  next += 4;
  return next;
}

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string result(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
  return result;
}

std::u16string FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::u16string result(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
  return result;
}

namespace {

struct State {
  State();
  std::vector<std::unique_ptr<WindowClass>> classes;
  std::map<HWND, std::unique_ptr<Window>> windows;
  ZOrder topLevel;  // z-order, top first
  ATOM nextAtom = 0xC000;
};

// The system's control classes exist in every process. Their windows have the default procedure
// only: they keep text, styles and position, but draw nothing and handle no control messages.
State::State() {
  for (const char16_t *name : {u"Button", u"ComboBox", u"Edit", u"ListBox", u"ScrollBar", u"Static"}) {
    auto cls = std::make_unique<WindowClass>();
    cls->name = name;
    cls->atom = nextAtom++;
    cls->proc = DefWindowProcW;
    cls->ansi = false;
    cls->system = true;
    classes.push_back(std::move(cls));
  }
}

State &S() {
  static State *state = new State;  // never destroyed: windows may be touched at process exit
  return *state;
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool SameClassName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool IsAtom(const void *name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// A class registered (or looked for) without an instance belongs to the program's module.
HINSTANCE ModuleOf(HINSTANCE instance) { return instance ? instance : GetModuleHandleA(nullptr); }

// Registration keys on name and module; lookup prefers the module's own class, then any
// application class, then a system class (which registration and unregistration never see).
WindowClass *FindClassLocked(std::u16string_view name, ATOM atom, HINSTANCE instance, bool exactInstance) {
  instance = ModuleOf(instance);
  WindowClass *any = nullptr, *system = nullptr;
  for (auto &entry : S().classes) {
    bool match = atom ? entry->atom == atom : SameClassName(entry->name, name);
    if (!match) continue;
    if (entry->system) {
      system = entry.get();
      continue;
    }
    if (entry->instance == instance) return entry.get();
    if (!any) any = entry.get();
  }
  if (exactInstance) return nullptr;
  return any ? any : system;
}

// GetClassInfo: the module's classes; without an instance, the system's.
WindowClass *ClassInfoLocked(HINSTANCE instance, std::u16string_view name, ATOM atom) {
  if (instance) return FindClassLocked(name, atom, instance, true);
  for (auto &entry : S().classes)
    if (entry->system && (atom ? entry->atom == atom : SameClassName(entry->name, name))) return entry.get();
  return nullptr;
}

ATOM RegisterClassCommon(const WNDCLASSA *a, const WNDCLASSW *w) {
  std::u16string name;
  if (a) {
    if (!a->lpszClassName || IsAtom(a->lpszClassName) || !a->lpfnWndProc) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    name = FromAnsi(a->lpszClassName);
  } else {
    if (!w->lpszClassName || IsAtom(w->lpszClassName) || !w->lpfnWndProc) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    name = w->lpszClassName;
  }
  HINSTANCE instance = ModuleOf(a ? a->hInstance : w->hInstance);
  Guard guard(Lock());
  if (FindClassLocked(name, 0, instance, true)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto cls = std::make_unique<WindowClass>();
  cls->name = name;
  cls->atom = S().nextAtom++;
  cls->style = a ? a->style : w->style;
  cls->proc = a ? a->lpfnWndProc : w->lpfnWndProc;
  cls->ansi = a != nullptr;
  cls->wndExtra = std::clamp(a ? a->cbWndExtra : w->cbWndExtra, 0, 40);
  cls->instance = instance;
  cls->background = a ? a->hbrBackground : w->hbrBackground;
  ATOM atom = cls->atom;
  S().classes.push_back(std::move(cls));
  return atom;
}

BOOL UnregisterClassCommon(std::u16string_view name, ATOM atom, HINSTANCE instance) {
  Guard guard(Lock());
  WindowClass *cls = FindClassLocked(name, atom, instance, true);
  if (!cls) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (cls->windowCount > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  auto &classes = S().classes;
  classes.erase(std::remove_if(classes.begin(), classes.end(), [cls](auto &c) { return c.get() == cls; }),
                classes.end());
  return TRUE;
}

struct CreateArguments {
  DWORD exStyle;
  DWORD style;
  int x, y, width, height;
  HWND parent;
  HMENU menu;
  HINSTANCE instance;
  LPVOID param;
};

HWND CreateWindowCommon(const CreateArguments &args, std::u16string_view className, ATOM atom,
                        const void *originalClass, const void *originalName, bool callerAnsi) {
  HWND hwnd;
  {
    Guard guard(Lock());
    WindowClass *cls = FindClassLocked(className, atom, args.instance, false);
    if (!cls) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);  // what Windows reports, not ERROR_CANNOT_FIND_WND_CLASS
      return nullptr;
    }
    HWND parent = nullptr, owner = nullptr;
    if (args.parent) {
      Window *parentWindow = FindWindowOrFailLocked(args.parent);
      if (!parentWindow) return nullptr;
      if (args.style & WS_CHILD)
        parent = args.parent;
      else
        owner = RootLocked(args.parent);
    } else if ((args.style & (WS_CHILD | WS_POPUP)) == WS_CHILD) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    auto window = std::make_unique<Window>();
    hwnd = reinterpret_cast<HWND>(NewHandleValue());
    window->handle = hwnd;
    window->windowClass = cls;
    // The window becomes visible through ShowWindow after WM_CREATE, as Windows does it.
    window->style = args.style & ~static_cast<DWORD>(WS_VISIBLE);
    if ((window->style & (WS_CHILD | WS_POPUP)) != WS_CHILD) {
      window->style |= WS_CLIPSIBLINGS;
      if (!(window->style & WS_POPUP)) window->style |= WS_CAPTION;
    }
    window->exStyle = FixExStyle(window->style, args.exStyle & ~static_cast<DWORD>(WS_EX_TOPMOST)) |
                      (parent ? 0 : (args.exStyle & WS_EX_TOPMOST));
    window->parent = parent;
    window->owner = owner;
    if (Window *ownerWindow = FindWindowLocked(owner)) ++ownerWindow->ownedCount;
    window->rect = {args.x, args.y, args.x + std::max(args.width, 0), args.y + std::max(args.height, 0)};
    window->normalRect = window->rect;
    window->proc = cls->proc;
    window->ansi = cls->ansi;
    window->threadId = CurrentThread();
    window->processId = GetCurrentProcessId();
    window->instance = args.instance;
    window->id = parent ? reinterpret_cast<LONG_PTR>(args.menu) : 0;
    window->extra.assign(static_cast<size_t>(cls->wndExtra), 0);
    cls->windowCount++;
    Window *raw = window.get();
    S().windows[hwnd] = std::move(window);
    // Children go below their siblings (creation order is tab order), top-level windows on top.
    LinkWindowLocked(raw, parent ? HWND_BOTTOM : HWND_TOP);
  }

  CREATESTRUCTA csa = {args.param,
                       args.instance,
                       args.menu,
                       args.parent,
                       args.height,
                       args.width,
                       args.y,
                       args.x,
                       static_cast<LONG>(args.style),
                       static_cast<LPCSTR>(originalName),
                       static_cast<LPCSTR>(originalClass),
                       args.exStyle};
  // The same layout: a Unicode caller's names are in the same fields.
  static_assert(sizeof(CREATESTRUCTW) == sizeof(CREATESTRUCTA));
  CREATESTRUCTW csw;
  std::memcpy(&csw, &csa, sizeof csw);
  LPARAM create = callerAnsi ? reinterpret_cast<LPARAM>(&csa) : reinterpret_cast<LPARAM>(&csw);

  if (!SendMessageInternal(hwnd, WM_NCCREATE, 0, create, callerAnsi)) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  if (!IsWindow(hwnd)) return nullptr;
  if (SendMessageInternal(hwnd, WM_CREATE, 0, create, callerAnsi) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  if (!IsWindow(hwnd)) return nullptr;
  if (args.style & WS_VISIBLE) {
    int command = SW_SHOW;
    if (args.style & WS_MAXIMIZE)
      command = SW_SHOWMAXIMIZED;
    else if (args.style & WS_MINIMIZE)
      command = SW_SHOWMINIMIZED;
    ShowWindowInternal(hwnd, command);
  }
  return IsWindow(hwnd) ? hwnd : nullptr;
}

// WM_DESTROY to the window, then to its children (each still valid during its WM_DESTROY).
void SendDestroyMessages(HWND hwnd) {
  bool active;
  {
    Guard guard(Lock());
    active = ActiveWindowLocked() == hwnd;
  }
  if (active) ActivateOtherWindow(hwnd);
  SendMessageInternal(hwnd, WM_DESTROY, 0, 0, false);
  std::vector<HWND> children;
  {
    Guard guard(Lock());
    Window *window = FindWindowLocked(hwnd);
    if (!window) return;
    children.assign(window->children.begin(), window->children.end());
  }
  for (HWND child : children)
    if (IsWindow(child)) SendDestroyMessages(child);
}

// Children first, then WM_NCDESTROY, then the window and what it owns are freed.
void FreeWindow(HWND hwnd) {
  std::vector<HWND> children;
  {
    Guard guard(Lock());
    Window *window = FindWindowLocked(hwnd);
    if (!window) return;
    children.assign(window->children.begin(), window->children.end());
  }
  for (HWND child : children) FreeWindow(child);
  SendMessageInternal(hwnd, WM_NCDESTROY, 0, 0, false);
  Guard guard(Lock());
  Window *window = FindWindowLocked(hwnd);
  if (!window) return;
  auto &siblings = SiblingsLocked(window);
  auto position = std::find(siblings.begin(), siblings.end(), hwnd);
  if (position != siblings.end()) siblings.erase(position);
  if (window->ownedCount > 0)
    for (auto &entry : S().windows)
      if (entry.second->owner == hwnd) entry.second->owner = nullptr;
  if (Window *owner = FindWindowLocked(window->owner)) --owner->ownedCount;
  DestroyWindowRegionLocked(window);
  ForgetWindowLocked(hwnd);
  DropPostedMessagesLocked(hwnd);
  window->windowClass->windowCount--;
  S().windows.erase(hwnd);
}

}  // namespace

Window *FindWindowLocked(HWND hwnd) {
  auto it = S().windows.find(hwnd);
  return it == S().windows.end() ? nullptr : it->second.get();
}

Window *FindWindowOrFailLocked(HWND hwnd) {
  Window *window = FindWindowLocked(hwnd);
  if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

ZOrder &TopLevelLocked() { return S().topLevel; }

ZOrder &SiblingsLocked(Window *window) {
  if (window->parent)
    if (Window *parent = FindWindowLocked(window->parent)) return parent->children;
  return S().topLevel;
}

HWND RootLocked(HWND hwnd) {
  Window *window = FindWindowLocked(hwnd);
  while (window && window->parent) {
    hwnd = window->parent;
    window = FindWindowLocked(hwnd);
  }
  return hwnd;
}

bool IsVisibleLocked(HWND hwnd) {
  Window *window = FindWindowLocked(hwnd);
  if (!window) return false;
  for (; window; window = FindWindowLocked(window->parent))
    if (!(window->style & WS_VISIBLE)) return false;
  return true;
}

size_t CountWindowsLocked() {
  size_t count = 0;
  for (auto &entry : S().windows)
    if (!entry.second->foreign) ++count;
  return count;
}

HWND CreateForeignWindowLocked(LPCSTR className, LPCWSTR title, DWORD style, DWORD exStyle, const RECT &rect,
                               DWORD processId) {
  static std::vector<std::unique_ptr<WindowClass>> foreignClasses;
  static DWORD nextThread = 0x7FFF0000;
  auto cls = std::make_unique<WindowClass>();
  cls->name = FromAnsi(className ? className : "");
  cls->proc = DefWindowProcW;
  cls->ansi = false;
  auto window = std::make_unique<Window>();
  HWND hwnd = reinterpret_cast<HWND>(NewHandleValue());
  window->handle = hwnd;
  window->windowClass = cls.get();
  window->style = (style | WS_CLIPSIBLINGS) & ~static_cast<DWORD>(WS_CHILD);
  window->exStyle = exStyle;
  window->rect = rect;
  window->normalRect = rect;
  window->text = title ? std::u16string(title) : std::u16string();
  window->proc = DefWindowProcW;
  window->ansi = false;
  window->foreign = true;
  window->processId = processId ? processId : GetCurrentProcessId() + 1;
  window->threadId = nextThread++;
  cls->windowCount = 1;
  foreignClasses.push_back(std::move(cls));
  Window *raw = window.get();
  S().windows[hwnd] = std::move(window);
  LinkWindowLocked(raw, (exStyle & WS_EX_TOPMOST) ? HWND_TOPMOST : HWND_TOP);
  return hwnd;
}

}  // namespace winsim::detail

using namespace winsim::detail;
using winsim::UserCall;
using winsim::UserCallRecord;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA *wndClass) {
  if (!wndClass) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return RegisterClassCommon(wndClass, nullptr);
}

ATOM WINAPI RegisterClassW(const WNDCLASSW *wndClass) {
  if (!wndClass) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return RegisterClassCommon(nullptr, wndClass);
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance) {
  if (!className) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (IsAtom(className))
    return UnregisterClassCommon({}, static_cast<ATOM>(reinterpret_cast<uintptr_t>(className)), instance);
  return UnregisterClassCommon(FromAnsi(className), 0, instance);
}

extern "C++" {
namespace {

// GetClassInfoA: the class by name or atom, into the structure.
template <typename Char, typename WndClass>
BOOL GetClassInfoCommon(HINSTANCE instance, const Char *className, WndClass *wndClass, const std::u16string &name) {
  if (!className || !wndClass) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Guard guard(Lock());
  WindowClass *cls = IsAtom(className)
                         ? ClassInfoLocked(instance, {}, static_cast<ATOM>(reinterpret_cast<uintptr_t>(className)))
                         : ClassInfoLocked(instance, name, 0);
  if (!cls) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *wndClass = {};
  wndClass->style = cls->style;
  wndClass->lpfnWndProc = cls->proc;
  wndClass->cbWndExtra = cls->wndExtra;
  wndClass->hInstance = cls->instance;
  wndClass->hbrBackground = cls->background;
  wndClass->lpszClassName = className;
  return cls->atom;
}

}  // namespace
}  // extern "C++"

BOOL WINAPI GetClassInfoA(HINSTANCE instance, LPCSTR className, LPWNDCLASSA wndClass) {
  const bool named = className && !IsAtom(className);
  return GetClassInfoCommon(instance, className, wndClass, named ? FromAnsi(className) : std::u16string());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (!className) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  CreateArguments args{exStyle, style, x, y, width, height, parent, menu, instance, param};
  if (IsAtom(className))
    return CreateWindowCommon(args, {}, static_cast<ATOM>(reinterpret_cast<uintptr_t>(className)), className,
                              windowName, true);
  return CreateWindowCommon(args, FromAnsi(className), 0, className, windowName, true);
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  bool child, visible;
  {
    Guard guard(Lock());
    Window *window = FindWindowLocked(hwnd);
    // As on Windows (and Wine): only the owning thread may destroy a window; an invalid handle
    // fails the same way.
    if (!window || window->foreign || window->threadId != CurrentThread()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    UserCallRecord record{UserCall::DestroyWindow};
    record.hwnd = hwnd;
    record.result = TRUE;
    LogCall(record);
    // A nested DestroyWindow of a window already being destroyed leaves the work to the outer call.
    if (window->destroying) return TRUE;
    window->destroying = true;
    child = (window->style & WS_CHILD) != 0;
    visible = (window->style & WS_VISIBLE) != 0;
  }
  if (visible) {
    if (child)
      ShowWindowInternal(hwnd, SW_HIDE);
    else
      SetWindowPosInternal(hwnd, nullptr, 0, 0, 0, 0,
                           SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW);
  }
  if (!IsWindow(hwnd)) return TRUE;
  if (!child) {
    // Owned windows of this thread go first; those of other threads lose their owner.
    for (;;) {
      HWND owned = nullptr;
      {
        Guard guard(Lock());
        Window *self = FindWindowLocked(hwnd);
        if (!self || self->ownedCount == 0) break;
        for (HWND candidate : S().topLevel) {
          Window *w = FindWindowLocked(candidate);
          if (!w || w->owner != hwnd) continue;
          if (!w->foreign && w->threadId == CurrentThread() && !w->destroying) {
            owned = candidate;
            break;
          }
          w->owner = nullptr;
          --self->ownedCount;
        }
      }
      if (!owned) break;
      DestroyWindow(owned);
    }
  }
  SendDestroyMessages(hwnd);
  if (!IsWindow(hwnd)) return TRUE;
  FreeWindow(hwnd);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
  Guard guard(Lock());
  return FindWindowLocked(hwnd) != nullptr;
}

}  // extern "C"
