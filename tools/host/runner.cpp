#include "runner.h"

#include "client.h"
#include "common/host_interface.h"
#include "encode.h"
#include "state.h"
#include "tray_view.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

const char kLocalClass[] = "WTSHalvornDummy";

using testkit::HexId;

}  // namespace

const char *HostMessageName(UINT message) {
  switch (message) {
    case WM_USER_ACTIVE_WINDOW:
      return "WM_USER_ACTIVE_WINDOW";
    case WM_USER_START_PROG_REQ:
      return "WM_USER_START_PROG_REQ";
    case WM_USER_START_PROG_ACK:
      return "WM_USER_START_PROG_ACK";
    case WM_USER_WINDOWS_CHANGED:
      return "WM_USER_WINDOWS_CHANGED";
    case WM_USER_PLACEHOLDER_WINDOW:
      return "WM_USER_PLACEHOLDER_WINDOW";
    default:
      return nullptr;
  }
}

std::string LocalWindowName(uint32_t id) { return id == 0 ? std::string("placeholder") : "local:" + HexId(id); }

namespace {

struct Found {
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectLocal(HWND hwnd, LPARAM context) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  if (strcmp(name, kLocalClass) == 0) reinterpret_cast<Found *>(context)->windows.push_back(hwnd);
  return TRUE;
}

// Messages that show, hide, create or destroy windows can activate or deactivate local windows,
// which the add-in reports at most once per window and calendar second.
bool MayMoveFocus(const Step &step) {
  static const char *const kQuiet[] = {"TITLE,", "SETICON,", "ACK,", "HEARTBEAT", "SYNCBEGIN", "SYNCEND", "ZCHANGE,"};
  for (const std::string &m : step.messages) {
    bool quiet = false;
    for (const char *prefix : kQuiet) quiet |= m.rfind(prefix, 0) == 0;
    if (!quiet) return true;
  }
  return false;
}

}  // namespace

namespace {

// --timing: the moment of the add-in's first window call in a delivery, seen by hooks on the
// channel's thread (where the add-in makes its windows) and the frame's (where its requests to the
// frame land): the first window made, destroyed, shown or moved (WH_CBT, called before the system
// does the work) or message a window receives through a call (WH_CALLWNDPROC).
std::atomic<bool> g_watching{false};
std::atomic<long long> g_firstCall{0};

LRESULT CALLBACK NoteFirstCall(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && g_watching.load(std::memory_order_relaxed)) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    long long none = 0;
    g_firstCall.compare_exchange_strong(none, now.QuadPart);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

unsigned long long MicrosecondsSince1970() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10 - 11644473600ULL * 1000000ULL;
}

}  // namespace

Runner::Runner(Transcript &transcript, const RunOptions &options) : transcript_(transcript), options_(options) {
  if (options_.timingFile.empty()) return;
  if (!(timing_ = fopen(options_.timingFile.c_str(), "wb"))) {  // one kind of line end, as the transcript
    transcript_.Line('#', "cannot write the timing file " + options_.timingFile);
    return;
  }
  auto hook = [](HHOOK *hooks) {
    hooks[0] = SetWindowsHookExW(WH_CALLWNDPROC, NoteFirstCall, nullptr, GetCurrentThreadId());
    hooks[1] = SetWindowsHookExW(WH_CBT, NoteFirstCall, nullptr, GetCurrentThreadId());
  };
  hook(hooks_);
  HostUi::Get().RunOnUi([&] { hook(hooks_ + 2); });
}

Runner::~Runner() {
  if (!timing_) return;
  fclose(timing_);
  for (int i : {0, 1})
    if (hooks_[i]) UnhookWindowsHookEx(hooks_[i]);
  HostUi::Get().RunOnUi([this] {
    for (int i : {2, 3})
      if (hooks_[i]) UnhookWindowsHookEx(hooks_[i]);
  });
}

void Runner::OnWrite(std::string_view text, bool accepted) {
  std::string frame(text);
  if (!frame.empty() && frame.back() == '\n') frame.pop_back();
  transcript_.Line('<', accepted ? Abbreviate(frame) : Abbreviate(frame) + "   (refused: not connected)");
  if (!accepted) return;
  std::lock_guard<std::mutex> guard(lock_);
  sent_.push_back(frame);
}

