// The window procedure of the local windows: what the user does to them reaches the agent and the
// host frame window.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"
#include "common/host_interface.h"

#ifndef _WIN32
#include <inspect.h>
#endif

namespace quorvtest {
namespace {

std::vector<HostMessage> g_requesterMessages;

LRESULT CALLBACK RequesterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER) g_requesterMessages.push_back(HostMessage{message, wParam, lParam, hwnd});
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class WindowProcTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
    StartSession();
    placeholder_ = LocalWindows().at(0);
    Send("CREATE,1,0x10,1,0,0");
    const std::vector<HWND> made = NewLocalWindows({placeholder_});
    ASSERT_EQ(made.size(), 1u);
    window_ = made[0];
    TakeHostMessages();
    TakeSent();
  }

  std::vector<HWND> ActiveWindowPosts() {
    std::vector<HWND> named;
    for (const HostMessage &m : TakeHostMessages())
      if (m.message == WM_USER_ACTIVE_WINDOW) {
        EXPECT_EQ(m.lParam, 0);
        named.push_back(reinterpret_cast<HWND>(m.wParam));
      }
    return named;
  }

  HWND CreateRequester() {
    WNDCLASSA c = {};
    c.lpfnWndProc = RequesterProc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "QuorvRequester";
    RegisterClassA(&c);
    g_requesterMessages.clear();
    return CreateWindowExA(0, "QuorvRequester", "requester", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  }

  HWND placeholder_ = nullptr;
  HWND window_ = nullptr;
};

using Sent = std::vector<std::string>;

TEST_F(WindowProcTest, FocusEventsWithinOneSecondAreReportedOnce) {
  StartNewSecond();
  TakeSent();
  TakeHostMessages();
  EXPECT_EQ(SendMessageA(window_, WM_SETFOCUS, 0, 0), 1);
  EXPECT_EQ(SendMessageA(window_, WM_ACTIVATE, WA_ACTIVE, 0), 1);
  EXPECT_EQ(SendMessageA(placeholder_, WM_SETFOCUS, 0, 0), 1) << "each window has its own debounce";
  EXPECT_EQ(TakeSentPayloads(), (Sent{"FOCUS,0x00000010", "FOCUS,0x00000000"}));
  EXPECT_EQ(ActiveWindowPosts(), (std::vector<HWND>{window_, placeholder_}));
  EXPECT_EQ(GetForegroundWindow(), host());

  // A deactivation takes the same path; a new second lets it through.
  StartNewSecond();
  EXPECT_EQ(SendMessageA(window_, WM_ACTIVATE, WA_INACTIVE, 0), 1);
  EXPECT_EQ(TakeSentPayloads(), Sent{"FOCUS,0x00000010"});
  EXPECT_EQ(ActiveWindowPosts(), std::vector<HWND>{window_});

  // A window the add-in has no record for is still named to the host, but not reported.
  const HWND stray = CreateStrayLocalWindow();
  ASSERT_NE(stray, nullptr);
  EXPECT_EQ(SendMessageA(stray, WM_SETFOCUS, 0, 0), 1);
  EXPECT_TRUE(TakeSentPayloads().empty());
  EXPECT_EQ(ActiveWindowPosts(), std::vector<HWND>{stray});
  DestroyWindow(stray);
}

#ifndef _WIN32
TEST_F(WindowProcTest, TheDebounceComparesSignedSecondsAndFollowsABackwardClock) {
  auto focus = [this] {
    SendMessageA(window_, WM_SETFOCUS, 0, 0);
    return TakeSentPayloads().size();
  };
  winsim::SetCalendarTime(0x7FFFFFFF);
  EXPECT_EQ(focus(), 1u);
  winsim::SetCalendarTime(0x80000000LL);  // wraps to the most negative 32-bit value: one second later
  EXPECT_EQ(focus(), 1u);
  winsim::SetCalendarTime(0x80000000LL - 5);
  EXPECT_EQ(focus(), 0u) << "the clock went back";
  winsim::SetCalendarTime(0x80000000LL - 4);
  EXPECT_EQ(focus(), 1u) << "the swallowed event's time was stored";
  EXPECT_EQ(focus(), 0u);
}
#endif

