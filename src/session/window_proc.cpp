// The window procedure of every local window: what the user does to them reaches the agent.
#include "session/window_proc.h"

#include "appearance/tray.h"
#include "channel/write_queue.h"
#include "common/debug_log.h"
#include "common/host_frame.h"
#include "common/host_interface.h"
#include "mirror/window_data.h"

#include <cinttypes>
#include <cstring>
#include <ctime>
#include <new>
#include <unordered_map>

namespace {

// Local window -> calendar second of its last focus event.
std::unordered_map<HWND, INT32> g_lastFocusEvent;

// The longest program text a "StartProg" frame can carry.
constexpr size_t kMaxProgramText = 1399;

unsigned long Id(UINT32 remoteWnd) { return remoteWnd; }

// Tells the host frame which local window is active. Before a session start has found the frame
// there is no one to tell: a post to a null window would land in this thread's own queue.
void PostActiveWindow(HWND local) {
  if (HWND host = GetHostFrameWindow()) PostMessageA(host, WM_USER_ACTIVE_WINDOW, reinterpret_cast<WPARAM>(local), 0);
}

// True when a focus event for hwnd comes within the same calendar second as the last one.
bool IsFocusEventRepeated(HWND hwnd) {
  const INT32 now = static_cast<INT32>(time(nullptr));
  auto it = g_lastFocusEvent.find(hwnd);
  if (it == g_lastFocusEvent.end()) {
    g_lastFocusEvent.emplace(hwnd, now);
    return false;
  }
  const INT32 elapsed = static_cast<INT32>(static_cast<UINT32>(now) - static_cast<UINT32>(it->second));
  it->second = now;
  return elapsed < 1;
}

LRESULT OnFocus(HWND hwnd) {
  if (IsFocusEventRepeated(hwnd)) return 1;
  LogDebug("Received WM_SETFOCUS or WM_ACTIVATE\n");
  PostActiveWindow(hwnd);
  UINT32 remoteWnd = 0;
  if (FindWindowDataByLocalWindow(hwnd, &remoteWnd)) SendAgentMessage("FOCUS", "0x%08lx", Id(remoteWnd));
  SetForegroundWindow(GetHostFrameWindow());
  return 1;
}

// WM_DESTROY: the host frame is told of another local window, which stays active in its place.
LRESULT OnLocalWindowDestroyed(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  LogDebug("Received WM_DESTROY\n");
  for (const auto &entry : GetWindowRegistry()) {
    const HWND other = entry.second->m_hWnd;
    if (!other || other == hwnd) continue;
    PostActiveWindow(other);
    break;
  }
  // A destroyed window's handle may come back for a new window: its debounce starts afresh.
  g_lastFocusEvent.erase(hwnd);
  RemoveNotifyIconsOf(hwnd);
  return DefWindowProcA(hwnd, WM_DESTROY, wParam, lParam);
}

LRESULT OnSystemMenuRequest(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  LogDebug("Received system menu message, now send it to server\n");
  UINT32 remoteWnd = 0;
  if (!FindWindowDataByLocalWindow(hwnd, &remoteWnd)) return DefWindowProcA(hwnd, WM_SYSMENU_REQUEST, wParam, lParam);
  LogDebug("Find matched window, forward 0x0313 message to server\n");
  SendAgentMessage("WNDMSG", "0x%08lx,%u,%u,%u", Id(remoteWnd), WM_SYSMENU_REQUEST, static_cast<unsigned>(wParam),
                   static_cast<unsigned>(lParam));
  SetForegroundWindow(GetHostFrameWindow());
  return 1;
}

bool IsCommitted(const MEMORY_BASIC_INFORMATION &info, DWORD access) {
  return info.State == MEM_COMMIT && !(info.Protect & PAGE_GUARD) && (info.Protect & access);
}

// How many bytes of the program text at `text` a request uses: those before its first zero, at
// most kMaxProgramText. The sender of a window message chooses its lParam, so the address is
// checked before anything is read or written through it: the first byte must be writable (it is
// zeroed when the request is taken) and every byte up to the first zero or the last one used must
// lie in committed, readable memory. Returns -1 when the text cannot be taken; nothing past the
// bytes counted is ever read.
ptrdiff_t ProgramTextLength(const char *text) {
  if (!text) return -1;
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const char *at = text;
  for (size_t checked = 0; checked < kMaxProgramText;) {
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(at, &info, sizeof info) != sizeof info) return -1;
    if (!IsCommitted(info, checked == 0 ? kWritable : kReadable)) return -1;
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    const size_t inRegion = static_cast<size_t>(regionEnd - reinterpret_cast<uintptr_t>(at));
    const size_t span = inRegion < kMaxProgramText - checked ? inRegion : kMaxProgramText - checked;
    if (const void *zero = memchr(at, 0, span)) return static_cast<const char *>(zero) - text;
    checked += span;
    at += span;
  }
  return static_cast<ptrdiff_t>(kMaxProgramText);
}

