// SYSTRAY: remote notification icons mirrored into the local notification area through a hidden
// proxy window, and clicks on them reported back to the agent.
#include <algorithm>
#include <string>
#include <vector>

#include "support/harness.h"
#include "common/host_interface.h"

#ifndef _WIN32
#include <inspect.h>
#else
#include "support/shell_calls.h"
#endif

namespace quorvtest {
namespace {

constexpr UINT kNifMessage = 1, kNifIcon = 2, kNifTip = 4;

testkit::NotifyRecord Record(char charType, uint32_t message, uint32_t uID, uint32_t flags, uint32_t callback = 0,
                             uint32_t icon = 0, const char16_t *tip = u"") {
  testkit::NotifyRecord r;
  r.charType = charType;
  r.dwMessage = message;
  r.hWnd = 0xABCD;  // the remote window's handle, meaningless here
  r.uID = uID;
  r.uFlags = flags;
  r.uCallbackMessage = callback;
  r.hIcon = icon;
  r.tip = tip;
  return r;
}

class TrayTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    EnableLog();
    ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
#ifdef _WIN32
    ASSERT_TRUE(RecordShellCalls(GetModuleHandleA("quorv.dll")));
#endif
    StartSession();
    before_ = LocalWindows();
  }
  void SendBytes(const std::string &bytes) {
    Send(testkit::Message({"SYSTRAY", "1", "0x500", "-1", "0", "0", "16", testkit::PackPayload(bytes)}));
  }
  void SendRecord(const testkit::NotifyRecord &record) { SendBytes(testkit::NotifyRecordBytes(record)); }
  void SendIcon(int size, const testkit::Image &image, size_t pieceBytes = 4096) {
    for (const std::string &m :
         testkit::IconMessages("SYSTRAY", 2, 0x500, size, testkit::IconPartsFromImage(image), pieceBytes))
      Send(m);
  }
  std::vector<HWND> NewWindows() {
    std::vector<HWND> made;
    for (HWND hwnd : LocalWindows())
      if (std::find(before_.begin(), before_.end(), hwnd) == before_.end()) made.push_back(hwnd);
    return made;
  }
  // How often the log holds the text, whatever line ends the C runtime wrote.
  int LogCount(const std::string &text) {
    std::string log = ReadLog();
    log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  int ShellCalls() { return LogCount("Now calling local Shell_NotifyIcon functions\n"); }
  // A click as the shell reports it (classic version): the WNDMSG the add-in sent after its
  // SETCURSORPOS, from the window id on.
  std::string Click(HWND proxy, UINT uID, UINT mouseMessage) {
    TakeSent();
#ifndef _WIN32
    EXPECT_TRUE(winsim::ClickNotifyIcon(proxy, uID, mouseMessage));
#else
    SendMessageA(proxy, WM_TRAYMESSAGE, uID, mouseMessage);
#endif
    const std::vector<std::string> sent = TakeSent();
    if (sent.size() != 2 || sent[0].rfind("SETCURSORPOS,", 0) != 0 || sent[1].rfind("WNDMSG,", 0) != 0)
      return "unexpected messages: " + testing::PrintToString(sent);
    return sent[1].substr(sent[1].find(",0x"));
  }
  std::vector<HWND> before_;
};

TEST_F(TrayTest, RecordsWithoutIconReachTheShellThroughOneProxyWindow) {
  SendRecord(Record('W', 0 /* NIM_ADD */, 7, kNifMessage | kNifTip, 0x8001, 0, u"Remote clock \u00e9"));
  EXPECT_EQ(ShellCalls(), 1);
  const std::vector<HWND> made = NewWindows();
  ASSERT_EQ(made.size(), 1u);
  const HWND proxy = made[0];
  EXPECT_FALSE(IsWindowVisible(proxy));
  EXPECT_TRUE(GetWindowLongA(proxy, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_EQ(Click(proxy, 7, WM_LBUTTONUP), ",0x00000500,32769,7,514");

  // A second icon of the owner, ANSI, NIF_ICON without an icon handle: at once, same proxy, whose
  // callback is now this record's; a record without NIF_MESSAGE leaves that callback alone.
  SendRecord(Record('A', 0, 8, kNifMessage | kNifIcon | kNifTip, 0x8002, 0, u"Volume"));
  SendRecord(Record('W', 1 /* NIM_MODIFY */, 7, kNifTip, 0x9999, 0, u"Remote clock, later"));
  EXPECT_EQ(ShellCalls(), 3);
  EXPECT_EQ(NewWindows().size(), 1u);
  EXPECT_EQ(Click(proxy, 7, WM_RBUTTONUP), ",0x00000500,32770,7,517");
#ifndef _WIN32
  std::vector<winsim::NotifyIconEntry> icons = winsim::NotifyIcons();
  ASSERT_EQ(icons.size(), 2u);
  for (const winsim::NotifyIconEntry &icon : icons) {
    EXPECT_EQ(icon.hWnd, proxy);
    EXPECT_EQ(icon.uCallbackMessage, WM_TRAYMESSAGE);
    EXPECT_EQ(icon.hIcon, nullptr);
  }
  EXPECT_EQ(icons[0].tip, u"Remote clock, later");
  EXPECT_EQ(icons[1].tip, u"Volume");
#endif
  // NIM_DELETE removes the local icon, not the proxy window.
  SendRecord(Record('W', 2, 7, 0));
  EXPECT_EQ(ShellCalls(), 4);
  EXPECT_TRUE(IsWindow(proxy));
#ifndef _WIN32
  EXPECT_EQ(winsim::NotifyIcons().size(), 1u);
#endif
}

// A proxy window that another program destroys takes its icons along; the next record for its
// owner makes a new one, as CREATE makes a new local window, and that one carries the icon, its
// clicks and its removal. The owner of a window with a parent has no local window to make.
TEST_F(TrayTest, AProxyWindowDestroyedFromOutsideIsMadeAgainByTheNextRecord) {
  SendRecord(Record('W', 0 /* NIM_ADD */, 7, kNifMessage | kNifTip, 0x8001, 0, u"First"));
  std::vector<HWND> made = NewWindows();
  ASSERT_EQ(made.size(), 1u);
  ASSERT_TRUE(DestroyWindow(made[0]));
#ifndef _WIN32
  EXPECT_TRUE(winsim::NotifyIcons().empty()) << "the icon went with its window";
#endif

  SendRecord(Record('W', 0 /* NIM_ADD */, 7, kNifMessage | kNifTip, 0x8001, 0, u"Again"));
  made = NewWindows();
  ASSERT_EQ(made.size(), 1u) << "a new proxy window";
  const HWND proxy = made[0];
  EXPECT_FALSE(IsWindowVisible(proxy));
  EXPECT_TRUE(GetWindowLongA(proxy, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
#ifndef _WIN32
  std::vector<winsim::NotifyIconEntry> icons = winsim::NotifyIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].hWnd, proxy);
  EXPECT_EQ(icons[0].tip, u"Again");
#else
  std::vector<ShellCall> calls = TakeShellCalls();
  ASSERT_EQ(calls.size(), 3u) << "the add, its removal with the window, the add again";
  EXPECT_EQ(calls[2].hWnd, proxy);
  EXPECT_EQ(calls[2].tip, u"Again");
  EXPECT_TRUE(calls[2].result);
#endif
  EXPECT_EQ(Click(proxy, 7, WM_LBUTTONUP), ",0x00000500,32769,7,514");
  Send("DESTROY,9,0x500,0");
  EXPECT_FALSE(IsWindow(proxy));
#ifndef _WIN32
  EXPECT_TRUE(winsim::NotifyIcons().empty());
#else
  calls = TakeShellCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(calls[0].hWnd, proxy);
#endif

  Send("CREATE,1,0x600,1,0x500,0");
  Send(testkit::Message({"SYSTRAY", "1", "0x600", "-1", "0", "0", "16",
                         testkit::PackPayload(testkit::NotifyRecordBytes(Record('W', 0, 8, kNifTip)))}));
  EXPECT_EQ(NewWindows().size(), 0u) << "no proxy window for a window with a parent";
  EXPECT_EQ(ShellCalls(), 3);
}

// The balloon icon of a record is a handle of the remote session: it never reaches the shell.
TEST_F(TrayTest, ABalloonIconHandleIsNotPassedOn) {
  for (char charType : {'W', 'A'}) {
    std::string bytes = testkit::NotifyRecordBytes(Record(charType, 0, 9, kNifTip, 0, 0, u"balloon"));
    const size_t balloonIcon = 5 + (charType == 'W' ? 952 : 504);  // after CharType and dwMessage
    ASSERT_EQ(bytes.size(), balloonIcon + 4);
    bytes.replace(balloonIcon, 4, "\x44\x33\x22\x11");
    SendBytes(bytes);
#ifndef _WIN32
    const std::vector<winsim::NotifyIconEntry> icons = winsim::NotifyIcons();
    ASSERT_EQ(icons.size(), 1u) << charType;
    EXPECT_EQ(icons[0].hBalloonIcon, nullptr) << charType;
    EXPECT_EQ(icons[0].tip, u"balloon");
#endif
    SendRecord(Record(charType, 2, 9, 0));
  }
  EXPECT_EQ(ShellCalls(), 4);
}

TEST_F(TrayTest, IconPartsCompleteTheWaitingRecord) {
  testkit::Image image{16, 16, {}};
  for (uint32_t i = 0; i < 256; ++i) image.pixels.push_back(i % 5 ? 0xFF000000u | (i * 0x010203u) : 0);
  SendRecord(Record('W', 0, 3, kNifMessage | kNifIcon, 0x8003, 0x1234));
  EXPECT_EQ(LogCount("There is ICON data, wait for more data to come ...\n"), 1);
  const std::vector<std::string> parts =
      testkit::IconMessages("SYSTRAY", 2, 0x500, 16, testkit::IconPartsFromImage(image), 300);
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(ShellCalls(), 0) << "called before the icon was complete, at part " << i << " of " << parts.size();
    Send(parts[i]);
  }
  EXPECT_EQ(ShellCalls(), 1);
  EXPECT_EQ(LogCount("Now get small icon\n"), 1);
#ifndef _WIN32
  ASSERT_EQ(winsim::NotifyIcons().size(), 1u);
  testkit::IconPixels shown;
  ASSERT_TRUE(testkit::ReadIconPixels(winsim::NotifyIcons()[0].hIcon, &shown));
  EXPECT_EQ(testkit::CompareIconPixels(shown, image), "");
  const size_t icons = winsim::LiveObjectCount(winsim::ObjectKind::Icon);
#endif
  // Field 6 of the message that completes the set picks the log line; the add-in's own icon goes
  // after the call, only the shell's copy stays.
  SendRecord(Record('W', 1, 3, kNifIcon, 0, 0x1234));
  SendIcon(32, image);
  EXPECT_EQ(LogCount("Now get large icon\n"), 1);
  EXPECT_EQ(ShellCalls(), 2);
#ifndef _WIN32
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Icon), icons);
#endif
}

