// The agent under Wine beside real programs. The test listens where the stand-in host would and
// plays the add-in's side of the connection: it reads what the agent reports and sends what the
// add-in sends. Shapes are read back with the add-in's own unpacker.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "appearance/payload.h"
#include "desktop.h"
#include "encoders.h"

namespace {

const DWORD kPatience = 15000;  // the longest wait for something that should come

std::vector<std::string> Fields(const std::string &message) {
  std::vector<std::string> f;
  for (size_t start = 0;;) {
    const size_t comma = message.find(',', start);
    f.push_back(message.substr(start, comma - start));
    if (comma == std::string::npos) return f;
    start = comma + 1;
  }
}

std::string Id(HWND hwnd) { return wire::HexId(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd))); }

// A window of a process, found with EnumWindows: of a class, or visible, unowned and titled.
struct WindowSearch {
  DWORD process;
  const char *className;  // null: the process's main window
  HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM param) {
  WindowSearch &search = *reinterpret_cast<WindowSearch *>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process != search.process) return TRUE;
  if (search.className) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    if (strcmp(name, search.className) == 0 && (strcmp(name, "#32768") != 0 || IsWindowVisible(hwnd)))
      search.found = hwnd;
  } else if (IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER) && GetWindowTextLengthA(hwnd) > 0) {
    search.found = hwnd;
  }
  return !search.found;
}

HWND FindWindowOf(DWORD process, const char *className, DWORD timeoutMs) {
  WindowSearch search{process, className};
  for (const ULONGLONG end = GetTickCount64() + timeoutMs;; Sleep(50)) {
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    if (search.found || GetTickCount64() >= end) return search.found;
  }
}

// The agent, started with its options and connected to the test.
class AgentPeer {
 public:
  ~AgentPeer() {
    if (peer_ != INVALID_SOCKET) closesocket(peer_);
    if (listen_ != INVALID_SOCKET) closesocket(listen_);
    if (process_.hProcess) {
      if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
  }

  // Listens on a free port, starts the agent with --connect to it, and takes its connection.
  bool Start(const std::string &options) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listen_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listen_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listen_, 1) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
      return false;
    char log[MAX_PATH];
    GetFullPathNameA("agent.log", MAX_PATH, log, nullptr);
    log_ = log;
    std::string command = "\"" + testkit::ExecutableDirectory() +
                          "\\quorv-agent.exe\" --connect 127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                          " --log \"" + log_ + "\" " + options;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
      return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listen_, &readable);
    timeval wait = {static_cast<long>(kPatience / 1000), 0};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1) return false;
    peer_ = accept(listen_, nullptr, nullptr);
    return peer_ != INVALID_SOCKET;
  }

  // The next message, or nothing within timeoutMs (or when the agent closed the connection).
  std::optional<std::string> Next(DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
      const size_t lineEnd = pending_.find('\n');
      if (lineEnd != std::string::npos) {
        std::string line = pending_.substr(0, lineEnd);
        pending_.erase(0, lineEnd + 1);
        return line;
      }
      const ULONGLONG now = GetTickCount64();
      if (now >= end || closed_) return std::nullopt;
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(peer_, &readable);
      const DWORD left = static_cast<DWORD>(end - now);
      timeval wait = {static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
      if (select(0, &readable, nullptr, nullptr, &wait) != 1) continue;
      char buffer[8192];
      const int n = recv(peer_, buffer, sizeof buffer, 0);
      if (n <= 0)
        closed_ = true;
      else
        pending_.append(buffer, static_cast<size_t>(n));
    }
  }

  // Messages until one satisfies done (kept too), appended to *seen; false after timeoutMs.
  bool ReadUntil(const std::function<bool(const std::string &)> &done, std::vector<std::string> *seen,
                 DWORD timeoutMs = kPatience) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end) return false;
      std::optional<std::string> m = Next(static_cast<DWORD>(end - now));
      if (!m) return false;
      seen->push_back(*m);
      if (done(*m)) return true;
    }
  }

  // Everything that arrives within ms.
  std::vector<std::string> Quiet(DWORD ms) {
    std::vector<std::string> seen;
    ReadUntil([](const std::string &) { return false; }, &seen, ms);
    return seen;
  }

  void Send(const std::string &line) {
    const std::string framed = line + "\n";
    send(peer_, framed.data(), static_cast<int>(framed.size()), 0);
  }

  std::string Log() const {
    std::string text;
    if (FILE *f = fopen(log_.c_str(), "rb")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
      fclose(f);
    }
    return text;
  }
  bool WaitLog(const std::string &text, DWORD timeoutMs = kPatience) {
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; GetTickCount64() < end; Sleep(50))
      if (Log().find(text) != std::string::npos) return true;
    return false;
  }

  // Asks the agent to stop as the session does (WM_CLOSE to its window); its exit status.
  DWORD Stop() {
    if (HWND window = FindWindowOf(process_.dwProcessId, "QuorvAgent", 0)) PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process_.hProcess, kPatience) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  DWORD process() const { return process_.dwProcessId; }
  HANDLE processHandle() const { return process_.hProcess; }
  HANDLE mainThread() const { return process_.hThread; }  // the agent's window thread
  HWND window() const { return FindWindowOf(process_.dwProcessId, "QuorvAgent", 0); }

 private:
  SOCKET listen_ = INVALID_SOCKET, peer_ = INVALID_SOCKET;
  PROCESS_INFORMATION process_ = {};
  std::string log_, pending_;
  bool closed_ = false;
};

