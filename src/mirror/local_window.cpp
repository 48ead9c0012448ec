// The local windows of class "WTSHalvornDummy".
#include "mirror/local_window.h"

namespace {

const char kLocalWindowClass[] = "WTSHalvornDummy";

WNDPROC g_procedure = DefWindowProcA;
bool g_classRegistered = false;
// Set when registration found a class of this name left by an earlier load of the library whose
// windows outlived it (unloaded from another thread): windows are then given this procedure
// one by one.
bool g_classStale = false;
// A local window that could not be destroyed at unload: the class is made harmless through it.
HWND g_survivor = nullptr;

// A class registered without an instance belongs to the program's module.
bool UnregisterLocalClass() {
  return UnregisterClassA(kLocalWindowClass, nullptr) || UnregisterClassA(kLocalWindowClass, GetModuleHandleA(nullptr));
}

void RegisterLocalWindowClass() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = g_procedure;
  windowClass.lpszClassName = kLocalWindowClass;
  if (RegisterClassA(&windowClass) || GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return;
  // The class outlived an earlier load of this library. Once its windows are gone it can be
  // registered anew; until then it keeps the default procedure the unload gave it.
  if (UnregisterLocalClass()) {
    if (RegisterClassA(&windowClass)) return;
  }
  g_classStale = true;
}

void SetToolWindowStyle(HWND hwnd, bool tool) {
  LONG exStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
  exStyle = tool ? (exStyle | WS_EX_TOOLWINDOW) : (exStyle & ~static_cast<LONG>(WS_EX_TOOLWINDOW));
  SetWindowLongA(hwnd, GWL_EXSTYLE, exStyle);
}

}  // namespace

void SetLocalWindowProcedure(WNDPROC procedure) { g_procedure = procedure ? procedure : DefWindowProcA; }

HWND MakeLocalWindow(const char *title, const WCHAR *exactTitle) {
  if (!g_classRegistered) {
    RegisterLocalWindowClass();  // another failure shows as failing window creation; not retried
    g_classRegistered = true;
  }
  HWND hwnd = CreateWindowExA(0, kLocalWindowClass, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (!hwnd) return nullptr;
  if (g_classStale) SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_procedure));
  // The window name above is the ANSI form; give the window the exact title.
  if (exactTitle && *exactTitle) DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(exactTitle));
  return hwnd;
}

void ShowLocalWindowOnTop(HWND hwnd) {
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOREDRAW);
}

void RestyleLocalWindow(HWND hwnd, bool tool, int showCommand) {
  ShowWindow(hwnd, SW_HIDE);
  SetToolWindowStyle(hwnd, tool);
  ShowWindow(hwnd, showCommand);
}

void DestroyLocalWindow(HWND hwnd) {
  if (DestroyWindow(hwnd) || !IsWindow(hwnd)) return;
  SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
  g_survivor = hwnd;
}

void UnregisterLocalWindowClass() {
  if (!g_classRegistered) return;
  const bool unregistered = UnregisterLocalClass();
  // Windows of another thread still use the class: point it at the default procedure, so no
  // window made of it later calls into this library once it is unloaded.
  if (!unregistered && g_survivor && IsWindow(g_survivor))
    SetClassLongPtrA(g_survivor, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
  g_survivor = nullptr;
  g_classRegistered = false;
  g_classStale = false;
}
