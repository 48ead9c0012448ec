// HELLO: the session start finds the host frame window by its title and takes it over according to
// the display mode; it makes a new session placeholder each time.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/harness.h"
#include "common/host_interface.h"

#ifndef _WIN32
#include <inspect.h>
#endif

namespace quorvtest {
namespace {

constexpr char kRegistryPath[] = "SOFTWARE\\quorv\\tamberlyn\\Client";

struct HostState {
  bool visible;
  bool caption;
  bool tool;
};

class SessionTest : public AddinTest {
 protected:
  static HostState StateOf(HWND hwnd) {
    return {IsWindowVisible(hwnd) != FALSE, (GetWindowLongA(hwnd, GWL_STYLE) & WS_CAPTION) == WS_CAPTION,
            (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0};
  }
  static RECT WorkArea() {
    RECT area = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
  }
  // Where the session start puts the host frame: at the work area's top left, sized by the work
  // area's right and bottom coordinates.
  static bool PlacedOnWorkArea(HWND hwnd) {
    const RECT area = WorkArea();
    RECT r = {};
    GetWindowRect(hwnd, &r);
    return r.left == area.left && r.top == area.top && r.right - r.left == area.right &&
           r.bottom - r.top == area.bottom;
  }
  // The placeholder handles posted to the host frame since the last call.
  std::vector<HWND> PostedPlaceholders(HWND to = nullptr) {
    std::vector<HWND> windows;
    for (const HostMessage &m : TakeHostMessages())
      if (m.message == WM_USER_PLACEHOLDER_WINDOW && (!to || m.hwnd == to)) {
        EXPECT_EQ(m.lParam, 0);
        windows.push_back(reinterpret_cast<HWND>(m.wParam));
      }
    return windows;
  }
  // Loads the add-in with the display mode in the registry (< 0: the key without the value; no
  // call: no key), starts a session and checks the host frame window as the mode wants it.
  void ExpectTakeover(const HostState &expected, int version = 2) {
    ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
    CreateHostFrame();
    StartSession(version);
    const HostState state = StateOf(host());
    EXPECT_EQ(state.visible, expected.visible);
    EXPECT_EQ(state.caption, expected.caption);
    EXPECT_EQ(state.tool, expected.tool);
    EXPECT_TRUE(PlacedOnWorkArea(host()));
    const std::vector<HWND> posted = PostedPlaceholders();
    const std::vector<HWND> local = LocalWindows();
    ASSERT_EQ(local.size(), 1u);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], local[0]);
  }
  void NextHost() {
    client().Terminate();
    Unload();
    DestroyWindow(host_);
    host_ = nullptr;
    TakeHostMessages();
  }
};

// A connection that ends while a message over the 8 MiB a message may take is being skipped: the
// skipping ends with it, and the next connection's greeting starts the session, after a reconnect
// or a termination.
TEST_F(SessionTest, AGreetingAfterAConnectionEndedInAnOversizedMessageStartsTheSession) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();
  const std::string chunk(1600, 'Q');
  for (const bool terminate : {false, true}) {
    client().DeliverChunk(chunk.data(), static_cast<UINT32>(chunk.size()), 9u << 20, CHANNEL_FLAG_FIRST);
    if (terminate)
      client().Terminate();
    else
      client().Disconnect();
    client().Connect();
    TakeHostMessages();
    Send("HELLO,1,2");
    EXPECT_EQ(PostedPlaceholders().size(), 1u) << (terminate ? "after a termination" : "after a reconnect");
  }
}

TEST_F(SessionTest, ModeZeroStripsTheHostAndKeepsItHidden) {
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({false, false, true}));
  // The placeholder: registered under id 0, a visible tool window at the origin with no size.
  const HWND placeholder = LocalWindows()[0];
  EXPECT_TRUE(IsWindowVisible(placeholder));
  EXPECT_TRUE(GetWindowLongA(placeholder, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  RECT r = {};
  GetWindowRect(placeholder, &r);
  EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0);
  EXPECT_EQ(WindowText(placeholder), u"");
  Send("DESTROYGRP,1,0,0");
  EXPECT_FALSE(IsWindow(placeholder)) << "it carries group 0";
}

TEST_F(SessionTest, TheRegistryModeDecidesCaptionTaskbarButtonAndVisibility) {
  // Each load reads the display mode afresh. The key without the value means mode 1.
  SetRegistryDisplayMode(kRegistryPath, -1);
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({true, false, false}));
  NextHost();
  SetRegistryDisplayMode(kRegistryPath, 1);
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({true, false, false}));
  NextHost();
  SetRegistryDisplayMode(kRegistryPath, 2);
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({true, true, false}));
  NextHost();
  SetRegistryDisplayMode(kRegistryPath, 7);  // any other value acts as 1
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({true, false, false}));
  NextHost();
  SetRegistryDisplayMode(kRegistryPath, 0);
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({false, false, true}));
}