// A program of Wine's, ended with the test.
class Program {
 public:
  explicit Program(const char *commandLine) {
    std::string command = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
      process_ = {};
  }
  ~Program() {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  // Its visible unowned window with a title, once it has one.
  HWND Window() { return FindWindowOf(process_.dwProcessId, nullptr, kPatience); }
  bool Ended(DWORD timeoutMs) const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
  }
  bool started() const { return process_.hProcess != nullptr; }
  DWORD id() const { return process_.dwProcessId; }

 private:
  PROCESS_INFORMATION process_ = {};
};

// The shape as the add-in accumulates it from UPDATERGN messages.
class Shape {
 public:
  Shape() : region_(CreateRectRgn(0, 0, 0, 0)) {}
  ~Shape() { DeleteObject(region_); }
  Shape(const Shape &) = delete;
  Shape &operator=(const Shape &) = delete;
  void Take(const std::string &message) {
    const std::vector<std::string> f = Fields(message);
    if (f[0] != "UPDATERGN" || f.size() != 3) return;
    const std::string block = UnpackPayloadString(f[2]);
    if (HRGN change = ExtCreateRegion(nullptr, static_cast<DWORD>(block.size()),
                                      reinterpret_cast<const RGNDATA *>(block.data()))) {
      CombineRgn(region_, region_, change, RGN_XOR);
      DeleteObject(change);
    }
  }
  // The shape is exactly this rectangle (in screen coordinates; the virtual screen starts at 0,0
  // under Xvfb), or empty when r is empty.
  bool Is(const RECT &r) const {
    HRGN expected = CreateRectRgn(r.left, r.top, r.right, r.bottom);
    const bool same = EqualRgn(region_, expected);
    DeleteObject(expected);
    return same;
  }
  bool Covers(const RECT &r) const {
    HRGN part = CreateRectRgn(r.left, r.top, r.right, r.bottom);
    HRGN outside = CreateRectRgn(0, 0, 0, 0);
    const bool covered = CombineRgn(outside, part, region_, RGN_DIFF) == NULLREGION;
    DeleteObject(part);
    DeleteObject(outside);
    return covered;
  }

 private:
  HRGN region_;
};

bool IsAbout(const std::string &message, const char *keyword, HWND hwnd) {
  const std::vector<std::string> f = Fields(message);
  return f[0] == keyword && f.size() > 2 && f[2] == Id(hwnd);
}

// The part kinds of the icon messages of one size, in order.
std::string IconKinds(const std::vector<std::string> &messages, HWND hwnd, const char *size) {
  std::string kinds;
  for (const std::string &m : messages) {
    const std::vector<std::string> f = Fields(m);
    if (f[0] == "SETICON" && f[2] == Id(hwnd) && f.size() == 8 && f[6] == size) kinds += f[3] + " ";
  }
  return kinds;
}

