#include "agent.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>

#include "desktop_picture.h"
#include "window_scan.h"

namespace agent {

namespace {

const wchar_t kWindowClass[] = L"QuorvAgent";
// Private messages of the agent's window.
const UINT WM_APP_INBOUND = WM_APP + 1;     // lines from the add-in are waiting
const UINT WM_APP_CLOSED = WM_APP + 2;      // the way to the add-in closed
const UINT WM_APP_TRAY_CLICK = WM_APP + 3;  // the callback message of the agent's notification icon
const UINT_PTR kPeriodicTimer = 1, kSoonTimer = 2, kStatsTimer = 3, kReopenTimer = 4;
// Events are many when a window moves: one scan this long after the first of a burst.
const UINT kSoonMs = 30;
const UINT kReopenMs = 2000;
// Icons are read again, even with unchanged handles, every this many periodic scans: a program
// may redraw an icon in place.
const unsigned kIconRecheckScans = 10;
// The add-in's messages are at most 1399 characters and a line end: a longer line is not one.
const size_t kMaxLine = 4096;
// Lines waiting for the window thread; more are dropped (and counted) while it is busy.
const size_t kMaxQueued = 256;

Agent *g_agent = nullptr;  // the one agent of the process, for the window and hook callbacks
// For the console handler, which runs on a thread of its own: the agent's window while it runs,
// and an event set once the agent has stopped (its farewell sent, the connection closed).
std::atomic<HWND> g_agentWindow{nullptr};
HANDLE g_stopped = nullptr;
// After a console close event the system ends the process 5 s after the event unless the handler
// has returned before; the farewell gets most of that.
const DWORD kFarewellWaitMs = 4000;

uint64_t Now() { return GetTickCount64(); }

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (const HWND window = g_agentWindow.load()) PostMessageW(window, WM_CLOSE, 0, 0);
  // Ctrl+C and Ctrl+Break leave the process running, and the agent stops in its own time. After
  // a close, logoff or shutdown event the system ends the process as soon as this returns: the
  // agent's thread must have said its farewell (the DESTROY of every window reported) by then.
  if ((event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) && g_stopped)
    WaitForSingleObject(g_stopped, kFarewellWaitMs);
  return TRUE;
}

}  // namespace

Agent::Agent(std::unique_ptr<Transport> transport, const AgentOptions &options)
    : transport_(std::move(transport)),
      options_(options),
      outbox_([this](const std::string &m) { return Deliver(m); }),
      tracker_(outbox_, icons_) {}

Agent::~Agent() {
  Stop();
  g_agent = nullptr;
}

bool Agent::Deliver(const std::string &message) {
  if (!connected_) return false;
  if (options_.verbose) Log("sent %s", Printable(message, 200).c_str());
  return transport_->Send(message);
}

void Agent::RequestStop() {
  if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
}