TEST_F(TrayTest, BadRecordsAndStrayIconPartsReachNoShell) {
  const std::string good = testkit::NotifyRecordBytes(Record('W', 0, 1, kNifMessage, 0x8001));
  SendBytes(good.substr(0, 8));
  EXPECT_EQ(LogCount("Message length is to small!\n"), 1);
  SendBytes("X" + good.substr(1));
  EXPECT_EQ(LogCount("CharType=X, dwMessage=0\n"), 1);
  EXPECT_EQ(LogCount("iNotifyDataSize = "), 0);
  for (int32_t size : {23, 3, -1, 957 /* one byte more than arrived */, INT32_MAX}) {
    std::string bytes = good;
    for (int i = 0; i < 4; ++i) bytes[5 + i] = static_cast<char>(static_cast<uint32_t>(size) >> (8 * i));
    SendBytes(bytes);
    EXPECT_EQ(LogCount("iNotifyDataSize = " + std::to_string(size) + "\n"), 1);
  }
  EXPECT_EQ(ShellCalls(), 0);

  // A whole icon with no record waiting is dropped, and the next icon's parts start from nothing.
  const testkit::Image image{16, 16, std::vector<uint32_t>(256, 0xFF336699)};
  SendIcon(16, image);
  EXPECT_EQ(ShellCalls(), 0);
  SendRecord(Record('W', 0, 1, kNifMessage | kNifIcon, 0x8001, 0x77));
  const std::vector<std::string> parts =
      testkit::IconMessages("SYSTRAY", 2, 0x500, 16, testkit::IconPartsFromImage(image));
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(ShellCalls(), 0) << "fired early, at part " << i;
    Send(parts[i]);
  }
  EXPECT_EQ(ShellCalls(), 1);
  // The smallest record accepted ends with hIcon.
  testkit::NotifyRecord shortest = Record('A', 0, 2, kNifMessage, 0x8001);
  shortest.cbSize = 24;
  SendRecord(shortest);
  EXPECT_EQ(ShellCalls(), 2);
}

