// SYSTRAY: the agent reports each shell call of a remote application on the notification area as
// a notification record, followed by the icon's parts when the record carries an icon. The record
// is pointed at a local proxy window and the same call is made on the local desktop.
#include "appearance/tray.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cinttypes>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "appearance/icon.h"
#include "appearance/notify_record.h"
#include "appearance/payload.h"
#include "common/bytes.h"
#include "common/debug_log.h"
#include "common/handles.h"
#include "common/host_interface.h"
#include "mirror/local_window.h"
#include "mirror/window_data.h"

namespace {

constexpr INT32 kRecordPart = -1;
constexpr size_t kRecordHeaderSize = 5;  // CharType and dwMessage in front of the record

// The pending record: the remote record rebuilt as this build's structure, waiting for its icon or
// the shell call.
std::unique_ptr<NativeNotifyRecord> pNotifyIconData;
char CharType = 0;
DWORD dwMessage = 0;
// The assembly for notification icons; SETICON has its own.
IconAssembly g_trayIconAssembly;
// The icons this mirror has put in the local notification area, by proxy window and uID: a proxy
// window that goes takes its icons along, as an application deletes its icons before its window
// goes (the shell would otherwise keep them, dead, until the pointer passes over them).
std::set<std::pair<HWND, UINT>> g_shownIcons;

// The record stored under the owner window's id, made (with a hidden tool window) when the
// registry has none. A record without parent whose local window another program destroyed gets a
// new hidden tool window, as CREATE makes a new local window: the shell would otherwise get the
// icon with no window, its clicks would be lost, and nothing would remove it. (A record with a
// parent never has a local window; its icons go to the shell without one.) Null when the caps on
// records and local windows leave no room.
CWindowData *ChooseProxyRecord(UINT32 remoteWnd) {
  ForgetDestroyedLocalWindows();
  CWindowData *proxy = FindWindowData(remoteWnd);
  if (proxy && (proxy->m_hWnd || proxy->m_remoteParent != 0)) return proxy;
  if ((!proxy && !CanAddWindowData()) || !CanAddLocalWindow()) {
    LogDebug("SYSTRAY for remote window:%.8X dropped: no room for another proxy window\n",
             static_cast<unsigned>(remoteWnd));
    return nullptr;
  }
  LogDebug("Can not find local window, create it!\n");
  if (!proxy) proxy = AddNewWindowData(remoteWnd);
  if (!proxy) return nullptr;
  CreateLocalWindow(proxy);
  LogDebug("Create a local window:%.8" PRIXPTR " for remote window:%.8X\n", reinterpret_cast<uintptr_t>(proxy->m_hWnd),
           static_cast<unsigned>(remoteWnd));
  RestyleLocalWindow(proxy->m_hWnd, true, SW_HIDE);
  return proxy;
}

bool PendingRecordWantsIcon() {
  return (pNotifyIconData->uFlags() & NIF_ICON) != 0 && pNotifyIconData->hIcon() != nullptr;
}

void DropPendingRecord() {
  pNotifyIconData.reset();
  CharType = 0;
  dwMessage = 0;
}

void ResetAfterFire() {
  DropPendingRecord();
  g_trayIconAssembly.maskBits.clear();
  g_trayIconAssembly.colorBits.clear();
  g_trayIconAssembly.completedParts = 0;
}

// Makes the shell call of the pending record, with the icon built from the tray assembly when the
// record carries one; then the mirror is idle again.
int CallShellWithPendingRecord(bool large) {
  if (!pNotifyIconData) {
    // An icon set with no record waiting for it: nothing to show it in.
    ResetAfterFire();
    return 0;
  }
  HICON icon = nullptr;
  if (PendingRecordWantsIcon()) {
    LogDebug(large ? "Now get large icon\n" : "Now get small icon\n");
    icon = BuildIcon(g_trayIconAssembly);
    pNotifyIconData->hIcon() = icon;
  }
  // The shell keeps its own copy of the icon; ours goes when the call returns.
  UniqueIcon builtIcon(icon);
  LogDebug("Now calling local Shell_NotifyIcon functions\n");
  // The record's own structure picks the call.
  NativeNotifyRecord &record = *pNotifyIconData;
  const BOOL shown =
      record.charType == 'W' ? Shell_NotifyIconW(dwMessage, &record.w) : Shell_NotifyIconA(dwMessage, &record.a);
  const std::pair<HWND, UINT> key(record.hWnd(), record.uID());
  const DWORD message = dwMessage;
  ResetAfterFire();
  if (shown && message == NIM_ADD) g_shownIcons.insert(key);
  if (shown && message == NIM_DELETE) g_shownIcons.erase(key);
  return 1;
}

// A notification record (part kind -1): copied, pointed at the proxy window, and passed to the
// shell at once unless its icon is still to come.
int TakeNotifyRecord(CWindowData *proxy, bool large, std::string_view payload) {
  const std::string bytes = UnpackPayloadString(payload);
  if (bytes.size() < 9) {
    LogDebug("Message length is to small!\n");
    return 0;
  }
  const unsigned char *data = reinterpret_cast<const unsigned char *>(bytes.data());
  // Read aside: a rejected record leaves the form and the message of the one waiting for its icon
  // as they were (the waiting record is neither read as the other form nor turned into another
  // call).
  const char charType = static_cast<char>(data[0]);
  const DWORD message = ReadU32(data + 1);
  LogDebug("CharType=%c, dwMessage=%d\n", charType, static_cast<int>(message));
  if (charType != 'W' && charType != 'A') return 0;

  const INT32 iNotifyDataSize = static_cast<INT32>(ReadU32(data + kRecordHeaderSize));
  LogDebug("iNotifyDataSize = %d\n", static_cast<int>(iNotifyDataSize));
  if (iNotifyDataSize < static_cast<INT32>(kMinWireNotifyRecordSize) ||
      static_cast<size_t>(iNotifyDataSize) > bytes.size() - kRecordHeaderSize)
    return 0;

  CharType = charType;
  dwMessage = message;
  pNotifyIconData.reset(new (std::nothrow) NativeNotifyRecord);
  if (!pNotifyIconData) {
    LogDebug("New pNotifyIconData buffer failed!\n");
    DropPendingRecord();
    return 0;
  }
  RebuildNotifyRecord(CharType, data + kRecordHeaderSize, static_cast<size_t>(iNotifyDataSize), pNotifyIconData.get());
  NativeNotifyRecord &record = *pNotifyIconData;
  record.hWnd() = proxy->m_hWnd;
  // A balloon icon is a handle of the remote session, meaningless (or another object) here: none.
  record.hBalloonIcon() = nullptr;
  if (record.uFlags() & NIF_MESSAGE) {
    proxy->m_uTrayCallbackMsg = record.uCallbackMessage();
    record.uCallbackMessage() = WM_TRAYMESSAGE;
  }
  if (PendingRecordWantsIcon()) {
    LogDebug("There is ICON data, wait for more data to come ...\n");
    return 0;
  }
  return CallShellWithPendingRecord(large);
}

}  // namespace

