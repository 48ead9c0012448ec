// SYSTRAY: the agent reports each shell call of a remote application on the notification area as
// a notification record, followed by the icon's parts when the record carries an icon. The record
// is pointed at a local proxy window and the same call is made on the local desktop.
#include "appearance/tray.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "appearance/icon.h"
#include "appearance/payload.h"
#include "common/bytes.h"
#include "common/debug_log.h"
#include "common/handles.h"
#include "common/host_interface.h"
#include "mirror/local_window.h"
#include "mirror/window_data.h"

namespace {

constexpr INT32 kRecordPart = -1;
// A notification record's fields as a 32-bit application lays them out, the same in both forms.
constexpr size_t kHWndOffset = 4;
constexpr size_t kIdOffset = 8;
constexpr size_t kFlagsOffset = 12;
constexpr size_t kCallbackOffset = 16;
constexpr size_t kIconOffset = 20;
// hBalloonIcon, the last field of the latest records (956 bytes wide, 508 bytes narrow).
constexpr size_t kBalloonIconOffsetW = 952;
constexpr size_t kBalloonIconOffsetA = 504;
// The record must reach past hIcon: those are the fields rewritten here.
constexpr INT32 kMinRecordSize = 24;
constexpr size_t kRecordHeaderSize = 5;  // CharType and dwMessage in front of the record

// The pending record: the local copy of the remote record, waiting for its icon or the shell call.
std::unique_ptr<unsigned char[]> pNotifyIconData;
char CharType = 0;
DWORD dwMessage = 0;
// The assembly for notification icons; SETICON has its own.
IconAssembly g_trayIconAssembly;
// The icons this mirror has put in the local notification area, by proxy window and uID: a proxy
// window that goes takes its icons along, as an application deletes its icons before its window
// goes (the shell would otherwise keep them, dead, until the pointer passes over them).
std::set<std::pair<HWND, UINT>> g_shownIcons;

// The record stored under the owner window's id, made (with a hidden tool window) when the
// registry has none. Null when the caps on records and local windows leave no room for one.
CWindowData *ChooseProxyRecord(UINT32 remoteWnd) {
  if (CWindowData *found = FindWindowData(remoteWnd)) return found;
  if (!CanAddWindowData() || !CanAddLocalWindow()) {
    LogDebug("SYSTRAY for remote window:%.8X dropped: no room for another proxy window\n",
             static_cast<unsigned>(remoteWnd));
    return nullptr;
  }
  LogDebug("Can not find local window, create it!\n");
  CWindowData *proxy = AddNewWindowData(remoteWnd);
  if (!proxy) return nullptr;
  CreateLocalWindow(proxy);
  LogDebug("Create a local window:%.8X for remote window:%.8X\n",
           static_cast<unsigned>(reinterpret_cast<UINT_PTR>(proxy->m_hWnd)), static_cast<unsigned>(remoteWnd));
  RestyleLocalWindow(proxy->m_hWnd, true, SW_HIDE);
  return proxy;
}

bool PendingRecordWantsIcon() {
  const UINT32 flags = ReadU32(pNotifyIconData.get() + kFlagsOffset);
  return (flags & NIF_ICON) != 0 && ReadU32(pNotifyIconData.get() + kIconOffset) != 0;
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
    WriteU32(pNotifyIconData.get() + kIconOffset, static_cast<UINT32>(reinterpret_cast<UINT_PTR>(icon)));
  }
  // The shell keeps its own copy of the icon; ours goes when the call returns.
  UniqueIcon builtIcon(icon);
  LogDebug("Now calling local Shell_NotifyIcon functions\n");
  const BOOL shown = CharType == 'W'
                         ? Shell_NotifyIconW(dwMessage, reinterpret_cast<NOTIFYICONDATAW *>(pNotifyIconData.get()))
                         : Shell_NotifyIconA(dwMessage, reinterpret_cast<NOTIFYICONDATAA *>(pNotifyIconData.get()));
  const std::pair<HWND, UINT> key(
      reinterpret_cast<HWND>(static_cast<UINT_PTR>(ReadU32(pNotifyIconData.get() + kHWndOffset))),
      ReadU32(pNotifyIconData.get() + kIdOffset));
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
  CharType = static_cast<char>(data[0]);
  dwMessage = ReadU32(data + 1);
  LogDebug("CharType=%c, dwMessage=%d\n", CharType, static_cast<int>(dwMessage));
  if (CharType != 'W' && CharType != 'A') return 0;

  const INT32 iNotifyDataSize = static_cast<INT32>(ReadU32(data + kRecordHeaderSize));
  LogDebug("iNotifyDataSize = %d\n", static_cast<int>(iNotifyDataSize));
  if (iNotifyDataSize < kMinRecordSize || static_cast<size_t>(iNotifyDataSize) > bytes.size() - kRecordHeaderSize)
    return 0;

  pNotifyIconData.reset();
  // The shell reads a record whose cbSize it does not know as one of the first version's size,
  // longer than the smallest records accepted here: the buffer always spans the whole structure,
  // zero past the copied bytes, so no size the agent names makes the shell read past it.
  const size_t structureSize = CharType == 'W' ? sizeof(NOTIFYICONDATAW) : sizeof(NOTIFYICONDATAA);
  const size_t bufferSize = std::max(static_cast<size_t>(iNotifyDataSize), structureSize);
  pNotifyIconData.reset(new (std::nothrow) unsigned char[bufferSize]());
  if (!pNotifyIconData) {
    LogDebug("New pNotifyIconData buffer failed!\n");
    return 0;
  }
  unsigned char *record = pNotifyIconData.get();
  std::memcpy(record, data + kRecordHeaderSize, static_cast<size_t>(iNotifyDataSize));
  WriteU32(record + kHWndOffset, static_cast<UINT32>(reinterpret_cast<UINT_PTR>(proxy->m_hWnd)));
  // A balloon icon is a handle of the remote session, meaningless (or another object) here: none.
  const size_t balloonIcon = CharType == 'W' ? kBalloonIconOffsetW : kBalloonIconOffsetA;
  if (static_cast<size_t>(iNotifyDataSize) >= balloonIcon + 4) WriteU32(record + balloonIcon, 0);
  if (ReadU32(record + kFlagsOffset) & NIF_MESSAGE) {
    proxy->m_uTrayCallbackMsg = ReadU32(record + kCallbackOffset);
    WriteU32(record + kCallbackOffset, WM_TRAYMESSAGE);
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
  if (pNotifyIconData &&
      ReadU32(pNotifyIconData.get() + kHWndOffset) == static_cast<UINT32>(reinterpret_cast<UINT_PTR>(hwnd)))
    DropPendingRecord();
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