TEST_F(TrayTest, ARejectedRecordLeavesTheWaitingOneAsItWas) {
  // An ANSI add waits for its icon; a UTF-16 delete with a size that does not fit is rejected; the
  // icon then completes the add, which reaches the shell as the ANSI add it was.
  SendRecord(Record('A', 0 /* NIM_ADD */, 4, kNifMessage | kNifIcon | kNifTip, 0x8004, 0x55, u"Waiting"));
  std::string rejected = testkit::NotifyRecordBytes(Record('W', 2 /* NIM_DELETE */, 4, 0));
  testkit::SetU32(rejected, 5, 3);
  SendBytes(rejected);
  EXPECT_EQ(LogCount("iNotifyDataSize = 3\n"), 1);
  SendIcon(16, testkit::Image{16, 16, std::vector<uint32_t>(256, 0xFF336699)});
  EXPECT_EQ(ShellCalls(), 1);
#ifndef _WIN32
  const std::vector<winsim::NotifyIconEntry> icons = winsim::NotifyIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].tip, u"Waiting");
  EXPECT_NE(icons[0].hIcon, nullptr);
#else
  const std::vector<ShellCall> calls = TakeShellCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].form, 'A');
  EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(calls[0].tip, u"Waiting");
  EXPECT_TRUE(calls[0].iconRead);
