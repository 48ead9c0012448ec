// CREATE: a record for every remote window announced, and a local window for each one without
// parent or owner.
#include "mirror/create.h"

#include "common/debug_log.h"
#include "common/host_frame.h"
#include "common/host_interface.h"
#include "mirror/local_window.h"
#include "mirror/window_data.h"

#include <cinttypes>

namespace {

constexpr UINT32 kToolWindowFlag = 2;  // CREATE field 5: the remote window is a tool window

}  // namespace

int OnCreate(UINT32, UINT32 remoteWnd, UINT32 groupId, UINT32 parentId, UINT32 flags) {
  CWindowData *record = FindWindowData(remoteWnd);
  if (!record && !CanAddWindowData()) {
    LogDebug("CREATE for remote window:%.8X dropped: %u records kept already\n", static_cast<unsigned>(remoteWnd),
             static_cast<unsigned>(kMaxWindowRecords));
    return 0;
  }
  if (parentId == 0 && !(record && record->m_hWnd) && !CanAddLocalWindow()) {
    LogDebug("CREATE for remote window:%.8X dropped: %u local windows made already\n", static_cast<unsigned>(remoteWnd),
             static_cast<unsigned>(kMaxLocalWindows));
    return 0;
  }

  const HWND host = GetHostFrameWindow();
  // Before the first session start there is no host frame to tell or raise.
  if (host) PostMessageA(host, WM_USER_WINDOWS_CHANGED, 0, 0);

  if (!record) {
    LogDebug("Can not find CWindowData object for remote window:%.8X, create one!\n", static_cast<unsigned>(remoteWnd));
    record = AddNewWindowData(remoteWnd);
    if (!record) return 1;  // memory cannot be obtained: the command is dropped
  } else {
    LogDebug("Find CWindowData object %.8" PRIXPTR " for remote window:%.8X!\n", reinterpret_cast<uintptr_t>(record),
             static_cast<unsigned>(remoteWnd));
  }
  record->m_remoteWnd = remoteWnd;
  record->m_remoteParent = parentId;
  record->m_groupId = groupId;

  if (parentId == 0) {
    LogDebug("Parent of remote window: %.8X is NULL, so create a local dummy window for it!\n",
             static_cast<unsigned>(remoteWnd));
    CreateLocalWindow(record);
    record->m_mirrorsRemoteWindow = true;
    if (flags & kToolWindowFlag) {
      LogDebug("Remote window: %.8X is a tool window, set WS_EX_TOOLWINDOW flag!\n", static_cast<unsigned>(remoteWnd));
      RestyleLocalWindow(record->m_hWnd, true, SW_HIDE);
    } else {
      RestyleLocalWindow(record->m_hWnd, false, SW_SHOW);
    }
  }

  if (host) {
    // Topmost and straight back: the frame comes to the front of the ordinary windows without
    // staying above them.
    SetWindowPos(host, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(host, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(host);
  }
  return 1;
}
