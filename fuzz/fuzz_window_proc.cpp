// The window procedure: fuzzer-chosen window messages and parameters sent (or posted) to the
// local windows, the notification proxy window and the session placeholder of a live session,
// mixed with agent commands that create, destroy, retitle and hide those windows in between.
//
// Input: one byte choosing the display mode, then 10-byte records: target, message selector,
// wParam (4 bytes, little-endian), lParam (4 bytes). Messages whose lParam is an address in the
// process (text, the start-program request) get a real buffer filled from the record; any other
// message number goes out with the fuzzer's parameters as they are, as any program on the desktop
// can send it.
#include <windows.h>

#include <inspect.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "desktop.h"
#include "encode.h"
#include "fuzz_session.h"
#include "common/host_interface.h"

namespace {

using testkit::LocalWindows;

// Messages the procedure handles, and ones the desktop sends to any window.
const UINT kMessages[] = {WM_ACTIVATE,
                          WM_SETFOCUS,
                          WM_KILLFOCUS,
                          WM_IME_CHAR,
                          WM_SYSMENU_REQUEST,
                          WM_TRAYMESSAGE,
                          WM_USER_START_PROG_REQ,
                          WM_DESTROY,
                          WM_CLOSE,
                          WM_SETTEXT,
                          WM_GETTEXT,
                          WM_GETTEXTLENGTH,
                          WM_SETICON,
                          WM_GETICON,
                          WM_PAINT,
                          WM_TIMER,
                          WM_NCACTIVATE,
                          WM_SYSCOMMAND,
                          WM_USER_ACTIVE_WINDOW,
                          WM_USER_START_PROG_ACK,
                          WM_USER_WINDOWS_CHANGED,
                          WM_USER_PLACEHOLDER_WINDOW,
                          WM_LBUTTONUP,
                          WM_RBUTTONUP,
                          WM_QUIT};
// Messages whose lParam the default handling reads as an address; only the cases above, with a
// buffer of their own, may carry them.
const UINT kAddressMessages[] = {WM_CREATE, WM_SETTEXT, WM_GETTEXT, 0x0024,      0x0046, 0x0047,
                                 0x004A,    0x007C,     0x007D,     WM_NCCREATE, 0x0083, WM_USER_START_PROG_REQ};

uint32_t Le32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

std::string Record(uint32_t flags, uint32_t callback) {
  testkit::NotifyRecord record;
  record.charType = 'W';
  record.uID = 1;
  record.uFlags = flags;
  record.uCallbackMessage = callback;
  record.tip = u"tip";
  return testkit::Message(
      {"SYSTRAY", "1", "0x500", "-1", "0", "0", "16", testkit::PackPayload(testkit::NotifyRecordBytes(record))});
}

// A live session: two mirrored windows (one a tool window), a child record without a window, a
// notification icon whose proxy window has a callback message.
void PlaySession() {
  quorvfuzz::Deliver("CREATE,1,0x10010,1,0,0");
  quorvfuzz::Deliver("CREATE,2,0x10020,1,0,2");
  quorvfuzz::Deliver("CREATE,3,0x10030,2,0x10010,0");
  quorvfuzz::Deliver("TITLE,4,0x10010,004100620063,0");
  quorvfuzz::Deliver(Record(1 | 4, 0x8001));
}

// An agent command in between window messages, chosen by the record.
void AgentCommand(unsigned which, uint32_t wParam) {
  char text[96];
  const unsigned id = 0x10010 + (wParam % 8) * 0x10;
  switch (which % 8) {
    case 0:
      std::snprintf(text, sizeof text, "CREATE,9,0x%x,%u,0,%u", id, wParam % 3, (wParam >> 8) % 4);
      break;
    case 1:
      std::snprintf(text, sizeof text, "DESTROY,9,0x%x,0", id);
      break;
    case 2:
      std::snprintf(text, sizeof text, "DESTROYGRP,9,%u,0", wParam % 3);
      break;
    case 3:
      std::snprintf(text, sizeof text, "SHOWWINDOW,9,0x%x,%u", id, (wParam >> 8) % 12);
      break;
    case 4:
      std::snprintf(text, sizeof text, "TITLE,9,0x%x,0041%04X,0", id, (wParam >> 8) & 0xFFFF);
      break;
    case 5:
      quorvfuzz::Deliver(Record(wParam & 0x1F, wParam >> 16));
      return;
    case 6:
      std::snprintf(text, sizeof text, "HELLO,9,%u", wParam % 4);
      break;
    default:
      quorvfuzz::Pump();
      return;
  }
  quorvfuzz::Deliver(text);
}

void SendOne(HWND target, UINT message, uint32_t wParam, uint32_t lParam, bool post, const std::vector<HWND> &windows) {
  char text[64];
  std::snprintf(text, sizeof text, "%08x%08x", wParam, lParam);
  const bool isAddress =
      std::find(std::begin(kAddressMessages), std::end(kAddressMessages), message) != std::end(kAddressMessages);
  if (message == WM_SETTEXT) {
    SendMessageA(target, message, 0, reinterpret_cast<LPARAM>(text));
  } else if (message == WM_GETTEXT) {
    char buffer[64];
    SendMessageA(target, message, wParam % sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  } else if (message == WM_USER_START_PROG_REQ) {
    // The request comes from a window of the host process (or claims to) with a real text.
    const HWND requester =
        (wParam & 1) && !windows.empty() ? windows[(wParam >> 1) % windows.size()] : reinterpret_cast<HWND>(wParam);
    SendMessageA(target, message, reinterpret_cast<WPARAM>(requester),
                 (lParam & 1) ? 0 : reinterpret_cast<LPARAM>(text));
  } else if (isAddress) {
    return;
  } else if (post && message != WM_TIMER) {  // a posted WM_TIMER's lParam is a procedure to call
    PostMessageA(target, message, wParam, lParam);
  } else {
    SendMessageA(target, message, wParam, lParam);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  winsim::SetCalendarTime(1700000000);
  quorvfuzz::BeginInput(data[0] % 3);
  PlaySession();
  std::vector<HWND> windows = LocalWindows();
  int64_t clock = 1700000000;
  for (size_t offset = 1; offset + 10 <= size; offset += 10) {
    const uint8_t *r = data + offset;
    const uint32_t wParam = Le32(r + 2), lParam = Le32(r + 6);
    if (r[0] & 0x80) winsim::SetCalendarTime(++clock);  // the next focus event falls in a new second
    if (r[1] >= 0xF0) {
      AgentCommand(r[1] & 0x0F, wParam);
      windows = LocalWindows();
      continue;
    }
    // The add-in's windows only: the host frame's procedure belongs to the host application.
    if (windows.empty()) continue;
    const HWND target = windows[(r[0] & 0x3F) % windows.size()];
    const size_t kinds = sizeof kMessages / sizeof kMessages[0];
    const UINT message = r[1] < 0xC0 ? kMessages[r[1] % kinds] : (wParam ^ lParam) & 0xFFFF;
    SendOne(target, message, wParam, lParam, (r[0] & 0x40) != 0, windows);
    if (message == WM_CLOSE || message == WM_SYSCOMMAND || r[1] >= 0xC0) windows = LocalWindows();
  }
  quorvfuzz::Pump();
  quorvfuzz::EndInput();
  return 0;
}
