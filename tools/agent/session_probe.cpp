// quorv-session-probe: a program for the remote session that makes changes the agent reports, at
// a steady pace, and writes when it made each one, so that the time from a change in the session
// to its effect on the client can be measured (scripts/bench-rdp).
//   quorv-session-probe.exe latency N INTERVAL-MS LOG   N title changes, N windows opened (and
//                                                       closed), N moves of one window
//   quorv-session-probe.exe busy MINUTES LOG            a window opened every 2 s and closed 1 s
//                                                       later: 30 programs a minute
// LOG gets a line per change: "MICROSECONDS-SINCE-1970 KIND N" (KIND: title, open, close, move).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kUsage[] =
    "usage: quorv-session-probe latency N INTERVAL-MS LOG\n"
    "       quorv-session-probe busy MINUTES LOG\n"
    "  latency: N title changes, N windows opened and closed, N moves, INTERVAL-MS apart\n"
    "  busy:    a window opened every 2 s and closed 1 s later, for MINUTES\n"
    "  LOG gets \"MICROSECONDS-SINCE-1970 KIND N\" for every change\n";

const wchar_t kClass[] = L"quorvSessionProbe";
FILE *g_log = nullptr;

unsigned long long NowMicroseconds() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10 - 11644473600ULL * 1000000ULL;  // from 1601 in 100 ns to 1970 in us
}

// Each change is noted with the time taken just before it is made: the agent may see it before
// the call that makes it returns.
void Note(unsigned long long when, const char *kind, unsigned n) {
  fprintf(g_log, "%llu %s %u\n", when, kind, n);
  fflush(g_log);
}

// Waits MS milliseconds while the thread's windows get their messages.
void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

HWND Open(const std::wstring &title, int x, int y) {
  HWND w = CreateWindowExW(0, kClass, title.c_str(), WS_OVERLAPPEDWINDOW, x, y, 320, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  if (w) ShowWindow(w, SW_SHOWNORMAL);
  return w;
}

bool Count(const char *text, unsigned long low, unsigned long high, unsigned long *value) {
  char *end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (!*text || *end || v < low || v > high) return false;
  *value = v;
  return true;
}

int Latency(unsigned n, DWORD interval) {
  HWND probe = Open(L"probe title 0", 100, 100);
  if (!probe) return fprintf(stderr, "quorv-session-probe: cannot make a window\n"), 1;
  Pump(3000);  // reported, and its local window made, before the first change
  for (unsigned i = 1; i <= n; ++i) {
    const std::wstring title = L"probe title " + std::to_wstring(i);
    const unsigned long long when = NowMicroseconds();
    SetWindowTextW(probe, title.c_str());
    Note(when, "title", i);
    Pump(interval);
  }
  for (unsigned i = 1; i <= n; ++i) {
    const std::wstring title = L"probe window " + std::to_wstring(i);
    unsigned long long when = NowMicroseconds();
    HWND w = Open(title, 500, 300);
    if (!w) return fprintf(stderr, "quorv-session-probe: cannot make window %u\n", i), 1;
    Note(when, "open", i);
    Pump(interval);
    when = NowMicroseconds();
    DestroyWindow(w);
    Note(when, "close", i);
    Pump(interval);
  }
  for (unsigned i = 1; i <= n; ++i) {
    // Back and forth between two places, so that every move changes the shape.
    const unsigned long long when = NowMicroseconds();
    SetWindowPos(probe, nullptr, i % 2 ? 160 : 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Note(when, "move", i);
    Pump(interval);
  }
  DestroyWindow(probe);
  Pump(interval);
  return 0;
}

int Busy(unsigned minutes) {
  const unsigned count = minutes * 30;
  for (unsigned i = 1; i <= count; ++i) {
    const std::wstring title = L"busy program " + std::to_wstring(i);
    unsigned long long when = NowMicroseconds();
    HWND w = Open(title, 200 + static_cast<int>(i % 10) * 40, 150);
    if (!w) return fprintf(stderr, "quorv-session-probe: cannot make window %u\n", i), 1;
    Note(when, "open", i);
    Pump(1000);
    when = NowMicroseconds();
    DestroyWindow(w);
    Note(when, "close", i);
    Pump(1000);
  }
  return 0;
}

LRESULT CALLBACK ProbeProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(w, message, wParam, lParam);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    fputs(kUsage, stdout);
    return 0;
  }
  const std::string mode = argc > 1 ? argv[1] : "";
  unsigned long n = 0, interval = 0;
  const bool latency = mode == "latency" && argc == 5 && Count(argv[2], 1, 100000, &n) &&
                       Count(argv[3], 10, 60000, &interval);
  const bool busy = mode == "busy" && argc == 4 && Count(argv[2], 1, 24 * 60, &n);
  if (!latency && !busy) {
    fputs(kUsage, stderr);
    return 2;
  }
  g_log = fopen(argv[argc - 1], "w");
  if (!g_log) return fprintf(stderr, "quorv-session-probe: cannot write %s\n", argv[argc - 1]), 1;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ProbeProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClass;
  if (!RegisterClassW(&wc)) return fprintf(stderr, "quorv-session-probe: cannot register its class\n"), 1;
  const int rc = latency ? Latency(static_cast<unsigned>(n), interval) : Busy(static_cast<unsigned>(n));
  fclose(g_log);
  return rc;
}
