// What the add-in asks of the agent. Every line is from the client machine: it acts only on
// windows the agent reported, only with the messages the add-in sends, and logs what it refuses.
// Every log line a message from the channel causes, carried out or refused, goes through the
// input log's limit (LogInput): the client decides how often they come.
#include "agent.h"

#include "window_scan.h"

#include <algorithm>
#include <cstdint>

namespace agent {

namespace {

// The window messages the add-in forwards: the taskbar's system-menu request, and WM_CLOSE.
const UINT WM_SYSMENU_REQUEST = 0x0313;
// The agent's menu.
const UINT kMenuRescan = 1, kMenuStop = 2;

std::wstring Widen(const std::string &text, UINT codePage) {
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// Brings a window to the foreground, restoring it when it is minimized. Windows lets the
// foreground move only from the thread that has the input; when a plain request is refused, the
// agent joins that thread's input for the moment of the request.
bool BringToForeground(HWND hwnd) {
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  if (SetForegroundWindow(hwnd) && GetForegroundWindow() == hwnd) return true;
  const DWORD self = GetCurrentThreadId();
  const DWORD foreground = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const bool attached = foreground && foreground != self && AttachThreadInput(self, foreground, TRUE);
  BringWindowToTop(hwnd);
  SetForegroundWindow(hwnd);
  if (attached) AttachThreadInput(self, foreground, FALSE);
  return GetForegroundWindow() == hwnd;
}

}  // namespace

void Agent::Carry(const std::string &line) {
  if (options_.verbose && LogInput()) Log("received %s", Printable(line, 200).c_str());
  const Command c = ParseCommand(line);
  switch (c.kind) {
    case CommandKind::kFocus:
      Focus(c);
      break;
    case CommandKind::kWindowMessage:
      WindowMessage(c);
      break;
    case CommandKind::kCursor:
      MoveCursor(c);
      break;
    case CommandKind::kStartProgram:
      StartProgram(c);
      break;
    case CommandKind::kIme:
      if (LogInput()) Log("IME character U+%04X ignored: the agent does not type for the client", c.character & 0xFFFF);
      break;
    case CommandKind::kUnknown:
      if (LogInput()) Log("ignored a message of unknown kind: %s", Printable(line, 80).c_str());
      break;
    case CommandKind::kMalformed:
      if (LogInput()) Log("ignored %s: %s", c.keyword.c_str(), c.problem.c_str());
      break;
  }
}

void Agent::Focus(const Command &c) {
  const HWND hwnd = reinterpret_cast<HWND>(tracker_.ReportedHandle(c.window));
  if (!hwnd) {
    // The add-in also reports its session placeholder (window 0) and the agent's own notification
    // icon window as they are activated: nothing in the session to bring forward.
    const bool own = c.window == 0 || (tray_ && c.window == tray_->ownerId());
    if (!own && LogInput()) Log("FOCUS %s: not a window the agent reported; ignored", wire::HexId(c.window).c_str());
    return;
  }
  const bool done = BringToForeground(hwnd);
  if (LogInput())
    Log("FOCUS %s: %s", wire::HexId(c.window).c_str(),
        done ? "brought to the foreground" : "the foreground did not move");
}

void Agent::WindowMessage(const Command &c) {
  const std::string id = wire::HexId(c.window);
  if (tray_ && c.window == tray_->ownerId()) {
    if (c.message != tray_->callbackMessage() || c.wParam != AgentTray::kIconId) {
      if (LogInput()) Log("WNDMSG %s message %u: not the agent's notification icon's; ignored", id.c_str(), c.message);
      return;
    }
    if (AgentTray::OpensMenu(c.lParam)) ShowMenu();
    return;
  }
  const HWND hwnd = reinterpret_cast<HWND>(tracker_.ReportedHandle(c.window));
  if (!hwnd) {
    if (LogInput()) Log("WNDMSG %s: not a window the agent reported; ignored", id.c_str());
    return;
  }
  if (c.message == WM_SYSMENU_REQUEST) {
    // The window shows its system menu at the point (screen coordinates in lParam) as it does for
    // its taskbar button; a menu is shown by the foreground window.
    BringToForeground(hwnd);
    PostMessageW(hwnd, WM_SYSMENU_REQUEST, c.wParam, static_cast<LPARAM>(static_cast<int32_t>(c.lParam)));
    if (LogInput()) Log("WNDMSG %s: system menu requested", id.c_str());
  } else if (c.message == WM_CLOSE) {
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    if (LogInput()) Log("WNDMSG %s: asked to close", id.c_str());
  } else if (LogInput()) {
    Log("WNDMSG %s message %u: not a message the add-in forwards; ignored", id.c_str(), c.message);
  }
}

void Agent::MoveCursor(const Command &c) {
  const bool known = tracker_.Reported(c.window) || (tray_ && c.window == tray_->ownerId());
  if (!known) {
    if (LogInput()) Log("SETCURSORPOS %s: not a window the agent reported; ignored", wire::HexId(c.window).c_str());
    return;
  }
  // Frame coordinates are screen coordinates from the corner of the virtual screen; any 32-bit
  // value may come, and the sum is kept in range (SetCursorPos keeps the cursor on the screen).
  auto screen = [](int origin, int32_t value) {
    const int64_t sum = int64_t{origin} + value;
    return static_cast<int>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
  };
  SetCursorPos(screen(GetSystemMetrics(SM_XVIRTUALSCREEN), c.x), screen(GetSystemMetrics(SM_YVIRTUALSCREEN), c.y));
}

void Agent::StartProgram(const Command &c) {
  const std::string shown = Printable(c.text, 200);
  if (!options_.allowStart) {
    if (LogInput())
      Log("StartProg \"%s\" refused: starting programs is off (--allow-start turns it on)", shown.c_str());
    return;
  }
  // The add-in sends the text as the client's program gave it: the ANSI code page.
  std::wstring command = Widen(c.text, CP_ACP);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();
    if (LogInput()) Log("StartProg \"%s\": cannot start it (error %lu)", shown.c_str(), error);
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (LogInput()) Log("StartProg \"%s\": started (process %lu)", shown.c_str(), process.dwProcessId);
}

void Agent::ShowMenu() {
  if (menuOpen_) return;  // a second click while the menu is up
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  wchar_t status[96];
  swprintf(status, 96, L"quorv agent: %u windows reported", static_cast<unsigned>(tracker_.reportedCount()));
  AppendMenuW(menu, MF_STRING | MF_GRAYED, 0, status);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kMenuRescan, L"Report every window again");
  AppendMenuW(menu, MF_STRING, kMenuStop, L"Stop the agent");
  POINT at;
  GetCursorPos(&at);
  menuOpen_ = true;
  if (LogInput()) Log("showing the agent's menu at %ld,%ld", at.x, at.y);
  // A menu closes when the user clicks elsewhere only if its window is in the foreground.
  SetForegroundWindow(window_);
  ScanSoon();  // the menu is part of the shape while it is up
  const UINT chosen =
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, window_, nullptr);
  PostMessageW(window_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  menuOpen_ = false;
  ScanSoon();
  if (chosen == kMenuRescan) {
    Log("menu: reporting every window again");
    tracker_.Farewell();
    Scan(false);
  } else if (chosen == kMenuStop) {
    Log("menu: stopping");
    RequestStop();
  }
}

}  // namespace agent
