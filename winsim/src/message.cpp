// winsim user32: sent and posted messages, the per-thread queues, the ANSI/Unicode conversion of
// text messages between a caller and a procedure of the other character set, and the default
// window procedure.
//
// Simplification: a message sent to a window of another thread runs on the calling thread.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>

#include "user_internal.h"

namespace winsim::detail {
namespace {

// Windows refuses posts beyond this many messages in one queue.
constexpr size_t kMaxPostedMessages = 10000;

struct Queue {
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
  std::condition_variable_any wake;
};

std::map<DWORD, std::unique_ptr<Queue>> &Queues() {
  static auto *queues = new std::map<DWORD, std::unique_ptr<Queue>>;
  return *queues;
}

Queue &QueueLocked(DWORD threadId) {
  auto &slot = Queues()[threadId];
  if (!slot) slot = std::make_unique<Queue>();
  return *slot;
}

bool PostToThreadLocked(DWORD threadId, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Queue &queue = QueueLocked(threadId);
  if (queue.posted.size() >= kMaxPostedMessages) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  MSG msg = {};
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = GetTickCount();
  GetCursorPos(&msg.pt);
  queue.posted.push_back(msg);
  queue.wake.notify_all();
  return true;
}

BOOL PostCommon(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  BOOL result = TRUE;
  {
    Guard guard(Lock());
    if (!hwnd) {
      result = PostToThreadLocked(CurrentThread(), nullptr, message, wParam, lParam);
    } else if (hwnd == HWND_BROADCAST) {
      for (HWND top : TopLevelLocked()) {
        Window *window = FindWindowLocked(top);
        if (!window->foreign) PostToThreadLocked(window->threadId, top, message, wParam, lParam);
      }
    } else {
      Window *window = FindWindowOrFailLocked(hwnd);
      if (!window) {
        result = FALSE;
      } else if (!window->foreign) {  // another process's queue is not ours to fill
        result = PostToThreadLocked(window->threadId, hwnd, message, wParam, lParam);
      }
    }
  }
  UserCallRecord record{UserCall::PostMessage};
  record.hwnd = hwnd;
  record.flags = message;
  record.value = static_cast<LONG_PTR>(wParam);
  record.result = result;
  LogCall(record);
  return result;
}

bool InRange(UINT message, UINT low, UINT high) {
  if (low == 0 && high == 0) return true;
  return message >= low && message <= high;
}

bool MatchesWindow(HWND messageWindow, HWND filter) {
  if (!filter) return true;
  if (filter == reinterpret_cast<HWND>(-1)) return messageWindow == nullptr;
  return messageWindow == filter || (messageWindow && IsChild(filter, messageWindow));
}

// Posted messages first, then WM_QUIT, then WM_PAINT for a window that needs painting.
bool PeekLocked(MSG *msg, HWND filter, UINT low, UINT high, UINT flags) {
  Queue &queue = QueueLocked(CurrentThread());
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (!InRange(it->message, low, high) || !MatchesWindow(it->hwnd, filter)) continue;
    *msg = *it;
    if (flags & PM_REMOVE) queue.posted.erase(it);
    return true;
  }
  if (queue.quit && InRange(WM_QUIT, low, high)) {
    *msg = {};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(queue.quitCode);
    msg->time = GetTickCount();
    if (flags & PM_REMOVE) queue.quit = false;
    return true;
  }
  if (InRange(WM_PAINT, low, high)) {
    // In handle order, as a walk of every window would find them; handles are never reused.
    std::set<HWND> &candidates = PaintCandidatesLocked();
    for (auto it = candidates.begin(); it != candidates.end();) {
      const HWND hwnd = *it;
      Window *window = FindWindowLocked(hwnd);
      if (!window || !window->needsPaint) {
        it = candidates.erase(it);
        continue;
      }
      if (window->threadId != CurrentThread() || !MatchesWindow(hwnd, filter)) {
        ++it;
        continue;
      }
      if (!IsVisibleLocked(hwnd)) {
        window->needsPaint = false;
        it = candidates.erase(it);
        continue;
      }
      *msg = {};
      msg->hwnd = hwnd;
      msg->message = WM_PAINT;
      msg->time = GetTickCount();
      return true;
    }
  }
  return false;
}

BOOL PeekCommon(LPMSG msg, HWND hwnd, UINT low, UINT high, UINT flags) {
  if (!msg) return FALSE;
  Guard guard(Lock());
  return PeekLocked(msg, hwnd, low, high, flags) ? TRUE : FALSE;
}

BOOL GetCommon(LPMSG msg, HWND hwnd, UINT low, UINT high) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::unique_lock<std::recursive_mutex> lock(Lock());
  if (hwnd && hwnd != reinterpret_cast<HWND>(-1) && !FindWindowOrFailLocked(hwnd)) return -1;
  Queue &queue = QueueLocked(CurrentThread());
  while (!PeekLocked(msg, hwnd, low, high, PM_REMOVE)) queue.wake.wait(lock);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

LRESULT DispatchCommon(const MSG *msg, bool ansi) {
  if (!msg || !msg->hwnd) return 0;
  LRESULT result = SendMessageInternal(msg->hwnd, msg->message, msg->wParam, msg->lParam, ansi);
  if (msg->message == WM_PAINT) {
    // As on Windows: a procedure that does not validate is not asked again at once.
    Guard guard(Lock());
    if (Window *window = FindWindowLocked(msg->hwnd)) window->needsPaint = false;
  }
  return result;
}

// One character of WM_CHAR / WM_IME_CHAR in the other character set.
WPARAM CharToAnsi(UINT message, WPARAM wParam) {
  char16_t c = static_cast<char16_t>(wParam & 0xFFFF);
  std::string ansi = ToAnsi(std::u16string_view(&c, 1));
  if (ansi.empty()) return wParam;
  if (ansi.size() >= 2 && message == WM_IME_CHAR) return (static_cast<BYTE>(ansi[0]) << 8) | static_cast<BYTE>(ansi[1]);
  return static_cast<BYTE>(ansi[0]);
}

WPARAM CharToWide(UINT message, WPARAM wParam) {
  char bytes[2];
  size_t count = 0;
  if (message == WM_IME_CHAR && ((wParam >> 8) & 0xFF)) bytes[count++] = static_cast<char>((wParam >> 8) & 0xFF);
  bytes[count++] = static_cast<char>(wParam & 0xFF);
  std::u16string wide = FromAnsi(std::string_view(bytes, count));
  return wide.empty() ? wParam : wide[0];
}

bool IsCharMessage(UINT message) { return message == WM_CHAR || message == WM_SYSCHAR || message == WM_IME_CHAR; }

bool IsTextPointer(const void *text) { return text && reinterpret_cast<uintptr_t>(text) >= 0x10000; }

LRESULT CallWideFromAnsi(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT: {
      if (!lParam) return proc(hwnd, message, wParam, 0);
      std::u16string wide = FromAnsi(reinterpret_cast<LPCSTR>(lParam));
      return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    case WM_NCCREATE:
    case WM_CREATE: {
      const auto *a = reinterpret_cast<const CREATESTRUCTA *>(lParam);
      CREATESTRUCTW w;
      std::memcpy(&w, a, sizeof w);
      std::u16string name, cls;
      if (IsTextPointer(a->lpszName)) {
        name = FromAnsi(a->lpszName);
        w.lpszName = name.c_str();
      }
      if (IsTextPointer(a->lpszClass)) {
        cls = FromAnsi(a->lpszClass);
        w.lpszClass = cls.c_str();
      }
      return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(&w));
    }
    case WM_GETTEXT: {
      std::u16string buffer(wParam + 1, u'\0');
      LRESULT result = proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(buffer.data()));
      if (!wParam) return 0;
      const std::string ansi = result ? ToAnsi(std::u16string_view(buffer.c_str())) : std::string();
      return static_cast<LRESULT>(CopyTextOut(ansi, reinterpret_cast<char *>(lParam), wParam));
    }
    default:
      if (IsCharMessage(message)) return proc(hwnd, message, CharToWide(message, wParam), lParam);
      return proc(hwnd, message, wParam, lParam);
  }
}