int Agent::Run() {
  g_agent = this;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  RegisterClassW(&wc);
  // A top-level window that is never shown: it owns the notification icon and the menu, and a
  // WM_CLOSE to it (taskkill, the session ending) stops the agent.
  window_ =
      CreateWindowExW(0, kWindowClass, L"quorv agent", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window_) {
    Log("cannot create the agent's window (error %lu)", GetLastError());
    return 1;
  }
  // Made once for the process and never closed: the console handler may still wait on it while
  // the process ends.
  if (!g_stopped) g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_agentWindow = window_;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  // Changes of other programs' windows as they happen (Wine 8 reports only some of these, such as
  // creation and focus: the periodic comparison finds the rest). The agent's own windows (its
  // menu) are looked at when the agent opens it.
  const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
  for (auto range : {std::make_pair(EVENT_OBJECT_CREATE, EVENT_OBJECT_NAMECHANGE),
                     std::make_pair(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_MINIMIZEEND)}) {
    if (HWINEVENTHOOK hook = SetWinEventHook(range.first, range.second, nullptr, OnWinEvent, 0, 0, flags))
      hooks_.push_back(hook);
  }
  if (hooks_.size() < 2) Log("window events are not available: changes are found by the periodic comparison only");
  SetTimer(window_, kPeriodicTimer, options_.intervalMs, nullptr);
  if (options_.statsSeconds) SetTimer(window_, kStatsTimer, options_.statsSeconds * 1000, nullptr);

  if (!Connect()) {
    if (!transport_->Reopens()) {
      Stop();
      return 1;
    }
    SetTimer(window_, kReopenTimer, kReopenMs, nullptr);
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  Stop();
  return 0;
}

bool Agent::Connect() {
  std::string error;
  if (!transport_->Open(&error)) {
    // Tried again every few seconds, perhaps for days: the same reason is logged once.
    if (error != lastOpenError_) Log("%s", error.c_str());
    lastOpenError_ = error;
    return false;
  }
  lastOpenError_.clear();
  Log("connected to %s", transport_->Describe().c_str());
  connected_ = true;
  tracker_.Reset();
  picture_.clear();
  outbox_.Send("HELLO", "2");
  Scan(false);
  if (options_.tray) {
    tray_ = std::make_unique<AgentTray>(outbox_, WindowId(window_), WM_APP_TRAY_CLICK);
    tray_->Add(u"quorv agent");
  }
  if (options_.statsSeconds) LogResources();
  readerStop_ = false;
  reader_ = std::thread([this] { ReaderLoop(); });
  return true;
}

void Agent::Disconnected() {
  if (!connected_) return;
  connected_ = false;
  readerStop_ = true;
  transport_->Close();
  if (reader_.joinable()) reader_.join();
  if (transport_->Reopens()) {
    Log("the connection to %s closed; opening it again every %u s", transport_->Describe().c_str(), kReopenMs / 1000);
    SetTimer(window_, kReopenTimer, kReopenMs, nullptr);
  } else {
    Log("the connection to %s closed", transport_->Describe().c_str());
    PostQuitMessage(0);
  }
}

void Agent::Stop() {
  if (stopping_) return;
  stopping_ = true;
  if (connected_) {
    // The client keeps no buttons of windows nobody reports any more.
    if (tray_) {
      tray_->Remove();
      outbox_.Send("DESTROY", wire::HexId(tray_->ownerId()) + ",0");
    }
    tracker_.Farewell();
    connected_ = false;
  }
  inputLog_.Flush();
  if (options_.statsSeconds) LogResources();
  readerStop_ = true;
  transport_->Close();
  if (reader_.joinable()) reader_.join();
  for (HWINEVENTHOOK hook : hooks_) UnhookWinEvent(hook);
  hooks_.clear();
  g_agentWindow = nullptr;
  if (window_) DestroyWindow(window_);
  window_ = nullptr;
  if (g_stopped) SetEvent(g_stopped);
}

void Agent::Scan(bool recheckIcons) {
  scanPending_ = false;
  if (!connected_) return;
  // Over TCP the host may have been started on the agent's own desktop: its windows are never
  // reported (they would be mirrored again and again), and the agent says so once.
  std::vector<DWORD> host;
  const bool tcp = transport_->CarriesHostDirectives();
  const std::vector<WindowSnapshot> scan =
      ScanWindows([this](uint32_t id) { return tracker_.Reported(id); }, tcp ? &host : nullptr);
  if (!host.empty() && !hostSeen_)
    Log("the host (process %lu) is on the agent's own desktop: its windows and the add-in's are not reported;"
        " give the agent and its programs a desktop of their own (docs/agent.md)",
        static_cast<unsigned long>(host.front()));
  hostSeen_ = !host.empty();
  tracker_.Update(scan, recheckIcons);
  if (tracker_.hidePending()) ScanSoon();
  if (options_.paintDesktop && transport_->CarriesHostDirectives()) PaintDesktop(scan);
}

void Agent::ScanSoon() {
  if (scanPending_ || !window_) return;
  scanPending_ = true;
  SetTimer(window_, kSoonTimer, kSoonMs, nullptr);
}

void Agent::PaintDesktop(const std::vector<WindowSnapshot> &scan) {
  // The stand-in host has no picture of the session: tell it where the windows of the shape are
  // (the reported ones with their titles, and the others, menus and pop-ups, too: the frame shows
  // them), bottom to top, so that the shapes it cuts show something. Only what changed.
  static const char *const kColors[] = {"#3B6EA5", "#8E5B3A", "#4E7D4A", "#7A4E8C", "#A5473B", "#3A7F86"};
  std::map<uint32_t, std::string> now;
  std::vector<std::string> order;
  for (auto it = scan.rbegin(); it != scan.rend(); ++it) {
    const WindowSnapshot &s = *it;
    if (!s.visible || s.shape.empty()) continue;
    wire::Rect box = s.shape.front();
    for (const wire::Rect &r : s.shape) {
      box.left = std::min(box.left, r.left), box.top = std::min(box.top, r.top);
      box.right = std::max(box.right, r.right), box.bottom = std::max(box.bottom, r.bottom);
    }
    const std::string line = DesktopDirective(s.id, box, s.title, kColors[s.id % 6]);
    now[s.id] = line;
    order.push_back(line);
  }
  if (now == picture_) return;
  for (const auto &entry : picture_)
    if (!now.count(entry.first)) outbox_.SendHostDirective("desktop " + wire::HexId(entry.first) + " remove");
  for (const std::string &line : order) outbox_.SendHostDirective(line);
  picture_ = std::move(now);
}

void CALLBACK Agent::OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (!g_agent) return;
  // System events (foreground, menus, moving, minimizing) are few: each one is worth a look.
  if (event < EVENT_OBJECT_CREATE) {
    g_agent->ScanSoon();
    return;
  }
  if (!hwnd || object != OBJID_WINDOW || child != CHILDID_SELF) return;
  // Object events of top-level windows only; a window that is gone has no parent any more, so a
  // destruction counts when the window was reported.
  const bool topLevel = GetAncestor(hwnd, GA_PARENT) == GetDesktopWindow();
  if (topLevel || (event == EVENT_OBJECT_DESTROY && g_agent->tracker_.Reported(WindowId(hwnd)))) g_agent->ScanSoon();
}