// Waits for the agent to report the program's window: its greeting, then everything about the
// window until the title it has now is sent and the shape covers it.
std::vector<std::string> AwaitReport(AgentPeer &agent, HWND window, Shape &shape) {
  std::vector<std::string> seen;
  RECT rect;
  GetWindowRect(window, &rect);
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  const std::string hexTitle = wire::HexTitle(std::u16string(title, title + wcslen(title)));
  std::string lastTitle;
  agent.ReadUntil(
      [&](const std::string &m) {
        shape.Take(m);
        if (IsAbout(m, "TITLE", window)) lastTitle = Fields(m)[3];
        return lastTitle == hexTitle && shape.Covers(rect) &&
               IconKinds(seen, window, "16").find("13") != std::string::npos;
      },
      &seen);
  return seen;
}

class AgentLive : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(agent.Start("--no-tray --interval 150")) << "the agent did not connect";
    std::vector<std::string> seen;
    ASSERT_TRUE(agent.ReadUntil([](const std::string &m) { return m == "HELLO,1,2"; }, &seen));
    ASSERT_EQ(std::vector<std::string>{"HELLO,1,2"}, seen) << "the agent greets first";
    // The desktop is empty: nothing else is reported.
    ASSERT_EQ(std::vector<std::string>{}, agent.Quiet(400));
  }

  AgentPeer agent;
  Shape shape;
};

TEST_F(AgentLive, AProgramStartedRetitledAndClosedGivesExactlyItsMessages) {
  Program notepad("notepad.exe");
  const HWND w = notepad.Window();
  ASSERT_NE(nullptr, w);
  std::vector<std::string> seen = AwaitReport(agent, w, shape);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ("CREATE,2," + Id(w) + "," + std::to_string(notepad.id()) + ",0x00000000,0", seen[0]);
  for (const std::string &m : seen) {
    const std::string keyword = Fields(m)[0];
    EXPECT_TRUE(keyword == "UPDATERGN" || (keyword != "DESTROY" && keyword != "SHOWWINDOW" && Fields(m)[2] == Id(w)))
        << m.substr(0, 80);
  }
  // One icon of each size: the header, the mask in pieces, the colour in pieces.
  EXPECT_EQ("0 1 2 2 2 2 2 2 3 11 12 12 12 12 12 12 13 ", IconKinds(seen, w, "32"));
  EXPECT_EQ("0 1 3 11 13 ", IconKinds(seen, w, "16"));
  RECT rect;
  GetWindowRect(w, &rect);
  EXPECT_TRUE(shape.Is(rect)) << "the shape is the program's window";

  // Retitled: one TITLE with the exact UTF-16 (a character outside the Basic Multilingual Plane
  // goes as its two surrogates), and nothing more while the agent keeps comparing.
  SetWindowTextW(w, L"Notes \U0001D11E \u03A9\u03BC\u03AD\u03B3\u03B1 \u2014 \u65E5\u672C");
  seen.clear();
  ASSERT_TRUE(agent.ReadUntil([&](const std::string &m) { return IsAbout(m, "TITLE", w); }, &seen));
  EXPECT_EQ(std::vector<std::string>{"TITLE," + Fields(seen[0])[1] + "," + Id(w) +
                                     ",004E006F0074006500730020D834DD1E002003A903BC03AD03B303B1002020140020"
                                     "65E5672C,0"},
            seen);
  EXPECT_EQ(std::vector<std::string>{}, agent.Quiet(1000)) << "nothing is sent for a window that did not change";

  // Closed: DESTROY, and the shape empties.
  PostMessageW(w, WM_CLOSE, 0, 0);
  seen.clear();
  ASSERT_TRUE(agent.ReadUntil([&](const std::string &m) { return Fields(m)[0] == "UPDATERGN"; }, &seen));
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ("DESTROY," + Fields(seen[0])[1] + "," + Id(w) + ",0", seen[0]);
  shape.Take(seen[1]);
  EXPECT_TRUE(shape.Is(RECT{0, 0, 0, 0}));
  EXPECT_EQ(std::vector<std::string>{}, agent.Quiet(600));
  EXPECT_TRUE(notepad.Ended(5000));
  EXPECT_EQ(0u, agent.Stop());
}