#endif
}

#ifdef _WIN32
// Through the loaded DLL, x86 or x64: the shell gets the structure of this build with the proxy
// window, the callback, the tip and the icon's pixels; the icon the agent deleted is not deleted
// again when its window goes, the one it left is, under the key it was added with.
TEST_F(TrayTest, TheShellGetsThisBuildsStructure) {
  constexpr bool k64 = sizeof(void *) == 8;
  testkit::Image image{16, 16, {}};
  for (uint32_t i = 0; i < 256; ++i) image.pixels.push_back(i % 7 ? 0xFF000000u | (i * 0x030507u) : 0);
  SendRecord(Record('W', 0 /* NIM_ADD */, 5, kNifMessage | kNifIcon | kNifTip, 0x8005, 0x1234, u"Remote \u2014 clock"));
  SendIcon(16, image);
  SendRecord(Record('W', 1 /* NIM_MODIFY */, 5, kNifTip, 0, 0, u"Later"));
  testkit::NotifyRecord first = Record('A', 0, 6, kNifMessage | kNifTip, 0x8006, 0, u"First version");
  first.cbSize = 88;
  SendRecord(first);
  SendRecord(Record('W', 2 /* NIM_DELETE */, 5, 0));
  const std::vector<HWND> made = NewWindows();
  ASSERT_EQ(made.size(), 1u);
  const HWND proxy = made[0];

  std::vector<ShellCall> calls = TakeShellCalls();
  ASSERT_EQ(calls.size(), 4u);
  const ShellCall &add = calls[0];
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(add.form, 'W');
  EXPECT_EQ(add.cbSize, k64 ? 976u : 956u);
  EXPECT_EQ(add.hWnd, proxy);
  EXPECT_EQ(add.uID, 5u);
  EXPECT_EQ(add.uFlags, kNifMessage | kNifIcon | kNifTip);
  EXPECT_EQ(add.uCallbackMessage, static_cast<UINT>(WM_TRAYMESSAGE));
  EXPECT_EQ(add.tip, u"Remote \u2014 clock");
  ASSERT_TRUE(add.iconRead);
  EXPECT_EQ(testkit::CompareIconPixels(add.icon, image), "");
  EXPECT_TRUE(add.result);

  EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(calls[1].cbSize, k64 ? 976u : 956u);
  EXPECT_EQ(calls[1].hWnd, proxy);
  EXPECT_EQ(calls[1].tip, u"Later");
  EXPECT_TRUE(calls[1].result);

  EXPECT_EQ(calls[2].form, 'A');
  EXPECT_EQ(calls[2].cbSize, k64 ? 104u : 88u) << "the first version's size";
  EXPECT_EQ(calls[2].hWnd, proxy);
  EXPECT_EQ(calls[2].uID, 6u);
  EXPECT_EQ(calls[2].uCallbackMessage, static_cast<UINT>(WM_TRAYMESSAGE));
  EXPECT_EQ(calls[2].tip, u"First version");
  EXPECT_TRUE(calls[2].result);

  EXPECT_EQ(calls[3].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(calls[3].hWnd, proxy);
  EXPECT_EQ(calls[3].uID, 5u);
  EXPECT_TRUE(calls[3].result);

  Send("DESTROY,9,0x500,0");
  EXPECT_FALSE(IsWindow(proxy));
  calls = TakeShellCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(calls[0].hWnd, proxy);
  EXPECT_EQ(calls[0].uID, 6u);
  EXPECT_TRUE(calls[0].result);
}
#endif

}  // namespace
}  // namespace quorvtest