void Agent::ReaderLoop() {
  std::vector<char> buffer(16384);
  LineSplitter splitter(kMaxLine);
  std::vector<std::string> lines;
  while (!readerStop_) {
    const int n = transport_->Receive(buffer.data(), buffer.size(), 250);
    if (n < 0) break;
    if (n == 0) continue;
    lines.clear();
    splitter.Add(std::string_view(buffer.data(), static_cast<size_t>(n)), &lines);
    {
      std::lock_guard<std::mutex> guard(inboundLock_);
      inboundTooLong_ += splitter.TakeDropped();
      for (std::string &line : lines) {
        if (inbound_.size() < kMaxQueued)
          inbound_.push_back(std::move(line));
        else
          ++inboundOverflow_;
      }
    }
    if (!inboundPosted_.exchange(true)) PostMessageW(window_, WM_APP_INBOUND, 0, 0);
  }
  if (!readerStop_) PostMessageW(window_, WM_APP_CLOSED, 0, 0);
}

void Agent::TakeInbound() {
  // The agent's menu runs a message loop of its own, in which more lines can arrive: they wait
  // for the lines before them, so that everything is carried out in the order it came.
  if (takingInbound_) return;
  takingInbound_ = true;
  inboundPosted_ = false;
  std::deque<std::string> lines;
  uint64_t overflow = 0, tooLong = 0;
  {
    std::lock_guard<std::mutex> guard(inboundLock_);
    lines.swap(inbound_);
    std::swap(overflow, inboundOverflow_);
    std::swap(tooLong, inboundTooLong_);
  }
  if (tooLong && LogInput())
    Log("ignored %llu lines from the add-in longer than %u bytes", static_cast<unsigned long long>(tooLong),
        static_cast<unsigned>(kMaxLine));
  if (overflow && LogInput())
    Log("ignored %llu lines from the add-in that came faster than the agent could take them",
        static_cast<unsigned long long>(overflow));
  for (const std::string &line : lines) {
    if (stopping_ || !connected_) break;
    Carry(line);
  }
  takingInbound_ = false;
  // Lines that came meanwhile get their turn after the window's other messages (the comparisons).
  bool more;
  {
    std::lock_guard<std::mutex> guard(inboundLock_);
    more = !inbound_.empty() || inboundOverflow_ || inboundTooLong_;
  }
  if (more && !inboundPosted_.exchange(true)) PostMessageW(window_, WM_APP_INBOUND, 0, 0);
}