int OnSysTray(UINT32 /*messageNumber*/, UINT32 remoteWnd, INT32 partKind, bool large, std::string_view payload) {
  CWindowData *proxy = ChooseProxyRecord(remoteWnd);
  if (proxy == nullptr) return 0;
  if (partKind == kRecordPart) return TakeNotifyRecord(proxy, large, payload);
  if (!AddIconPart(g_trayIconAssembly, partKind, payload)) return 0;
  return CallShellWithPendingRecord(large);
}

namespace {

void DeleteNotifyIcon(HWND hwnd, UINT uID) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = hwnd;
  data.uID = uID;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

}  // namespace

void RemoveNotifyIconsOf(HWND hwnd) {
  // A record still waiting for its icon names this window: shown later, it would give the shell
  // an icon of a window that is gone (or of whatever window gets the handle next).
  if (pNotifyIconData && pNotifyIconData->hWnd() == hwnd) DropPendingRecord();
  for (auto it = g_shownIcons.lower_bound({hwnd, 0}); it != g_shownIcons.end() && it->first == hwnd;) {
    DeleteNotifyIcon(hwnd, it->second);
    it = g_shownIcons.erase(it);
  }
}

void ResetTrayMirror() {
  // What is left after the windows went: icons given to the shell without a window (the owner's
  // record had none).
  for (const auto &[hwnd, uID] : g_shownIcons) DeleteNotifyIcon(hwnd, uID);
  g_shownIcons.clear();
  DropPendingRecord();
  g_trayIconAssembly = IconAssembly();
}