std::string Runner::WindowName(HWND hwnd) const {
  if (!hwnd) return "0";
  if (hwnd == HostUi::Get().frame()) return "frame";
  for (const LocalWindow &w : locals_)
    if (w.hwnd == hwnd) return LocalWindowName(w.id) + (IsWindow(hwnd) ? "" : " (destroyed)");
  for (auto it = gone_.rbegin(); it != gone_.rend(); ++it)
    if (it->hwnd == hwnd) return LocalWindowName(it->id) + " (destroyed)";
  return "unknown-window";
}

HWND Runner::LocalWindowOf(uint32_t id) const {
  for (auto it = locals_.rbegin(); it != locals_.rend(); ++it)
    if (it->id == id && IsWindow(it->hwnd)) return it->hwnd;
  return nullptr;
}

void Runner::Settle() {
  PumpMessages();
  HostUi::Get().RunOnUi([] {});
  PumpMessages();
  for (const FrameMessage &m : HostUi::Get().TakeMessages()) {
    std::string line;
    if (const char *name = HostMessageName(m.message)) {
      line = name;
      if (m.message == WM_USER_ACTIVE_WINDOW || m.message == WM_USER_PLACEHOLDER_WINDOW)
        line += " " + WindowName(reinterpret_cast<HWND>(m.wParam));
      else if (m.wParam)
        line += " wParam=" + std::to_string(m.wParam);
    } else {
      line = "WM_USER+" + std::to_string(m.message - WM_USER) + " wParam=" + std::to_string(m.wParam);
    }
    if (m.lParam) line += " lParam=" + std::to_string(m.lParam);
    transcript_.Line('@', line);
    std::lock_guard<std::mutex> guard(lock_);
    hostMessages_.push_back(m);
  }
}

// Which remote window a new local window stands for follows from the message that made it.
void Runner::TrackWindows(const std::string &message) {
  Found found;
  EnumThreadWindows(GetCurrentThreadId(), CollectLocal, reinterpret_cast<LPARAM>(&found));
  std::vector<LocalWindow> alive;
  for (const LocalWindow &w : locals_) {
    if (IsWindow(w.hwnd))
      alive.push_back(w);
    else
      gone_.push_back(w);
  }
  locals_.swap(alive);
  if (gone_.size() > 4096) gone_.erase(gone_.begin(), gone_.begin() + 1024);  // a long listen session
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    size_t comma = message.find(',', start);
    fields.push_back(message.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos || fields.size() > 8) break;
    start = comma + 1;
  }
  uint32_t id = 0;
  if (fields[0] != "HELLO" && fields.size() > 2) id = static_cast<uint32_t>(strtoul(fields[2].c_str(), nullptr, 0));
  for (HWND hwnd : found.windows) {
    bool known = false;
    for (const LocalWindow &w : locals_) known |= w.hwnd == hwnd;
    if (!known) locals_.push_back(LocalWindow{hwnd, id});
  }
  HostUi::Get().SetLocalWindows(locals_);
}

void Runner::PaceToSecond() {
  if (!options_.secondPacing) return;
  SYSTEMTIME now;
  GetSystemTime(&now);
  WaitPumping(nullptr, 1000 - now.wMilliseconds + 20);
}