TEST_F(SessionTest, TheModeIsReadFromTheViewA32BitInstallerWritesTo) {
  // A 64-bit program on 64-bit Windows has two views of HKLM\SOFTWARE; elsewhere both names reach
  // the one view, and the value written last is there. Either way the add-in sees mode 2.
  SetRegistryDisplayMode(kRegistryPath, 1, KEY_WOW64_64KEY);
  SetRegistryDisplayMode(kRegistryPath, 2, KEY_WOW64_32KEY);
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({true, true, false}));
}

TEST_F(SessionTest, AVersionThreeAgentSwitchesToModeOneForGood) {
  SetRegistryDisplayMode(kRegistryPath, 2);
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({true, false, false}, 3));
  // A later greeting of another version does not switch back; the caption stays off.
  ShowWindow(host(), SW_HIDE);
  StartSession(2);
  EXPECT_TRUE(IsWindowVisible(host()));
  EXPECT_FALSE(GetWindowLongA(host(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  // Mode 1 leaves the shape alone when the last window goes.
  Send("DESTROYGRP,1,0,0");
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(host(), region), ERROR);
  DeleteObject(region);
}

TEST_F(SessionTest, TheHostIsSpreadOverTheWorkArea) {
#ifndef _WIN32
  winsim::SetWorkArea(RECT{0, 40, 1920, 1080});
#endif
  ASSERT_NO_FATAL_FAILURE(ExpectTakeover({false, false, true}));
  RECT r = {};
  GetWindowRect(host(), &r);
#ifndef _WIN32
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 40);
  EXPECT_EQ(r.right - r.left, 1920);
  EXPECT_EQ(r.bottom - r.top, 1080);
#else
  const RECT area = WorkArea();
  EXPECT_EQ(r.left, area.left);
  EXPECT_EQ(r.top, area.top);
  EXPECT_EQ(r.right - r.left, area.right);
  EXPECT_EQ(r.bottom - r.top, area.bottom);
#endif
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(SessionTest, OnlyDirectChildrenOfTheAtlClassesStayAsTheyAre) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();
  for (const char *name : {"ATL:Other", "atl:lower", "ATL", "ATL_Control"}) {
    WNDCLASSA c = {};
    c.lpfnWndProc = PlainProc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = name;
    RegisterClassA(&c);
  }
  auto child = [this](const char *cls, HWND parent, DWORD visible) {
    return CreateWindowExA(0, cls, "", WS_CHILD | visible, 0, 0, 10, 10, parent ? parent : host(), nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  };
  const HWND hiddenAtl = child("ATL:Other", nullptr, 0);
  const HWND lower = child("atl:lower", nullptr, WS_VISIBLE);
  const HWND shortName = child("ATL", nullptr, WS_VISIBLE);
  const HWND underscore = child("ATL_Control", nullptr, WS_VISIBLE);
  const HWND grandchild = child("STATIC", plainChild(), WS_VISIBLE);
  StartSession();
  auto visibleBit = [](HWND w) { return (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) != 0; };
  EXPECT_TRUE(visibleBit(atlChild()));
  EXPECT_FALSE(visibleBit(hiddenAtl)) << "left as it was";
  EXPECT_FALSE(visibleBit(plainChild()));
  EXPECT_FALSE(visibleBit(lower)) << "the prefix is compared case-sensitively";
  EXPECT_FALSE(visibleBit(shortName));
  EXPECT_FALSE(visibleBit(underscore));
  EXPECT_TRUE(visibleBit(grandchild)) << "only direct children are looked at";
}

TEST_F(SessionTest, ASecondHelloKeepsTheHostAndRenewsTheSession) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();
  StartSession();
  const HWND first = host();
  const std::vector<HWND> firstPlaceholder = PostedPlaceholders(first);
  ASSERT_EQ(firstPlaceholder.size(), 1u);
  Send("CREATE,1,0x10,1,0,0");
  Send("CREATE,1,0x20,1,0x10,0");
  Send("CREATE,1,0x30,1,0,2");
  ASSERT_EQ(LocalWindows().size(), 3u);
  const std::vector<HWND> old = LocalWindows();

  // The host is not searched again: renamed, it is still the one; a new window with the title
  // is not looked at.
  SetWindowTextA(first, "renamed host");
  const HWND decoy = CreateHostFrame();
  const HostState decoyBefore = StateOf(decoy);
  RECT decoyRect = {};
  GetWindowRect(decoy, &decoyRect);
  ShowWindow(first, SW_SHOW);
  Send("HELLO,2,2");
  const std::vector<HWND> local = LocalWindows();
  ASSERT_EQ(local.size(), 1u) << "the old placeholder and every mirrored window are gone";
  for (HWND w : old)
    if (w != local[0]) {
      EXPECT_FALSE(IsWindow(w));
    }
  EXPECT_NE(std::find(old.begin(), old.end(), firstPlaceholder[0]), old.end());
  const std::vector<HWND> posted = PostedPlaceholders(first);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0], local[0]);
  EXPECT_FALSE(IsWindowVisible(first)) << "taken over again";
  const HostState decoyAfter = StateOf(decoy);
  EXPECT_TRUE(decoyAfter.visible == decoyBefore.visible && decoyAfter.caption == decoyBefore.caption);
  RECT r = {};
  GetWindowRect(decoy, &r);
  EXPECT_TRUE(EqualRect(&r, &decoyRect));
}