LRESULT CallAnsiFromWide(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT: {
      if (!lParam) return proc(hwnd, message, wParam, 0);
      std::string ansi = ToAnsi(reinterpret_cast<LPCWSTR>(lParam));
      return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(ansi.c_str()));
    }
    case WM_NCCREATE:
    case WM_CREATE: {
      const auto *w = reinterpret_cast<const CREATESTRUCTW *>(lParam);
      CREATESTRUCTA a;
      std::memcpy(&a, w, sizeof a);
      std::string name, cls;
      if (IsTextPointer(w->lpszName)) {
        name = ToAnsi(w->lpszName);
        a.lpszName = name.c_str();
      }
      if (IsTextPointer(w->lpszClass)) {
        cls = ToAnsi(w->lpszClass);
        a.lpszClass = cls.c_str();
      }
      return proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(&a));
    }
    case WM_GETTEXT: {
      // The ANSI procedure gets the same count; its text is widened into the caller's buffer.
      std::string buffer(std::max<WPARAM>(wParam, 1) * 2 + 1, '\0');
      LRESULT result = proc(hwnd, message, wParam, reinterpret_cast<LPARAM>(buffer.data()));
      if (!wParam) return 0;
      const std::u16string wide = result ? FromAnsi(buffer.c_str()) : std::u16string();
      return static_cast<LRESULT>(CopyTextOut(wide, reinterpret_cast<WCHAR *>(lParam), wParam));
    }
    default:
      if (IsCharMessage(message)) return proc(hwnd, message, CharToAnsi(message, wParam), lParam);
      return proc(hwnd, message, wParam, lParam);
  }
}