void Runner::Deliver(const Step &step, const std::string &message) {
  transcript_.Line('>', std::to_string(step.line) + ": " + Abbreviate(message));
  if (!timing_) {
    ChannelClient::Get().Deliver(message, chunkSize_);
  } else {
    // From the channel's first data event to the add-in's first window call (its own part), and
    // to the return of the last data event (with what the window calls cost). "-" when the
    // message made no window call. The host's bookkeeping comes after.
    const unsigned long long began = MicrosecondsSince1970();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    g_firstCall.store(0);
    g_watching.store(true);
    QueryPerformanceCounter(&start);
    ChannelClient::Get().Deliver(message, chunkSize_);
    QueryPerformanceCounter(&end);
    g_watching.store(false);
    const long long first = g_firstCall.load();
    const double perTick = 1e6 / static_cast<double>(frequency.QuadPart);
    char own[32] = "-";
    if (first) snprintf(own, sizeof own, "%.1f", perTick * static_cast<double>(first - start.QuadPart));
    const size_t keyword = std::min<size_t>(std::min(message.find(','), message.size()), 32);
    fprintf(timing_, "%llu %.*s %s %.1f\n", began, static_cast<int>(keyword), message.data(), own,
            perTick * static_cast<double>(end.QuadPart - start.QuadPart));
    fflush(timing_);
  }
  TrackWindows(message);
  Settle();
}

bool Runner::Fail(const Step &step, const std::string &reason) {
  failure_ = "line " + std::to_string(step.line) + ": " + reason;
  transcript_.Line('=', "FAILED " + failure_);
  return false;
}