TEST_F(WindowProcTest, TheSystemMenuRequestIsForwardedAndTheHostBroughtForward) {
  EXPECT_EQ(SendMessageA(window_, WM_SYSMENU_REQUEST, 7, static_cast<LPARAM>(-5)), 1);
  EXPECT_EQ(SendMessageA(placeholder_, WM_SYSMENU_REQUEST, 0, MAKELPARAM(300, 400)), 1);
  EXPECT_EQ(TakeSentPayloads(), (Sent{"WNDMSG,0x00000010,787,7,4294967291",
                                      "WNDMSG,0x00000000,787,0," + std::to_string(MAKELPARAM(300, 400))}));
  EXPECT_EQ(GetForegroundWindow(), host());
#ifndef _WIN32
  // Wine's default handling of this message opens the system menu; on winsim it is a no-op.
  const HWND stray = CreateStrayLocalWindow();
  EXPECT_EQ(SendMessageA(stray, WM_SYSMENU_REQUEST, 0, 0), 0);
  EXPECT_TRUE(TakeSentPayloads().empty());
#endif
}

// Closing from the taskbar, a thumbnail or a task manager: the remote application is asked (it may
// want to ask "save changes?"), and the local window stays until the agent's DESTROY.
TEST_F(WindowProcTest, CloseRequestsGoToTheAgentAndTheWindowStays) {
  SetForegroundWindow(window_);
  TakeSent();
  EXPECT_EQ(SendMessageA(window_, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(TakeSentPayloads(), Sent{"WNDMSG,0x00000010,16,0,0"});
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_EQ(GetForegroundWindow(), host());
  EXPECT_EQ(SendMessageA(window_, WM_CLOSE, 3, static_cast<LPARAM>(-2)), 0);
  EXPECT_EQ(TakeSentPayloads(), Sent{"WNDMSG,0x00000010,16,3,4294967294"}) << "wParam and lParam as received";
  // The system menu's Close becomes WM_CLOSE in the default handling.
  EXPECT_EQ(SendMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
  EXPECT_EQ(TakeSentPayloads(), Sent{"WNDMSG,0x00000010,16,0,0"});
  EXPECT_TRUE(IsWindow(window_));
  Send("DESTROY,1,0x10,0");
  EXPECT_FALSE(IsWindow(window_));

  // The placeholder, a notification proxy and a window with no record swallow it.
  Send(testkit::Message({"SYSTRAY", "1", "0x700", "-1", "0", "0", "16",
                         testkit::PackPayload(testkit::NotifyRecordBytes(testkit::NotifyRecord{}))}));
  const std::vector<HWND> proxies = NewLocalWindows({placeholder_});
  ASSERT_EQ(proxies.size(), 1u);
  const HWND stray = CreateStrayLocalWindow();
  TakeSent();
  for (HWND other : {placeholder_, proxies[0], stray}) {
    EXPECT_EQ(SendMessageA(other, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(SendMessageA(other, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    EXPECT_TRUE(IsWindow(other));
  }
  EXPECT_TRUE(TakeSentPayloads().empty());
  // Once CREATE announces the proxy's owner as a window of its own, it is closed like any other.
  Send("CREATE,1,0x700,1,0,0");
  TakeSent();  // a focus report, when the CREATE's activation falls in a new second
  EXPECT_EQ(SendMessageA(proxies[0], WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(TakeSentPayloads(), Sent{"WNDMSG,0x00000700,16,0,0"});
}

// A local window destroyed by someone else leaves no dead handle behind: the next CREATE for its
// id makes a new window, and the old handle maps to nothing.
TEST_F(WindowProcTest, AWindowDestroyedFromOutsideIsMadeAgainByTheNextCreate) {
  // Any program can send WM_NCDESTROY: a live window keeps its record.
  SendMessageA(window_, WM_NCDESTROY, 0, 0);
  EXPECT_EQ(SendForLocalWindow("CREATE,1,0x10,1,0,0"), nullptr) << "no second window for a live one";
  TakeSent();
  SendMessageA(window_, WM_SYSMENU_REQUEST, 0, 0);
  EXPECT_EQ(TakeSentPayloads(), Sent{"WNDMSG,0x00000010,787,0,0"});

  ASSERT_TRUE(DestroyWindow(window_));
  TakeSent();
  const HWND again = SendForLocalWindow("CREATE,1,0x10,1,0,0");
  ASSERT_NE(again, nullptr) << "a new local window for the same id";
  EXPECT_TRUE(IsWindowVisible(again));
  TakeSent();
  SendMessageA(again, WM_SYSMENU_REQUEST, 0, 0);
  EXPECT_EQ(TakeSentPayloads(), Sent{"WNDMSG,0x00000010,787,0,0"});
  Send("TITLE,1,0x10,00410042,0");
  EXPECT_EQ(WindowText(again), u"AB");
  Send("DESTROY,1,0x10,0");
  EXPECT_FALSE(IsWindow(again));
}

TEST_F(WindowProcTest, ImeCharactersAreSentWithoutMakingCharacterMessages) {
  EXPECT_EQ(SendMessageA(window_, WM_IME_CHAR, 0x12345, 0), 1);
  EXPECT_EQ(SendMessageA(placeholder_, WM_IME_CHAR, 0x41, 0), 1);
  EXPECT_EQ(TakeSentPayloads(), (Sent{"IME,0x00000000,9029", "IME,0x00000000,65"}));
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_CHAR, WM_CHAR, PM_REMOVE));
}

TEST_F(WindowProcTest, AStartProgramRequestFromThisProcessIsAcknowledgedSentAndTaken) {
  const HWND requester = CreateRequester();
  ASSERT_NE(requester, nullptr);
  char text[] = "notepad.exe %s%n%x \"C:\\remote docs\\a,b.txt\"";  // no format, only text
  EXPECT_EQ(SendMessageA(window_, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(requester),
                         reinterpret_cast<LPARAM>(text)),
            1);
  EXPECT_EQ(TakeSentPayloads(), Sent{"StartProg,notepad.exe %s%n%x \"C:\\remote docs\\a,b.txt\""});
  EXPECT_EQ(text[0], 0) << "the requester sees the request taken";
  EXPECT_STREQ(text + 1, "otepad.exe %s%n%x \"C:\\remote docs\\a,b.txt\"") << "only the first byte is written";
  EXPECT_EQ(GetForegroundWindow(), host());
  TakeHostMessages();
  ASSERT_EQ(g_requesterMessages.size(), 1u);
  EXPECT_EQ(g_requesterMessages[0].message, WM_USER_START_PROG_ACK);
  EXPECT_EQ(g_requesterMessages[0].wParam, 0u);
  EXPECT_EQ(g_requesterMessages[0].lParam, 0);

  // The placeholder takes requests too; a text longer than a frame goes out cut to the frame.
  std::string longText(1398, 'x');
  for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>('a' + i % 26);
  const std::string expected = longText;
  g_requesterMessages.clear();
  EXPECT_EQ(SendMessageA(placeholder_, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(requester),
                         reinterpret_cast<LPARAM>(longText.data())),
            1);
  const std::vector<std::string> sent = TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  const size_t prefix = sent[0].find(',', strlen("StartProg,")) + 1;
  EXPECT_EQ(sent[0].size(), 1399u) << "the frame is full";
  EXPECT_EQ(sent[0].substr(prefix), expected.substr(0, 1399 - prefix));
  EXPECT_EQ(longText[0], 0);
  TakeHostMessages();
  EXPECT_EQ(g_requesterMessages.size(), 1u);
}

// Any window of this process may be named as the requester, so lParam is checked before anything
// is read or written through it: each of these is dropped, with no acknowledgement and nothing sent.
TEST_F(WindowProcTest, AStartProgramRequestWithABadAddressIsDropped) {
  const HWND requester = CreateRequester();
  ASSERT_NE(requester, nullptr);
  char *pages = static_cast<char *>(VirtualAlloc(nullptr, 3, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_EQ(VirtualQuery(pages, &info, sizeof info), sizeof info);
  const size_t page = info.RegionSize;
  ASSERT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
  pages = static_cast<char *>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  memset(pages, 'a', 2 * page);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
  char *readOnly = static_cast<char *>(VirtualAlloc(nullptr, page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(readOnly, nullptr);
  strcpy(readOnly, "cmd.exe");
  ASSERT_TRUE(VirtualProtect(readOnly, page, PAGE_READONLY, &old));
  char *freed = static_cast<char *>(VirtualAlloc(nullptr, page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(freed, nullptr);
  ASSERT_TRUE(VirtualFree(freed, 0, MEM_RELEASE));

  const std::pair<const char *, char *> cases[] = {
      {"null", nullptr},
      {"freed", freed},
      {"read-only", readOnly},
      {"unterminated at the end of a page", pages + page - 16},
      {"no zero before an inaccessible page 1398 bytes on", pages + page - 1398},
  };
  for (const auto &[what, address] : cases) {
    g_requesterMessages.clear();
    EXPECT_EQ(SendMessageA(window_, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(requester),
                           reinterpret_cast<LPARAM>(address)),
              0)
        << what;
    EXPECT_TRUE(TakeSent().empty()) << what;
    TakeHostMessages();
    EXPECT_TRUE(g_requesterMessages.empty()) << what << ": no acknowledgement";
  }
  EXPECT_STREQ(readOnly, "cmd.exe");
  EXPECT_EQ(pages[page - 16], 'a') << "nothing written";

  // A text whose zero is the last byte before the inaccessible page is taken.
  pages[page - 1] = 0;
  EXPECT_EQ(SendMessageA(window_, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(requester),
                         reinterpret_cast<LPARAM>(pages + page - 16)),
            1);
  EXPECT_EQ(TakeSentPayloads(), Sent{"StartProg," + std::string(15, 'a')});
  EXPECT_EQ(pages[page - 16], 0);

  // Without a zero, the first 1399 bytes are the text: readable up to there is enough, and nothing
  // past them is read (the page after them is inaccessible).
  pages[page - 1] = 'a';
  pages[page - 16] = 'a';
  char *const full = pages + page - 1399;
  EXPECT_EQ(SendMessageA(window_, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(requester),
                         reinterpret_cast<LPARAM>(full)),
            1);
  const std::vector<std::string> sent = TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), 1399u) << "the frame is full";
  EXPECT_EQ(sent[0].substr(sent[0].size() - 10), std::string(10, 'a'));
  EXPECT_EQ(full[0], 0);
  VirtualFree(readOnly, 0, MEM_RELEASE);
  VirtualFree(pages, 0, MEM_RELEASE);
}

// A program line longer than a frame is legitimate: it is taken and goes out cut to the frame.
TEST_F(WindowProcTest, AStartProgramRequestOf2000CharactersIsCutAcknowledgedAndTaken) {
  const HWND requester = CreateRequester();
  ASSERT_NE(requester, nullptr);
  std::string text(2000, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  const std::string expected = text;
  EXPECT_EQ(SendMessageA(window_, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(requester),
                         reinterpret_cast<LPARAM>(text.data())),
            1);
  const std::vector<std::string> sent = TakeSent();
  ASSERT_EQ(sent.size(), 1u);
  const size_t prefix = sent[0].find(',', strlen("StartProg,")) + 1;
  EXPECT_EQ(sent[0].substr(0, strlen("StartProg,")), "StartProg,");
  EXPECT_EQ(sent[0].size(), 1399u) << "the frame is full";
  EXPECT_EQ(sent[0].substr(prefix), expected.substr(0, 1399 - prefix));
  EXPECT_EQ(text[0], 0) << "the requester sees the request taken";
  EXPECT_EQ(text.substr(1), expected.substr(1)) << "only the first byte is written";
  TakeHostMessages();
  ASSERT_EQ(g_requesterMessages.size(), 1u);
  EXPECT_EQ(g_requesterMessages[0].message, WM_USER_START_PROG_ACK);
  EXPECT_EQ(GetForegroundWindow(), host());
}

TEST_F(WindowProcTest, AStartProgramRequestNamingAnotherProcessIsIgnored) {
#ifndef _WIN32
  const HWND other = winsim::CreateForeignWindow("QuorvForeign", W(u"other"), WS_POPUP, 0, RECT{0, 0, 10, 10});
#else
  const HWND other = GetDesktopWindow();  // the desktop belongs to another process under Wine
#endif
  DWORD pid = 0;
  GetWindowThreadProcessId(other, &pid);
  ASSERT_NE(pid, GetCurrentProcessId());
  for (HWND requester : {other, static_cast<HWND>(nullptr), reinterpret_cast<HWND>(0x7654320)}) {
    char text[] = "cmd.exe";
    EXPECT_EQ(SendMessageA(window_, WM_USER_START_PROG_REQ, reinterpret_cast<WPARAM>(requester),
                           reinterpret_cast<LPARAM>(text)),
              0);
    EXPECT_STREQ(text, "cmd.exe") << "nothing written";
  }
  EXPECT_TRUE(TakeSentPayloads().empty());
  EXPECT_TRUE(TakeThreadMessages().empty()) << "no acknowledgement anywhere";
}

TEST_F(WindowProcTest, DestroyNamesTheFirstOtherLocalWindowToTheHost) {
  Send("CREATE,1,0x08,1,0x10,0");  // a record without a local window, before the others
  Send("DESTROYGRP,1,0,0");        // the placeholder goes: the next window is the mirrored one
  EXPECT_EQ(ActiveWindowPosts(), std::vector<HWND>{window_});
  Send("CREATE,1,0x20,1,0,0");
  const std::vector<HWND> made = NewLocalWindows({window_});
  ASSERT_EQ(made.size(), 1u);
  TakeHostMessages();
  Send("DESTROY,1,0x10,0");
  EXPECT_EQ(ActiveWindowPosts(), std::vector<HWND>{made[0]}) << "past the record without window and itself";
  Send("DESTROY,1,0x20,0");
  EXPECT_TRUE(ActiveWindowPosts().empty()) << "no other local window left";
}

TEST_F(WindowProcTest, NotificationMessagesOnlyForwardARemoteCallback) {
  // A mirrored window's record has no notification callback: accepted, nothing sent.
  EXPECT_EQ(SendMessageA(window_, WM_TRAYMESSAGE, 7, WM_LBUTTONUP), 1);
  EXPECT_TRUE(TakeSentPayloads().empty());
  const HWND stray = CreateStrayLocalWindow();
  EXPECT_EQ(SendMessageA(stray, WM_TRAYMESSAGE, 7, WM_LBUTTONUP), 0);
  EXPECT_TRUE(TakeSentPayloads().empty());

  testkit::NotifyRecord record;
  record.uID = 5;
  record.uFlags = 1;  // NIF_MESSAGE
  record.uCallbackMessage = 0x8010;
  Send(testkit::Message(
      {"SYSTRAY", "1", "0x700", "-1", "0", "0", "16", testkit::PackPayload(testkit::NotifyRecordBytes(record))}));
  const std::vector<HWND> made = NewLocalWindows({placeholder_, window_, stray});
  ASSERT_EQ(made.size(), 1u);
  TakeSent();
#ifndef _WIN32
  winsim::SetCursorPosition(-100, 30);
  const std::string cursor = "4294967196,30";
#else
  POINT at = {};
  GetCursorPos(&at);
  const std::string cursor =
      std::to_string(static_cast<unsigned>(at.x)) + "," + std::to_string(static_cast<unsigned>(at.y));
#endif
  EXPECT_EQ(SendMessageA(made[0], WM_TRAYMESSAGE, 5, WM_LBUTTONUP), 1);
  EXPECT_EQ(TakeSentPayloads(), (Sent{"SETCURSORPOS,0x00000700," + cursor, "WNDMSG,0x00000700,32784,5,514"}));
}

}  // namespace
}  // namespace quorvtest