void StoreText(HWND hwnd, std::u16string text) {
  Guard guard(Lock());
  if (Window *window = FindWindowLocked(hwnd)) window->text = std::move(text);
}

LRESULT DefWindowProcCommon(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool ansi) {
  switch (message) {
    case WM_NCCREATE: {
      const auto *cs = reinterpret_cast<const CREATESTRUCTA *>(lParam);
      if (cs && IsTextPointer(cs->lpszName)) {
        if (ansi)
          StoreText(hwnd, FromAnsi(cs->lpszName));
        else
          StoreText(hwnd, reinterpret_cast<const CREATESTRUCTW *>(lParam)->lpszName);
      }
      return TRUE;
    }
    case WM_SETTEXT:
      if (!lParam)
        StoreText(hwnd, {});
      else if (ansi)
        StoreText(hwnd, FromAnsi(reinterpret_cast<LPCSTR>(lParam)));
      else
        StoreText(hwnd, reinterpret_cast<LPCWSTR>(lParam));
      return TRUE;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
      std::u16string text;
      {
        Guard guard(Lock());
        Window *window = FindWindowLocked(hwnd);
        if (!window) return 0;
        text = window->text;
      }
      if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(ansi ? ToAnsi(text).size() : text.size());
      if (!wParam || !lParam) return 0;
      return static_cast<LRESULT>(ansi ? CopyTextOut(ToAnsi(text), reinterpret_cast<char *>(lParam), wParam)
                                       : CopyTextOut(text, reinterpret_cast<WCHAR *>(lParam), wParam));
    }
    case WM_SETICON:
    case WM_GETICON: {
      Guard guard(Lock());
      Window *window = FindWindowLocked(hwnd);
      if (!window) return 0;
      HICON *slot = wParam == ICON_BIG ? &window->bigIcon : &window->smallIcon;
      if (message == WM_GETICON) return (wParam <= ICON_SMALL2) ? reinterpret_cast<LRESULT>(*slot) : 0;
      if (wParam != ICON_BIG && wParam != ICON_SMALL) return 0;
      HICON previous = *slot;
      *slot = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SYSCOMMAND:
      // The close command of the system menu, the taskbar and the task switcher.
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageInternal(hwnd, WM_CLOSE, 0, 0, ansi);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !IsIconic(hwnd)) SetFocusInternal(hwnd);
      return 0;
    case WM_NCACTIVATE:
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (BeginPaint(hwnd, &paint)) EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_IME_CHAR:
      if (ansi) {
        if ((wParam >> 8) & 0xFF) PostMessageA(hwnd, WM_CHAR, (wParam >> 8) & 0xFF, lParam);
        PostMessageA(hwnd, WM_CHAR, wParam & 0xFF, lParam);
      } else {
        PostMessageW(hwnd, WM_CHAR, wParam, lParam);
      }
      return 0;
    default:
      return 0;
  }
}