TEST_F(AgentLive, FocusBringsTheReportedProgramToTheForeground) {
  Program notepad("notepad.exe");
  const HWND w = notepad.Window();
  ASSERT_NE(nullptr, w);
  AwaitReport(agent, w, shape);
  // Another window in front, as when the user works elsewhere in the session.
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 300, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
  auto foregroundBecomes = [](HWND hwnd) {
    for (const ULONGLONG end = GetTickCount64() + 5000; GetTickCount64() < end; Sleep(50)) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      if (GetForegroundWindow() == hwnd) return true;
    }
    return false;
  };
  SetForegroundWindow(other);
  ASSERT_TRUE(foregroundBecomes(other));

  // Windows the agent did not report are not touched: the session placeholder, an unknown id.
  agent.Send("FOCUS,0,0x00000000");
  agent.Send("FOCUS,1,0x7fff0001");
  ASSERT_TRUE(agent.WaitLog("FOCUS 0x7fff0001: not a window the agent reported; ignored"));
  EXPECT_EQ(other, GetForegroundWindow());

  agent.Send("FOCUS,2," + Id(w));
  EXPECT_TRUE(foregroundBecomes(w)) << "the foreground is " << GetForegroundWindow();
  EXPECT_TRUE(agent.WaitLog("FOCUS " + Id(w) + ": brought to the foreground"));
  DestroyWindow(other);
}

TEST_F(AgentLive, WmCloseFromTheAddInClosesTheProgramAndHostileLinesChangeNothing) {
  Program notepad("notepad.exe");
  const HWND w = notepad.Window();
  ASSERT_NE(nullptr, w);
  AwaitReport(agent, w, shape);

  agent.Send(std::string(5000, 'A'));
  agent.Send("WNDMSG,1," + Id(w) + ",2,0,0");   // WM_DESTROY: not a message the add-in forwards
  agent.Send("WNDMSG,2," + Id(w) + ",18,0,0");  // WM_QUIT
  agent.Send("WNDMSG,3,0x12345678,16,0,0");     // a window that was never reported
  agent.Send("WNDMSG,4," + Id(w) + ",16");      // cut short
  agent.Send("StartProg,5,notepad.exe");        // starting programs is off
  agent.Send("SETCURSORPOS,6,0x12345678,5,5");
  agent.Send("IME,7,0x00000000,20320");
  agent.Send(std::string("\x01\xff\x00,\r", 5));
  ASSERT_TRUE(agent.WaitLog("ignored a message of unknown kind: \\x01\\xFF\\x00,")) << agent.Log();
  std::string flood;  // more than the log takes about the channel's input
  for (int i = 0; i < 3000; ++i) flood += "HEARTBEAT\n";
  agent.Send(flood);
  EXPECT_EQ(std::vector<std::string>{}, agent.Quiet(500)) << "no program was started, no window changed";
  EXPECT_FALSE(notepad.Ended(0));
  EXPECT_TRUE(IsWindow(w));

  // The add-in's WM_CLOSE: the program closes, and DESTROY follows.
  agent.Send("WNDMSG,8," + Id(w) + ",16,0,0");
  std::vector<std::string> seen;
  ASSERT_TRUE(agent.ReadUntil([&](const std::string &m) { return IsAbout(m, "DESTROY", w); }, &seen));
  EXPECT_EQ(1u, seen.size());
  EXPECT_TRUE(notepad.Ended(5000));
  EXPECT_EQ(0u, agent.Stop());

  const std::string log = agent.Log();
  for (const std::string &expected :
       std::vector<std::string>{"ignored 1 lines from the add-in longer than 4096 bytes",
                                "WNDMSG " + Id(w) + " message 2: not a message the add-in forwards; ignored",
                                "WNDMSG " + Id(w) + " message 18: not a message the add-in forwards; ignored",
                                std::string("WNDMSG 0x12345678: not a window the agent reported; ignored"),
                                std::string("ignored WNDMSG: 4 fields expected after the counter, 2 found"),
                                std::string("StartProg \"notepad.exe\" refused: starting programs is off"),
                                std::string("SETCURSORPOS 0x12345678: not a window the agent reported; ignored"),
                                std::string("IME character U+4F60 ignored"),
                                // The close request came after the flood, within the same period of
                                // the limit: its line is among those counted.
                                std::string("more lines about the channel's input were not logged")})
    EXPECT_NE(std::string::npos, log.find(expected)) << expected;
  size_t logged = 0;
  for (size_t at = 0; (at = log.find("unknown kind: HEARTBEAT", at)) != std::string::npos; ++at) ++logged;
  EXPECT_LT(logged, 100u) << "a flood fills no disk";
}