bool Agent::LogInput() { return inputLog_.Allow(Now()); }

namespace {

// Committed private memory: the process's own figure, or (where it is not kept, as under Wine)
// the committed private regions of the address space added up.
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory), sizeof memory) &&
      memory.PrivateUsage)
    return memory.PrivateUsage;
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char *at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char *next = static_cast<const char *>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

SIZE_T WorkingSet() {
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  return GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory) ? memory.WorkingSetSize : 0;
}

// The process's handle count, or (where GetProcessHandleCount gives none, as under Wine) the count
// the system's process list holds for it.
unsigned long HandleCount() {
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles) return handles;
  using QueryCall = LONG(WINAPI *)(int, void *, ULONG, ULONG *);
  static QueryCall query = reinterpret_cast<QueryCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  const int kProcessList = 5;  // SystemProcessInformation
  std::vector<unsigned char> buffer(256 * 1024);
  ULONG needed = 0;
  for (int tries = 0; tries < 4; ++tries) {
    const LONG status = query(kProcessList, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) break;
    if (needed <= buffer.size() || needed > (64u << 20)) return 0;
    buffer.resize(needed + 16 * 1024);
  }
  const uintptr_t self = GetCurrentProcessId();
  for (size_t at = 0; at + sizeof(SYSTEM_PROCESS_INFORMATION) <= buffer.size();) {
    const auto *entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(buffer.data() + at);
    if (reinterpret_cast<uintptr_t>(entry->UniqueProcessId) == self) return entry->HandleCount;
    if (!entry->NextEntryOffset) break;
    at += entry->NextEntryOffset;
  }
  return 0;
}

BOOL CALLBACK CountOwnWindow(HWND hwnd, LPARAM count) {
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process == GetCurrentProcessId()) ++*reinterpret_cast<unsigned long *>(count);
  return TRUE;
}

unsigned long OwnWindows() {
  unsigned long count = 0;
  EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

}  // namespace

void Agent::LogResources() {
  Log("resources: private %lu KiB, working set %lu KiB, handles %lu, GDI objects %lu, USER objects %lu, "
      "own top-level windows %lu; windows reported %u, messages sent %llu",
      static_cast<unsigned long>(PrivateBytes() / 1024), static_cast<unsigned long>(WorkingSet() / 1024), HandleCount(),
      GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
      OwnWindows(), static_cast<unsigned>(tracker_.reportedCount()), static_cast<unsigned long long>(outbox_.sent()));
}

LRESULT CALLBACK Agent::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_agent && g_agent->window_ == hwnd) return g_agent->Handle(message, wParam, lParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT Agent::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      switch (wParam) {
        case kPeriodicTimer: {
          const bool recheck = ++scansSinceIconCheck_ >= kIconRecheckScans;
          if (recheck) scansSinceIconCheck_ = 0;
          Scan(recheck);
          break;
        }
        case kSoonTimer:
          KillTimer(window_, kSoonTimer);
          Scan(false);
          break;
        case kStatsTimer:
          LogResources();
          break;
        case kReopenTimer:
          if (Connect()) KillTimer(window_, kReopenTimer);
          break;
      }
      return 0;
    case WM_APP_INBOUND:
      TakeInbound();
      return 0;
    case WM_APP_CLOSED:
      Disconnected();
      return 0;
    case WM_CLOSE:
      Log("stopping");
      if (menuOpen_) EndMenu();  // the menu's own loop would not see the quit
      PostQuitMessage(0);
      return 0;
    case WM_ENDSESSION:
      // The session is ending (logoff, shutdown): the process may be ended as soon as this
      // returns, so the farewell goes now rather than after the message loop.
      if (wParam) {
        Log("the session is ending; stopping");
        if (menuOpen_) EndMenu();
        Stop();
        PostQuitMessage(0);
      }
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

}  // namespace agent
