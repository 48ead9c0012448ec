// CREATE, and the local windows of class "WTSHalvornDummy".
#include "mirror/create.h"

#include "channel/debug_log.h"
#include "protocol/handlers.h"
#include "session/hello.h"
#include "session/host_messages.h"
#include "session/window_proc.h"


namespace {

const char kLocalWindowClass[] = "WTSHalvornDummy";
constexpr UINT32 kToolWindowFlag = 2;

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
  windowClass.lpfnWndProc = LocalWindowProc;
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

void CreateLocalWindow(CWindowData *record) {
  if (!g_classRegistered) {
    RegisterLocalWindowClass();  // another failure shows as failing window creation; not retried
    g_classRegistered = true;
  }
  if (!record->m_hWnd) {
    HWND hwnd = CreateWindowExA(0, kLocalWindowClass, record->m_strTitle.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, nullptr, nullptr);
    if (hwnd && g_classStale) SetWindowLongA(hwnd, GWL_WNDPROC, reinterpret_cast<LONG>(LocalWindowProc));
    BindLocalWindow(record, hwnd);
    // The window name above is the ANSI form; give the window the exact title.
    if (hwnd && !record->m_strTitleW.empty())
      DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(record->m_strTitleW.c_str()));
  }
  ShowWindow(record->m_hWnd, SW_SHOWNORMAL);
  SetWindowPos(record->m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOREDRAW);
}

void RestyleLocalWindow(HWND hwnd, bool tool, int showCommand) {
  ShowWindow(hwnd, SW_HIDE);
  SetToolWindowStyle(hwnd, tool);
  ShowWindow(hwnd, showCommand);
}

void DestroyLocalWindow(HWND hwnd) {
  if (DestroyWindow(hwnd) || !IsWindow(hwnd)) return;
  SetWindowLongA(hwnd, GWL_WNDPROC, reinterpret_cast<LONG>(DefWindowProcA));
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
  g_survivor = hwnd;
}

void UnregisterLocalWindowClass() {
  if (!g_classRegistered) return;
  const bool unregistered = UnregisterLocalClass();
  // Windows of another thread still use the class: point it at the default procedure, so no
  // window made of it later calls into this library once it is unloaded.
  if (!unregistered && g_survivor && IsWindow(g_survivor))
    SetClassLongA(g_survivor, GCL_WNDPROC, reinterpret_cast<LONG>(DefWindowProcA));
  g_survivor = nullptr;
  g_classRegistered = false;
  g_classStale = false;
}

int OnCreate(UINT32, UINT32 remoteWnd, UINT32 groupId, UINT32 parentId, UINT32 flags) {
  const HWND host = GetHostFrameWindow();
  // Before the first session start there is no host frame to tell, raise or shape.
  if (host) PostMessageA(host, WM_USER_WINDOWS_CHANGED, 0, 0);

  CWindowData *record = FindWindowData(remoteWnd);
  if (!record) {
    LogDebug("Can not find CWindowData object for remote window:%.8X, create one!\n", static_cast<unsigned>(remoteWnd));
    record = AddNewWindowData(remoteWnd);
    if (!record) return 1;  // memory cannot be obtained: the command is dropped
  } else {
    LogDebug("Find CWindowData object %.8X for remote window:%.8X!\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(record)), static_cast<unsigned>(remoteWnd));
  }
  record->m_remoteWnd = remoteWnd;
  record->m_remoteParent = parentId;
  record->m_groupId = groupId;

  if (parentId == 0) {
    LogDebug("Parent of remote window: %.8X is NULL, so create a local dummy window for it!\n",
             static_cast<unsigned>(remoteWnd));
    CreateLocalWindow(record);
    if (flags & kToolWindowFlag) {
      LogDebug("Remote window: %.8X is a tool window, set WS_EX_TOOLWINDOW flag!\n", static_cast<unsigned>(remoteWnd));
      RestyleLocalWindow(record->m_hWnd, true, SW_HIDE);
    } else {
      RestyleLocalWindow(record->m_hWnd, false, SW_SHOW);
    }
  }

  if (host) {
    SetWindowPos(host, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(host, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(host);
    OnUpdateRgn(std::string_view());
  }
  return 1;
}