LRESULT OnStartProgramRequest(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  // The request carries an address in this process: only a window of this process may make it,
  // since any program on the desktop can send a window message.
  DWORD processId = 0;
  if (!GetWindowThreadProcessId(reinterpret_cast<HWND>(wParam), &processId) || processId != GetCurrentProcessId())
    return DefWindowProcA(hwnd, WM_USER_START_PROG_REQ, wParam, lParam);
  char *program = reinterpret_cast<char *>(lParam);
  // The sender also chooses lParam, and any window of this process can be named in wParam.
  const ptrdiff_t length = ProgramTextLength(program);
  if (length < 0) {
    LogDebug("WM_USER_START_PROG_REQ without a writable program text: dropped\n");
    return 0;
  }
  LogDebug("Received WM_USER_START_PROG_REQ\n");
  PostMessageA(reinterpret_cast<HWND>(wParam), WM_USER_START_PROG_ACK, 0, 0);
  SendAgentMessage("StartProg", "%.*s", static_cast<int>(length), program);
  program[0] = 0;  // the requester sees the request taken
  SetForegroundWindow(GetHostFrameWindow());
  return 1;
}

// WM_CLOSE: the taskbar's "Close window", a thumbnail's close button, a task manager's "End task"
// and the system menu's Close all arrive so. A mirrored window is closed by its application in the
// remote session, which may ask the user first: the request goes to the agent, the host frame
// comes forward, and the local window stays until the agent reports the window gone. No window of
// this class is ever closed by the default handling.
LRESULT OnCloseRequest(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  UINT32 remoteWnd = 0;
  const CWindowData *record = FindWindowDataByLocalWindow(hwnd, &remoteWnd);
  if (!record || remoteWnd == 0 || !record->m_mirrorsRemoteWindow) return 0;
  LogDebug("Received WM_CLOSE, forward it to server\n");
  SendAgentMessage("WNDMSG", "0x%08lx,%u,%u,%u", Id(remoteWnd), static_cast<unsigned>(WM_CLOSE),
                   static_cast<unsigned>(wParam), static_cast<unsigned>(lParam));
  SetForegroundWindow(GetHostFrameWindow());
  return 0;
}

LRESULT OnTrayMessage(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  LogDebug("Received WM_TRAYMESSAGE, now send it to server, message received from local window:%.8" PRIXPTR "\n",
           reinterpret_cast<uintptr_t>(hwnd));
  UINT32 remoteWnd = 0;
  CWindowData *record = FindWindowDataByLocalWindow(hwnd, &remoteWnd);
  if (!record) return DefWindowProcA(hwnd, WM_TRAYMESSAGE, wParam, lParam);
  LogDebug("Find matched window\n");
  if (record->m_uTrayCallbackMsg == 0) return 1;
  LogDebug("Send TRAY MESSAGE to server!\n");
  POINT cursor = {};
  GetCursorPos(&cursor);
  SendAgentMessage("SETCURSORPOS", "0x%08lx,%u,%u", Id(remoteWnd), static_cast<unsigned>(cursor.x),
                   static_cast<unsigned>(cursor.y));
  SendAgentMessage("WNDMSG", "0x%08lx,%u,%u,%u", Id(remoteWnd), static_cast<unsigned>(record->m_uTrayCallbackMsg),
                   static_cast<unsigned>(wParam), static_cast<unsigned>(lParam));
  return 1;
}

}  // namespace

LRESULT CALLBACK LocalWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    ForgetDestroyedLocalWindows();
    switch (message) {
      case WM_DESTROY:
        return OnLocalWindowDestroyed(hwnd, wParam, lParam);
      case WM_NCDESTROY:
        // The window is going, whoever destroyed it: no record may keep its handle.
        NoteLocalWindowDestroyed(hwnd);
        return DefWindowProcA(hwnd, message, wParam, lParam);
      case WM_CLOSE:
        return OnCloseRequest(hwnd, wParam, lParam);
      case WM_ACTIVATE:
      case WM_SETFOCUS:
        return OnFocus(hwnd);
      case WM_IME_CHAR:
        // The character goes to whatever has the keyboard in the session: no window is named.
        SendAgentMessage("IME", "0x%08lx,%u", 0ul, static_cast<unsigned>(wParam & 0xFFFF));
        return 1;
      case WM_SYSMENU_REQUEST:
        return OnSystemMenuRequest(hwnd, wParam, lParam);
      case WM_USER_START_PROG_REQ:
        return OnStartProgramRequest(hwnd, wParam, lParam);
      case WM_TRAYMESSAGE:
        return OnTrayMessage(hwnd, wParam, lParam);
      default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
  } catch (const std::bad_alloc &) {
    LogDebug("Memory cannot be obtained for window message 0x%04X: dropped\n", message);
    return 0;
  }
}