TEST_F(SessionTest, WithoutAHostFrameTheSessionOnlyClearsAndTheNextHelloSearchesAgain) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  Send("CREATE,1,0x10,1,0,0");
  ASSERT_EQ(LocalWindows().size(), 1u);
  Send("HELLO,1,2");
  EXPECT_TRUE(LocalWindows().empty()) << "the reset runs, no placeholder is made";
  CreateHostFrame();
  StartSession();
  EXPECT_EQ(PostedPlaceholders().size(), 1u);
  EXPECT_FALSE(IsWindowVisible(host()));
}

TEST_F(SessionTest, ATitleLongerThan127CharactersIsNeverFound) {
  for (size_t length : {128u, 127u}) {
    std::string title(length - 5, 'x');
    title += "-host";
    WriteLanguageIni("[GLOBAL]\r\nAppName=" + title + "\r\n");
    ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
    CreateHostFrame(title.c_str());
    StartSession();
    const bool found = length == 127;
    EXPECT_EQ(LocalWindows().size(), found ? 1u : 0u) << length;
    EXPECT_EQ(PostedPlaceholders().size(), found ? 1u : 0u) << length;
    const HostState state = StateOf(host());
    EXPECT_EQ(state.visible, !found) << length;
    EXPECT_EQ(state.caption, !found) << length;
    if (!found) {
      RECT r = {};
      GetWindowRect(host(), &r);
      EXPECT_TRUE(r.left == 10 && r.top == 20) << "not moved";
      EXPECT_TRUE((GetWindowLongA(plainChild(), GWL_STYLE) & WS_VISIBLE) != 0) << "children untouched";
    }
    NextHost();
  }
}

BOOL CALLBACK FirstWindow(HWND hwnd, LPARAM context) {
  *reinterpret_cast<HWND *>(context) = hwnd;
  return FALSE;
}

// A top-level window of another process with the title, in front of the host frame.
class ForeignWindow {
 public:
  explicit ForeignWindow(const char *title) {
#ifndef _WIN32
    std::u16string wide(title, title + strlen(title));
    window_ = winsim::CreateForeignWindow("QuorvForeignFrame", W(wide.c_str()), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                          RECT{30, 30, 330, 230});
#else
    // Wine's own notepad, retitled: SetWindowText reaches a window of another process.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char command[] = "notepad.exe";
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_)) return;
    WaitForInputIdle(process_.hProcess, 20000);
    for (int attempt = 0; attempt < 400 && !window_; ++attempt) {
      EnumWindows(MatchProcess, reinterpret_cast<LPARAM>(this));
      if (!window_) Sleep(50);
    }
    if (window_) SetWindowTextA(window_, title);
#endif
    if (window_) SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  ~ForeignWindow() {
#ifdef _WIN32
    if (process_.hProcess) {
      TerminateProcess(process_.hProcess, 0);
      WaitForSingleObject(process_.hProcess, 10000);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
#endif
  }
  HWND window() const { return window_; }

 private:
#ifdef _WIN32
  static BOOL CALLBACK MatchProcess(HWND hwnd, LPARAM context) {
    auto *self = reinterpret_cast<ForeignWindow *>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != self->process_.dwProcessId || !IsWindowVisible(hwnd) || GetParent(hwnd)) return TRUE;
    self->window_ = hwnd;
    return FALSE;
  }
#endif
  HWND window_ = nullptr;
#ifdef _WIN32
  PROCESS_INFORMATION process_ = {};
#endif
};

TEST_F(SessionTest, AWindowOfAnotherProcessWithTheTitleIsSkipped) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();
  ForeignWindow foreign(kHostTitle);
  ASSERT_NE(foreign.window(), nullptr);
  HWND first = nullptr;
  EnumWindows(FirstWindow, reinterpret_cast<LPARAM>(&first));
  ASSERT_EQ(first, foreign.window()) << "the other process's window comes first in the search";
  char title[128] = {};
  GetWindowTextA(foreign.window(), title, sizeof title);
  ASSERT_STREQ(title, kHostTitle);
  RECT before = {};
  GetWindowRect(foreign.window(), &before);

  StartSession();
  EXPECT_EQ(PostedPlaceholders().size(), 1u);
  EXPECT_FALSE(IsWindowVisible(host())) << "ours was taken over";
  EXPECT_TRUE(IsWindowVisible(foreign.window()));
  EXPECT_EQ(GetWindowLongA(foreign.window(), GWL_STYLE) & WS_CAPTION, WS_CAPTION);
  RECT after = {};
  GetWindowRect(foreign.window(), &after);
  EXPECT_TRUE(EqualRect(&before, &after));
}

}  // namespace
}  // namespace quorvtest