// Whatever the add-in asks, refused or carried out, the log takes at most its burst of lines about
// the channel's input and counts the rest.
TEST_F(AgentLive, RequestsFromTheChannelCannotFloodTheLog) {
  const HWND w = CreateWindowExA(0, "STATIC", "flooded", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  std::vector<std::string> seen;
  ASSERT_TRUE(agent.ReadUntil([&](const std::string &m) { return IsAbout(m, "CREATE", w); }, &seen));
  std::string burst;
  for (int i = 0; i < 100; ++i) {
    const std::string n = std::to_string(i);
    burst += "StartProg," + n + ",notepad.exe\n";  // refused: starting programs is off
    burst += "FOCUS," + n + "," + Id(w) + "\n";
    burst += "WNDMSG," + n + "," + Id(w) + ",787,0,0\n";  // the system menu: posted, never shown here
    burst += "WNDMSG," + n + "," + Id(w) + ",16,0,0\n";   // WM_CLOSE: posted, never taken here
  }
  agent.Send(burst.substr(0, burst.size() - 1));
  agent.Quiet(1500);
  EXPECT_EQ(0u, agent.Stop());
  DestroyWindow(w);

  const std::string log = agent.Log();
  size_t aboutInput = 0;
  for (const char *text : {"StartProg \"notepad.exe\" refused", ": brought to the foreground",
                           ": the foreground did not move", ": system menu requested", ": asked to close",
                           "faster than the agent could take them"})
    for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; ++at) ++aboutInput;
  EXPECT_NE(std::string::npos, log.find("StartProg \"notepad.exe\" refused")) << log;
  EXPECT_LE(aboutInput, 50u) << "lines caused by the channel's input";
  EXPECT_NE(std::string::npos, log.find("more lines about the channel's input were not logged")) << log;
}

// When the session ends, or the console is closed, the system ends the agent's process right after
// telling it: the farewell (the DESTROY of every window reported) must be sent before the agent
// returns from being told. The test ends the process itself at that moment.
TEST(AgentLiveOptions, TheFarewellIsSentBeforeTheSystemEndsTheProcess) {
  const HWND w = CreateWindowExA(0, "STATIC", "reported", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 200, 100,
                                 nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  auto started = [&](AgentPeer &agent) {
    std::vector<std::string> seen;
    return agent.Start("--no-tray --interval 150") &&
           agent.ReadUntil([&](const std::string &m) { return IsAbout(m, "CREATE", w); }, &seen);
  };
  auto farewellArrives = [&](AgentPeer &agent) {
    std::vector<std::string> seen;
    return agent.ReadUntil([&](const std::string &m) { return IsAbout(m, "DESTROY", w); }, &seen, 3000);
  };
  {
    // The console's close event: the system calls the handler on a thread of its own (as here,
    // its control routine in a remote thread). With the agent's window thread held, the farewell
    // cannot be said, and the handler must not return.
    AgentPeer agent;
    ASSERT_TRUE(started(agent));
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine")));
    ASSERT_NE(nullptr, routine);
    ASSERT_NE(static_cast<DWORD>(-1), SuspendThread(agent.mainThread()));
    HANDLE handler = CreateRemoteThread(agent.processHandle(), nullptr, 0, routine,
                                        reinterpret_cast<void *>(static_cast<uintptr_t>(CTRL_CLOSE_EVENT)), 0, nullptr);
    ASSERT_NE(nullptr, handler);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(handler, 1000))
        << "the handler returned while the farewell could not have been sent";
    ResumeThread(agent.mainThread());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(handler, kPatience));
    CloseHandle(handler);
    TerminateProcess(agent.processHandle(), 1);
    EXPECT_TRUE(farewellArrives(agent)) << agent.Log();
  }
  {
    // The session ends: the agent's window is told, and the process may end when it returns.
    AgentPeer agent;
    ASSERT_TRUE(started(agent));
    const HWND window = agent.window();
    ASSERT_NE(nullptr, window);
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, 0, SMTO_BLOCK, kPatience, &result));
    TerminateProcess(agent.processHandle(), 1);
    EXPECT_TRUE(farewellArrives(agent)) << agent.Log();
  }
  DestroyWindow(w);
}

