// CWindowData, one record per remote window, and the window registry that owns the records:
// an ordered map from remote window id (ascending unsigned order) to record.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

class CWindowData {
 public:
  CWindowData() = default;
  ~CWindowData();  // destroys the icons it holds; never the window
  CWindowData(const CWindowData &) = delete;
  CWindowData &operator=(const CWindowData &) = delete;

  // Replaces the big or the small icon slot, destroying the icon that was there.
  void SetIcon(bool large, HICON icon);

  HWND m_hWnd = nullptr;
  UINT32 m_uTrayCallbackMsg = 0;
  HICON m_hBigIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
  std::string m_strTitle;
  // The exact title as the agent sent it; m_strTitle is its ANSI form. A window created later is
  // given this text, so a title outside the ANSI code page arrives whole.
  std::basic_string<WCHAR> m_strTitleW;
  UINT32 m_remoteWnd = 0;
  UINT32 m_remoteParent = 0;
  UINT32 m_groupId = 0;
  // CREATE announced the remote window as top-level: the local window stands for it (and a close
  // request goes to it). The session placeholder and notification proxies stand for none.
  bool m_mirrorsRemoteWindow = false;
};

using WindowRegistry = std::map<UINT32, CWindowData *>;

// The most records kept, and the most of them with a local window. Each local window takes one of
// the host process's user objects (10,000 by default, shared with the host's own windows and
// menus); both caps are far above any real session.
constexpr size_t kMaxWindowRecords = 65536;
constexpr size_t kMaxLocalWindows = 4096;

// Whether one more record, or one more record with a local window, may be made. A command that
// would pass either cap is dropped with a log line.
bool CanAddWindowData();
bool CanAddLocalWindow();

// The registry itself, for ordered walks and the entry count. Only this module adds or removes.
const WindowRegistry &GetWindowRegistry();

CWindowData *FindWindowData(UINT32 remoteWnd);
// Inserts the record under remoteWnd; false (and the caller keeps the record) when the id is taken.
bool AddWindowData(UINT32 remoteWnd, CWindowData *record);
// A new record with its id, registered under it; null when the id is taken. Throws std::bad_alloc
// when memory cannot be obtained, with the registry as it was.
CWindowData *AddNewWindowData(UINT32 remoteWnd);
// Destroys the record's local window (the record still registered while WM_DESTROY runs), releases
// the record and removes the entry. Returns the entry after it, for walks that remove as they go.
WindowRegistry::const_iterator DestroyWindowData(WindowRegistry::const_iterator entry);
// A local window received WM_NCDESTROY. Any program can send that message to a live window, so
// whether the window is really gone is checked before the registry is next used.
void NoteLocalWindowDestroyed(HWND hwnd);
// Every record whose local window was destroyed (by anyone, the add-in or another) has none now,
// so a later CREATE for its id makes a new one and no walk names the dead handle.
void ForgetDestroyedLocalWindows();
// First record, in ascending id order, whose local window is hwnd; null when none.
CWindowData *FindWindowDataByLocalWindow(HWND hwnd, UINT32 *remoteWnd);

// Makes sure the record has a local window (an existing one is reused) and shows it: zero size, at
// the screen origin, on top.
void CreateLocalWindow(CWindowData *record);
// Gives a registered (or not yet registered) record a local window, keeping the lookup by local
// window current.
void BindLocalWindow(CWindowData *record, HWND hwnd);

// Session start and library unload: destroys every local window and record, in ascending id
// order. The window procedure, run from inside each DestroyWindow, only ever finds live records.
void DestroyAllWindowData();