void Runner::Shot(const Step &step) {
  transcript_.Line('~', "shot " + step.text);
  if (options_.shotsDir.empty()) return;
  HostUi &ui = HostUi::Get();
  ui.RunOnUi([&ui] { ui.RedrawAll(); });
  WaitPumping(nullptr, 400);  // let the display catch up with the drawing
  // The screenshot is taken outside the host: it asks by a request file and waits until the
  // taker has removed it.
  const std::string request = options_.shotsDir + "\\" + step.text + ".request";
  // The request holds the name and, on a second line, the caption (UTF-8) the taker puts above
  // the picture.
  if (FILE *f = fopen(request.c_str(), "wb")) {
    fprintf(f, "%s\n%s\n", step.text.c_str(), step.caption.c_str());
    fclose(f);
  }
  for (int i = 0; i < 200 && GetFileAttributesA(request.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
    WaitPumping(nullptr, 100);
  // A click's mark stays until a screenshot has shown it.
  ui.RunOnUi([&ui] { ui.HideClick(); });
}

void Runner::Action(const Step &step) {
  HostUi &ui = HostUi::Get();
  const HWND local = LocalWindowOf(step.window);
  const std::string name = LocalWindowName(step.window);
  switch (step.kind) {
    case StepKind::kFocus:
      transcript_.Line('*', "focus " + name + " " + step.word);
      ui.RunOnUi([&] {
        if (step.word == "activate")
          SendMessageW(local, WM_ACTIVATE, WA_CLICKACTIVE, 0);
        else if (step.word == "setfocus")
          SendMessageW(local, WM_SETFOCUS, 0, 0);
        else
          SetForegroundWindow(local);
      });
      break;
    case StepKind::kSysMenu:
      transcript_.Line('*', "sysmenu " + name + " at " + std::to_string(step.x) + "," + std::to_string(step.y));
      ui.RunOnUi([&] { SendMessageW(local, WM_SYSMENU_REQUEST, 0, MAKELPARAM(step.x, step.y)); });
      break;
    case StepKind::kTrayClick:
      transcript_.Line('*', "click-tray " + name + " uID " + std::to_string(step.number) + " " + step.word + " at " +
                                std::to_string(step.x) + "," + std::to_string(step.y));
      ui.RunOnUi([&] {
        SetCursorPos(step.x, step.y);
        std::wstring label = L"click-tray " + Widen(step.word) + L", uID " + std::to_wstring(step.number);
        const std::wstring tip = NotifyIconTip(local, static_cast<UINT>(step.number));
        if (!tip.empty()) label += L": \x201C" + tip + L"\x201D";
        ui.ShowClick(step.x, step.y, label);
        SendMessageW(local, WM_TRAYMESSAGE, static_cast<WPARAM>(step.number), static_cast<LPARAM>(step.rect.left));
      });
      break;
    case StepKind::kStartProgram: {
      const std::wstring wide = Widen(step.text);
      char buffer[1024] = {};
      WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, buffer, sizeof buffer - 1, nullptr, nullptr);
      transcript_.Line('*', "start-program " + name + " \"" + step.text + "\"");
      ui.RunOnUi([&] {
        SendMessageA(local, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(ui.frame()),
                     reinterpret_cast<LPARAM>(buffer));
      });
      // The add-in empties the text once it has taken the request.
      transcript_.Line('#', buffer[0] == 0 ? "the request text was taken" : "the request text was left as it was");
      break;
    }
    default:
      break;
  }
  Settle();
}

bool Runner::Run(const Step &step) {
  failure_.clear();
  // Expectations about messages look at what the latest delivery, action or client event
  // brought; pauses, pictures and screenshots do not start a new look.
  const bool acts = step.kind == StepKind::kDeliver || step.kind == StepKind::kConnect ||
                    step.kind == StepKind::kDisconnect || step.kind == StepKind::kTerminate ||
                    step.kind == StepKind::kFocus || step.kind == StepKind::kSysMenu ||
                    step.kind == StepKind::kTrayClick || step.kind == StepKind::kStartProgram;
  if (acts) {
    std::lock_guard<std::mutex> guard(lock_);
    sentChecked_ = sent_.size();
    hostChecked_ = hostMessages_.size();
  }
  switch (step.kind) {
    case StepKind::kDeliver:
      if (MayMoveFocus(step)) PaceToSecond();
      for (const std::string &message : step.messages) Deliver(step, message);
      return true;
    case StepKind::kPause:
      transcript_.Line('~', "pause " + std::to_string(step.number));
      WaitPumping(nullptr, static_cast<DWORD>(step.number));
      Settle();
      return true;
    case StepKind::kChunks:
      chunkSize_ = static_cast<size_t>(step.number);
      transcript_.Line('~', "chunks " + std::to_string(step.number));
      return true;
    case StepKind::kConnect:
      transcript_.Line('!', "connect");
      ChannelClient::Get().Connect();
      HostUi::Get().SetConnected(true);
      Settle();
      return true;
    case StepKind::kDisconnect:
      transcript_.Line('!', "disconnect");
      ChannelClient::Get().Disconnect();
      HostUi::Get().SetConnected(false);
      Settle();
      return true;
    case StepKind::kTerminate:
      transcript_.Line('!', "terminate");
      ChannelClient::Get().Terminate();
      HostUi::Get().SetConnected(false);
      Settle();
      return true;
    case StepKind::kFocus:
    case StepKind::kSysMenu:
    case StepKind::kTrayClick:
    case StepKind::kStartProgram:
      if (!LocalWindowOf(step.window))
        return Fail(step,
                    "there is no local window for " + (step.window ? HexId(step.window) : std::string("placeholder")));
      PaceToSecond();
      Action(step);
      return true;
    case StepKind::kDesktop:
      if (step.word == "remove") {
        transcript_.Line('~', "desktop " + HexId(step.window) + " remove");
        HostUi::Get().RemovePicture(step.window);
      } else {
        char rect[64];
        snprintf(rect, sizeof rect, "%ld,%ld,%ld,%ld", step.rect.left, step.rect.top, step.rect.right,
                 step.rect.bottom);
        transcript_.Line('~', "desktop " + HexId(step.window) + " " + rect + " \"" + step.text + "\"");
        HostUi::Get().SetPicture(
            PictureWindow{step.window, step.rect, Widen(step.text),
                          RGB((step.number >> 16) & 0xFF, (step.number >> 8) & 0xFF, step.number & 0xFF)});
      }
      return true;
    case StepKind::kShot:
      Settle();
      Shot(step);
      return true;
    default: {
      Settle();
      const bool held = Expect(step);
      ++(held ? held_ : failed_);
      return held;
    }
  }
}

void Runner::WriteFinalState() {
  Settle();
  for (const std::string &line : DescribeFrame(ReadFrameState(HostUi::Get().frame()))) transcript_.Line('=', line);
  for (const LocalWindow &w : locals_) {
    if (!IsWindow(w.hwnd)) continue;
    transcript_.Line('=', DescribeWindow(WindowName(w.hwnd), ReadWindowState(w.hwnd)));
  }
  transcript_.Line('=', "final windows " + std::to_string(CountLocalWindows()));
}

}  // namespace host