TEST(AgentLiveOptions, StartProgStartsTheProgramOnlyWhenAllowed) {
  AgentPeer agent;
  ASSERT_TRUE(agent.Start("--no-tray --interval 150 --allow-start"));
  agent.Send("StartProg,1,notepad.exe");
  std::vector<std::string> seen;
  ASSERT_TRUE(agent.ReadUntil([](const std::string &m) { return Fields(m)[0] == "CREATE"; }, &seen));
  const std::string group = Fields(seen.back())[3];
  EXPECT_TRUE(agent.WaitLog("StartProg \"notepad.exe\": started (process " + group + ")")) << agent.Log();
  HANDLE started = OpenProcess(PROCESS_TERMINATE, FALSE, std::stoul(group));
  ASSERT_NE(nullptr, started);
  TerminateProcess(started, 0);
  CloseHandle(started);
}

TEST(AgentLiveOptions, TheAgentsNotificationIconOpensItsMenuInTheSession) {
  AgentPeer agent;
  Shape shape;
  ASSERT_TRUE(agent.Start("--interval 150"));
  std::vector<std::string> seen;
  ASSERT_TRUE(
      agent.ReadUntil([](const std::string &m) { return Fields(m)[0] == "SYSTRAY" && Fields(m)[3] == "13"; }, &seen));
  // The record, then its icon's parts.
  std::vector<std::string> record;
  std::string kinds;
  for (const std::string &m : seen) {
    const std::vector<std::string> f = Fields(m);
    if (f[0] != "SYSTRAY") continue;
    if (f[3] == "-1")
      record = f;
    else
      kinds += f[3] + " ";
  }
  ASSERT_EQ(8u, record.size());
  EXPECT_EQ("0 1 3 11 13 ", kinds);
  const std::string bytes = UnpackPayloadString(record[7]);
  ASSERT_EQ(5u + 956u, bytes.size()) << "'W', the shell message, a whole NOTIFYICONDATAW of the 32-bit layout";
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                                 static_cast<uint8_t>(bytes[at + 2]) << 16 | static_cast<uint8_t>(bytes[at + 3]) << 24);
  };
  EXPECT_EQ('W', bytes[0]);
  EXPECT_EQ(0u, u32(1)) << "NIM_ADD";
  EXPECT_EQ(wire::HexId(u32(5 + 4)), record[2]) << "the record's window is the owner the message names";
  EXPECT_EQ(1u, u32(5 + 8));
  EXPECT_EQ(7u, u32(5 + 12)) << "message, icon and tip";
  const uint32_t callback = u32(5 + 16);
  EXPECT_NE(0u, u32(5 + 20)) << "an icon follows";

  // A click on the client: the add-in sends the cursor position, then the callback message.
  agent.Send("SETCURSORPOS,7," + record[2] + ",300,200");
  agent.Send("WNDMSG,8," + record[2] + "," + std::to_string(callback) + ",1,517");  // WM_RBUTTONUP
  const HWND menu = FindWindowOf(agent.process(), "#32768", kPatience);
  ASSERT_NE(nullptr, menu) << agent.Log();
  RECT rect;
  GetWindowRect(menu, &rect);
  EXPECT_LE(std::abs(rect.left - 300) + std::abs(rect.top - 200), 4) << rect.left << "," << rect.top;
  // The menu is part of the shape while it is up.
  seen.clear();
  ASSERT_TRUE(agent.ReadUntil(
      [&](const std::string &m) {
        shape.Take(m);
        return shape.Covers(rect);
      },
      &seen))
      << agent.Log();
  // Stopping: the icon goes, then the agent's window record, then the shape.
  EXPECT_EQ(0u, agent.Stop());
  std::string farewell;
  for (std::optional<std::string> m; (m = agent.Next(2000));) {
    const std::vector<std::string> f = Fields(*m);
    farewell += f[0] + " ";
    if (f[0] == "SYSTRAY") {
      EXPECT_EQ(2, UnpackPayloadString(f[7])[1]) << "NIM_DELETE";
    }
  }
  EXPECT_EQ("SYSTRAY DESTROY UPDATERGN ", farewell);
}

}  // namespace