LRESULT CallProcedure(WNDPROC proc, bool procAnsi, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                      bool callerAnsi) {
  if (!proc) return 0;
  if (procAnsi == callerAnsi) return proc(hwnd, message, wParam, lParam);
  return procAnsi ? CallAnsiFromWide(proc, hwnd, message, wParam, lParam)
                  : CallWideFromAnsi(proc, hwnd, message, wParam, lParam);
}

}  // namespace

DWORD CurrentThread() { return GetCurrentThreadId(); }

void DropPostedMessagesLocked(HWND hwnd) {
  for (auto &entry : Queues()) {
    auto &posted = entry.second->posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(), [hwnd](const MSG &m) { return m.hwnd == hwnd; }),
                 posted.end());
  }
}

void WakeThreadLocked(DWORD threadId) {
  auto it = Queues().find(threadId);
  if (it != Queues().end()) it->second->wake.notify_all();
}

LRESULT SendMessageInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool callerAnsi) {
  WNDPROC proc;
  bool procAnsi;
  {
    Guard guard(Lock());
    Window *window = FindWindowOrFailLocked(hwnd);
    if (!window) return 0;
    QueueLocked(CurrentThread());  // a thread that handles messages has a queue
    proc = window->proc;
    procAnsi = window->ansi;
  }
  return CallProcedure(proc, procAnsi, hwnd, message, wParam, lParam, callerAnsi);
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcCommon(hwnd, message, wParam, lParam, true);
}

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcCommon(hwnd, message, wParam, lParam, false);
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageInternal(hwnd, message, wParam, lParam, true);
}

LRESULT WINAPI SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageInternal(hwnd, message, wParam, lParam, false);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostCommon(hwnd, message, wParam, lParam);
}

BOOL WINAPI PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostCommon(hwnd, message, wParam, lParam);
}

// A thread has a queue once it has used a window or message function.
BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  Guard guard(Lock());
  if (!Queues().count(threadId)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return PostToThreadLocked(threadId, nullptr, message, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  return PeekCommon(msg, hwnd, filterMin, filterMax, removeFlags);
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  return PeekCommon(msg, hwnd, filterMin, filterMax, removeFlags);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  return GetCommon(msg, hwnd, filterMin, filterMax);
}

BOOL WINAPI GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  return GetCommon(msg, hwnd, filterMin, filterMax);
}

// Key messages make character messages for the keys that type one character by themselves (no
// keyboard layout or shift state here).
BOOL WINAPI TranslateMessage(const MSG *msg) {
  if (!msg) return FALSE;
  if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) {
    return msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP;
  }
  WPARAM key = msg->wParam;
  WPARAM character = 0;
  if (key >= '0' && key <= '9')
    character = key;
  else if (key >= 'A' && key <= 'Z')
    character = key - 'A' + 'a';
  else if (key == VK_SPACE || key == VK_RETURN || key == VK_BACK || key == VK_TAB || key == VK_ESCAPE)
    character = key;
  if (character) PostMessageA(msg->hwnd, msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, character, msg->lParam);
  return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG *msg) { return DispatchCommon(msg, true); }
LRESULT WINAPI DispatchMessageW(const MSG *msg) { return DispatchCommon(msg, false); }

void WINAPI PostQuitMessage(int exitCode) {
  Guard guard(Lock());
  Queue &queue = QueueLocked(CurrentThread());
  queue.quit = true;
  queue.quitCode = exitCode;
  queue.wake.notify_all();
}

}  // extern "C"
