// The window mirror: CREATE, DESTROY, DESTROYGRP, SHOWWINDOW and TITLE as the desktop sees them.
#include <algorithm>
#include <atomic>
#include <thread>
#include <string>
#include <vector>

#include "support/harness.h"
#include "common/host_interface.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <inspect.h>
#endif

namespace quorvtest {
namespace {

using testkit::Rect;

std::string Num(uint32_t value) { return HexId(value); }

class MirrorTest : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
    StartSession();
    const std::vector<HWND> windows = LocalWindows();
    ASSERT_EQ(windows.size(), 1u) << "the session placeholder";
    placeholder_ = windows[0];
    TakeHostMessages();
    TakeSent();
  }

  // CREATE; returns the local window it made, or null when it made none.
  HWND Create(uint32_t id, uint32_t group, uint32_t parent, uint32_t flags) {
    return SendForLocalWindow(testkit::Message({"CREATE", "1", Num(id), Num(group), Num(parent), Num(flags)}));
  }
  void Title(uint32_t id, const std::string &hex) { Send(testkit::Message({"TITLE", "1", Num(id), hex, "0"})); }
  void Title(uint32_t id, const std::u16string &text) { Title(id, testkit::HexTitle(text)); }

  static bool IsTool(HWND hwnd) { return (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0; }
  static bool AtOriginWithoutSize(HWND hwnd) {
    RECT r = {};
    GetWindowRect(hwnd, &r);
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
  }
  static int Count(const std::vector<HostMessage> &messages, UINT message) {
    return static_cast<int>(
        std::count_if(messages.begin(), messages.end(), [&](const HostMessage &m) { return m.message == message; }));
  }
  // Whether `upper` comes before `lower` in the z-order of the top-level windows.
  static bool Above(HWND upper, HWND lower) {
    for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
      if (w == lower) return true;
    return false;
  }

  HWND placeholder_ = nullptr;
};

TEST_F(MirrorTest, CreateMakesAZeroSizePopupForATopLevelWindowAndRaisesTheHost) {
  const HWND window = Create(0x10, 1, 0, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(AtOriginWithoutSize(window));
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) & (WS_POPUP | WS_CAPTION | WS_CHILD),
            static_cast<DWORD>(WS_POPUP));
  EXPECT_FALSE(IsTool(window));
  EXPECT_EQ(WindowText(window), u"") << "named by the record's empty title";
  EXPECT_EQ(GetParent(window), nullptr);

  // The host hears of the change twice (the command and the shape it re-applies), is raised in
  // front of the local window without staying topmost, gets the foreground, and in display mode 0
  // is shown through the accumulated shape, which is still empty.
  const std::vector<HostMessage> posted = TakeHostMessages();
  EXPECT_EQ(Count(posted, WM_USER_WINDOWS_CHANGED), 2);
  for (const HostMessage &m : posted)
    if (m.message == WM_USER_WINDOWS_CHANGED) {
      EXPECT_TRUE(m.wParam == 0 && m.lParam == 0);
    }
  EXPECT_TRUE(Above(host(), window));
  EXPECT_FALSE(GetWindowLongA(host(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(GetForegroundWindow(), host());
  EXPECT_TRUE(IsWindowVisible(host()));
  EXPECT_EQ(RegionDifference(host(), {}), "");

  // Only bit value 2 of the flags makes a tool window: hidden, without a taskbar button.
  uint32_t id = 0x100;
  for (uint32_t flags : {1u, 4u, 0xFFFFFFFDu}) {
    const HWND plain = Create(++id, 1, 0, flags);
    ASSERT_NE(plain, nullptr) << flags;
    EXPECT_TRUE(IsWindowVisible(plain)) << flags;
    EXPECT_FALSE(IsTool(plain)) << flags;
  }
  for (uint32_t flags : {2u, 3u, 0xFFFFFFFFu}) {
    const HWND tool = Create(++id, 1, 0, flags);
    ASSERT_NE(tool, nullptr) << flags;
    EXPECT_FALSE(IsWindowVisible(tool)) << flags;
    EXPECT_TRUE(IsTool(tool)) << flags;
    EXPECT_TRUE(AtOriginWithoutSize(tool)) << flags;
  }
  EXPECT_EQ(LocalWindows().size(), 8u);
}

TEST_F(MirrorTest, RepeatedCreateReusesTheWindowAndAppliesTheNewFlagsAndIds) {
  const HWND window = Create(0x20, 0x1, 0, 0);
  ASSERT_NE(window, nullptr);
  SetWindowPos(window, nullptr, 100, 100, 50, 50, SWP_NOZORDER | SWP_NOACTIVATE);

  EXPECT_EQ(Create(0x20, 0x2, 0, 2), nullptr) << "no second window";
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsTool(window));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_TRUE(AtOriginWithoutSize(window)) << "moved back to the origin with no size";

  EXPECT_EQ(Create(0x20, 0x2, 0, 0), nullptr);
  EXPECT_FALSE(IsTool(window));
  EXPECT_TRUE(IsWindowVisible(window));

  Send("SHOWWINDOW,1,0x20,0");
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(Create(0x20, 0x2, 0, 0), nullptr);
  EXPECT_TRUE(IsWindowVisible(window)) << "CREATE shows a window SHOWWINDOW hid";

  // A parent now: the local window is neither hidden nor destroyed, but the ids are overwritten.
  EXPECT_EQ(Create(0x20, 0x3, 0x77, 0), nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  Send("DESTROYGRP,1,0x1,0");
  Send("DESTROYGRP,1,0x2,0");
  EXPECT_TRUE(IsWindow(window)) << "only the newest group id matches";
  Send("DESTROYGRP,1,0x3,0");
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(MirrorTest, ARecordWithAParentHasNoWindowUntilItBecomesTopLevel) {
  EXPECT_EQ(Create(0x30, 1, 0x20, 0), nullptr);
  const std::vector<HostMessage> posted = TakeHostMessages();
  EXPECT_EQ(Count(posted, WM_USER_WINDOWS_CHANGED), 2) << "the host is still told and reshaped";
  EXPECT_EQ(GetForegroundWindow(), host());
  EXPECT_TRUE(IsWindowVisible(host()));
  EXPECT_EQ(RegionDifference(host(), {}), "");

  // The title goes to the record alone, and to the window made later, whole.
  const std::u16string title = u"\u03a9\u03bc\u03ad\u03b3\u03b1 \u5ba2\u6237\u7aef \U0001F600";
  Title(0x30, title);
  Send("SHOWWINDOW,1,0x30,5");
  EXPECT_EQ(LocalWindows().size(), 1u) << "SHOWWINDOW never creates a window";
  const HWND window = Create(0x30, 1, 0, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowText(window), title);
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(MirrorTest, CreateReusesTheProxyRecordOfANotificationIcon) {
  testkit::NotifyRecord record;
  record.uID = 1;
  record.uFlags = 4;  // NIF_TIP only
  record.tip = u"status";
  Send(testkit::Message(
      {"SYSTRAY", "1", "0x600", "-1", "0", "0", "16", testkit::PackPayload(testkit::NotifyRecordBytes(record))}));
  std::vector<HWND> made = NewLocalWindows({placeholder_});
  ASSERT_EQ(made.size(), 1u);
  const HWND proxy = made[0];
  ASSERT_FALSE(IsWindowVisible(proxy));
  ASSERT_TRUE(IsTool(proxy));

  EXPECT_EQ(Create(0x600, 0x9, 0, 0), nullptr) << "the proxy window is reused";
  EXPECT_TRUE(IsWindowVisible(proxy));
  EXPECT_FALSE(IsTool(proxy));
  Send("DESTROYGRP,1,0,0");
  EXPECT_TRUE(IsWindow(proxy)) << "its group is now 9";
  EXPECT_FALSE(IsWindow(placeholder_));
  Send("DESTROYGRP,1,9,0");
  EXPECT_FALSE(IsWindow(proxy));
}

TEST_F(MirrorTest, DestroyRemovesOneRecordAndNamesAnotherWindowToTheHost) {
  const HWND first = Create(0x10, 1, 0, 0);
  const HWND second = Create(0x20, 1, 0, 0);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(Create(0x30, 1, 0x10, 0), nullptr);
  Send(testkit::Message({"UPDATERGN", "1", testkit::PackPayload(testkit::RegionData({{0, 0, 200, 100}}))}));
  ASSERT_EQ(RegionDifference(host(), {{0, 0, 200, 100}}), "");
  TakeHostMessages();

  Send("DESTROY,1,0x99,0");
  EXPECT_EQ(LocalWindows().size(), 3u);
  EXPECT_TRUE(TakeHostMessages().empty()) << "an unknown id changes nothing";

  Send("DESTROY,1,0x20,0");
  EXPECT_FALSE(IsWindow(second));
  std::vector<HostMessage> posted = TakeHostMessages();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, WM_USER_ACTIVE_WINDOW);
  EXPECT_EQ(posted[0].wParam, reinterpret_cast<WPARAM>(placeholder_)) << "the first other window: the placeholder";
  Send("DESTROY,1,0x20,0");
  EXPECT_TRUE(TakeHostMessages().empty()) << "gone is gone";

#ifndef _WIN32
  winsim::ClearUserCallLog();
#endif
  Send("DESTROY,1,0x30,0");  // a record without a window
  EXPECT_TRUE(IsWindow(first));
  EXPECT_TRUE(TakeHostMessages().empty());
#ifndef _WIN32
  for (const winsim::UserCallRecord &call : winsim::UserCallLog())
    EXPECT_NE(call.call, winsim::UserCall::DestroyWindow) << "no window to destroy";
#endif
  Send("CREATE,1,0x30,1,0,0");
  EXPECT_EQ(LocalWindows().size(), 3u) << "the record was gone: a new one with a new window";

  // Destroying every record, the placeholder last, leaves the host's shape as it was.
  Send("DESTROY,1,0x10,0");
  Send("DESTROY,1,0x30,0");
  Send("DESTROY,1,0,0");
  EXPECT_TRUE(LocalWindows().empty());
  EXPECT_EQ(RegionDifference(host(), {{0, 0, 200, 100}}), "");
  EXPECT_TRUE(IsWindowVisible(host()));
}

TEST_F(MirrorTest, DestroyGroupRemovesExactlyTheMatchedRecordsAndBlanksAnEmptiedMirror) {
  const HWND a = Create(0x10, 5, 0, 0);
  const HWND b = Create(0x20, 6, 0, 0);
  const HWND c = Create(0x30, 5, 0, 0);
  const HWND d = Create(0x80000000u, 5, 0, 0);
  EXPECT_EQ(Create(0x40, 5, 0x10, 0), nullptr);
  ASSERT_TRUE(a && b && c && d);
  const std::vector<Rect> shape = {{10, 10, 50, 50}};
  Send(testkit::Message({"UPDATERGN", "1", testkit::PackPayload(testkit::RegionData(shape))}));

  Send("DESTROYGRP,1,5,0");
  EXPECT_FALSE(IsWindow(a) || IsWindow(c) || IsWindow(d));
  EXPECT_TRUE(IsWindow(b));
  EXPECT_TRUE(IsWindow(placeholder_));
  EXPECT_EQ(RegionDifference(host(), shape), "") << "records remain: the shape stays";
  Send("SHOWWINDOW,1,0x40,0");  // the record without window went too: see the blank host below

  // Group 0 is the placeholder's; the registry still holds group 6.
  Send("DESTROYGRP,1,0,0");
  EXPECT_FALSE(IsWindow(placeholder_));
  EXPECT_EQ(RegionDifference(host(), shape), "");

  // The last record goes: in display mode 0 the host gets an empty shape of its own and the
  // foreground; the accumulated shape is kept for the next update.
  SetForegroundWindow(b);
  Send("DESTROYGRP,1,6,0");
  EXPECT_TRUE(LocalWindows().empty());
  EXPECT_EQ(RegionDifference(host(), {}), "");
  EXPECT_EQ(GetForegroundWindow(), host());
  Send("UPDATERGN,1,");
  EXPECT_EQ(RegionDifference(host(), shape), "");

  // A group no record carries, with the registry already empty, blanks the host all the same.
  Send("DESTROYGRP,1,0x1234,0");
  EXPECT_EQ(RegionDifference(host(), {}), "");
}

TEST_F(MirrorTest, ShowWindowPassesTheCommandOnToTheLocalWindow) {
  const HWND tool = Create(0x10, 1, 0, 2);
  const HWND plain = Create(0x20, 1, 0, 0);
  ASSERT_TRUE(tool && plain);
  Send("SHOWWINDOW,1,0x10,5");
  EXPECT_TRUE(IsWindowVisible(tool)) << "a tool window is shown only by SHOWWINDOW";
  EXPECT_TRUE(IsTool(tool));
  Send("SHOWWINDOW,1,0x20,0");
  EXPECT_FALSE(IsWindowVisible(plain));
  Send("SHOWWINDOW,1,0x20,1");
  EXPECT_TRUE(IsWindowVisible(plain));
  Send("SHOWWINDOW,1,0x20,0");
  Send("SHOWWINDOW,1,0x99,5");
  EXPECT_FALSE(IsWindowVisible(plain)) << "an unknown id reaches no window";
#ifndef _WIN32
  winsim::ClearUserCallLog();
  Send("SHOWWINDOW,1,0x20,0x1234");
  bool passed = false;
  for (const winsim::UserCallRecord &call : winsim::UserCallLog())
    if (call.call == winsim::UserCall::ShowWindow && call.hwnd == plain && call.flags == 0x1234) passed = true;
  EXPECT_TRUE(passed) << "the command is passed on unchecked";
#else
  Send("SHOWWINDOW,1,0x20,0x1234");
#endif
  EXPECT_TRUE(IsWindow(plain));
}

TEST_F(MirrorTest, TitleSetsTheDecodedUtf16Text) {
  const HWND window = Create(0x10, 1, 0, 0);
  ASSERT_NE(window, nullptr);
  struct Case {
    std::string field;
    std::u16string text;
  };
  const Case cases[] = {
      {"004100620063", u"Abc"},
      {"0041006", u""},  // not a multiple of four: the empty title, applied
      {"004100620063", u"Abc"},
      {"004100000042", u"A"},  // the title ends at its first zero unit
      {"00e9", u"\u02e9"},     // lowercase e has the digit value 46
      {"00E9", u"\u00e9"},
      {"zzzz", u"\u7773"},  // every character gives a digit, the sum wraps to 16 bits
      {testkit::HexTitle(u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac"),
       u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac"},
      {testkit::HexTitle(u"\u8fdc\u7a0b\u684c\u9762"), u"\u8fdc\u7a0b\u684c\u9762"},
      {"D83DDE00", u"\U0001F600"},  // a surrogate pair, each unit its own group
  };
  for (const Case &c : cases) {
    Title(0x10, c.field);
    EXPECT_EQ(WindowText(window), c.text) << c.field;
  }
  Title(0x10, std::string());
  EXPECT_EQ(WindowText(window), u"\U0001F600") << "an empty field is ignored";
  Title(0x99, "0042");
  EXPECT_EQ(WindowText(window), u"\U0001F600") << "an unknown id changes nothing";

  std::u16string longTitle;
  for (int i = 0; i < 3000; ++i) longTitle.push_back(static_cast<char16_t>(u'a' + i % 26));
  Title(0x10, longTitle);
  EXPECT_EQ(WindowText(window), longTitle);
  EXPECT_EQ(WindowText(placeholder_), u"");
}

// Titles are cut to 4096 UTF-16 units, never between the two units of a surrogate pair.
TEST_F(MirrorTest, LongTitlesAreCutWithoutSplittingASurrogatePair) {
  const HWND window = Create(0x10, 1, 0, 0);
  ASSERT_NE(window, nullptr);
  std::u16string title;
  for (int i = 0; i < 4096; ++i) title.push_back(static_cast<char16_t>(u'A' + i % 26));
  Title(0x10, title);
  EXPECT_EQ(WindowText(window).size(), 4096u) << "4096 units are kept whole";
  Title(0x10, title + u"Z");
  EXPECT_EQ(WindowText(window), title) << "the 4097th unit is cut";
  std::u16string pair = title.substr(0, 4095) + u"😀" + u"tail";
  Title(0x10, pair);
  EXPECT_EQ(WindowText(window), title.substr(0, 4095)) << "a pair across the cut goes whole";
  pair = title.substr(0, 4094) + u"😀" + u"tail";
  Title(0x10, pair);
  EXPECT_EQ(WindowText(window), title.substr(0, 4094) + u"😀") << "a pair before the cut stays";
  // A title field of several megabytes costs nothing beyond its message.
  Title(0x10, std::string(6 << 20, '0') + "0041");
  EXPECT_EQ(WindowText(window), u"") << "zero units first: the empty title";
}

// A title ends at its first zero unit: what follows is no part of it, so a long tail after the
// zero is not a title cut short (which the log would tell).
using TitleLogTest = AddinTest;

TEST_F(TitleLogTest, ATitleEndsAtItsFirstZeroUnit) {
  EnableLog();
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  const HWND window = SendForLocalWindow("CREATE,1,0x10,1,0,0");
  ASSERT_NE(window, nullptr);
  std::string tail;
  for (int i = 0; i < 5000; ++i) tail += "0043";
  Send("TITLE,1,0x10,00410042" + std::string("0000") + tail + ",0");
  EXPECT_EQ(WindowText(window), u"AB");
  EXPECT_EQ(ReadLog().find("cut to 4096 units"), std::string::npos) << "nothing after the zero unit counts";
  Send("TITLE,1,0x10,00410042" + tail + ",0");
  EXPECT_EQ(WindowText(window).size(), 4096u);
  EXPECT_NE(ReadLog().find("cut to 4096 units"), std::string::npos) << "without the zero unit the title is cut";
}

// A hostile agent cannot take the host's memory or its window quota: at most 4,096 records with a
// local window and 65,536 records in all. A CREATE beyond either is dropped whole.
using CapsTest = AddinTest;

TEST_F(CapsTest, RecordsAndLocalWindowsAreCapped) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());  // no session: nothing to raise, so it is quick
  const auto create = [this](uint32_t id, uint32_t parent) {
    Send("CREATE,1," + std::to_string(id) + ",1," + std::to_string(parent) + ",0");
  };
  for (uint32_t id = 1; id <= 4096; ++id) create(id, 0);
  EXPECT_EQ(LocalWindows().size(), 4096u) << "the 4096th local window is made";
  create(5000, 0);
  EXPECT_EQ(LocalWindows().size(), 4096u) << "the 4097th is not";
  create(1, 0);  // a window that exists is shown again, not made
  EXPECT_EQ(LocalWindows().size(), 4096u);
  // At the cap a CREATE for a known window still changes its record: window 1 becomes a tool window
  // (hidden) of group 42, and goes with that group.
  Send("TITLE,1,1,006F006E0065,0");  // "one": found by its title
  HWND one = nullptr;
  for (HWND w : LocalWindows())
    if (WindowText(w) == u"one") one = w;
  ASSERT_NE(one, nullptr);
  Send("CREATE,1,1,42,0,2");
  EXPECT_FALSE(IsWindowVisible(one)) << "the tool-window flag applied";
  EXPECT_TRUE(GetWindowLongA(one, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  Send("DESTROYGRP,1,42,0");
  EXPECT_FALSE(IsWindow(one)) << "the new group applied";
  EXPECT_EQ(LocalWindows().size(), 4095u);
  create(1, 0);
  ASSERT_EQ(LocalWindows().size(), 4096u);

  for (uint32_t id = 10001; id <= 10000 + 65536 - 4096; ++id) create(id, 7);  // records without window
  create(1, 7);                                                               // a known id is no new record
  Send("DESTROY,1,2,0");                                                      // one window (and record) less
  const std::vector<HWND> before = LocalWindows();
  ASSERT_EQ(before.size(), 4095u);
  create(5000, 7);  // the 65,536th record
  create(5001, 7);  // one too many: dropped whole
  create(5001, 0);  // still no record for it, and none may be made
  EXPECT_EQ(NewLocalWindows(before).size(), 0u);
  create(5000, 0);  // the 65,536th record may have the free window
  EXPECT_EQ(NewLocalWindows(before).size(), 1u);
  Send("DESTROY,1,3,0");
  create(5001, 0);
  EXPECT_EQ(NewLocalWindows(before).size(), 2u) << "room again for a record with a window";
}

TEST_F(MirrorTest, UnloadUnregistersTheClassSoAReloadedAddinCreatesWindows) {
  ASSERT_NE(Create(0x10, 1, 0, 0), nullptr);
  client().Terminate();
  Unload();
  WNDCLASSA found = {};
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "WTSHalvornDummy", &found));
  EXPECT_FALSE(GetClassInfoA(nullptr, "WTSHalvornDummy", &found));
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  const HWND window = Create(0x10, 1, 0, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "WTSHalvornDummy", &found));
}

// Before the first HELLO there is no host frame: CREATE registers the record and makes the window
// but posts nothing, raises nothing and shapes nothing; what the user does is still reported.
using MirrorBeforeSessionTest = AddinTest;

TEST_F(MirrorBeforeSessionTest, CreateLeavesTheHostAloneAndTheFirstHelloClearsIt) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();
  const LONG style = GetWindowLongA(host(), GWL_STYLE);
  Send("CREATE,1,0x40,1,0,0");
  Send("CREATE,1,0x50,1,0,0");
  const std::vector<HWND> windows = LocalWindows();
  ASSERT_EQ(windows.size(), 2u);
  for (HWND w : windows) EXPECT_TRUE(IsWindowVisible(w));
  std::vector<std::string> sent = TakeSentPayloads();
  EXPECT_NE(std::find(sent.begin(), sent.end(), "FOCUS,0x00000040"), sent.end());
  Send("DESTROY,1,0x50,0");
  EXPECT_EQ(LocalWindows().size(), 1u);

  EXPECT_TRUE(TakeHostMessages().empty());
  const std::vector<HostMessage> stray = TakeThreadMessages();
  EXPECT_TRUE(stray.empty()) << stray.size() << " message(s) posted to the thread's own queue, the first 0x" << std::hex
                             << (stray.empty() ? 0 : stray[0].message);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(host(), region), ERROR) << "no region given";
  DeleteObject(region);
  EXPECT_EQ(GetWindowLongA(host(), GWL_STYLE), style);

  // The first HELLO clears what came before it.
  StartSession();
  const std::vector<HWND> after = LocalWindows();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_TRUE(GetWindowLongA(after[0], GWL_EXSTYLE) & WS_EX_TOOLWINDOW) << "only the placeholder is left";
}

// Whether code lives at the address: inside a module that is loaded now.
bool IsLoadedCode(const void *address) {
#ifdef _WIN32
  MEMORY_BASIC_INFORMATION info = {};
  return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT && info.Type == MEM_IMAGE;
#else
  Dl_info info = {};
  return dladdr(address, &info) != 0 && info.dli_fname != nullptr;
#endif
}

// The client delivers channel data on a thread of its own and may unload the add-in from another:
// the windows cannot be destroyed from there and close later on their own thread. The class they
// leave behind must not point at the unloaded code, or the next load creates windows through it.
TEST_F(MirrorBeforeSessionTest, UnloadFromAnotherThreadLeavesNoClassPointingAtUnloadedCode) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  std::atomic<HWND> made{nullptr};
  std::atomic<bool> unloaded{false};
  std::atomic<bool> quit{false};
  std::thread channel([&] {
    Send("CREATE,1,0x10,1,0,0");
    const std::vector<HWND> windows = LocalWindows();
    MSG msg;
    // What the creation queued is handled first. While the library is unloaded this thread runs
    // none of its code: no host can unload a library while another thread is inside it (and on
    // Windows a dispatch then in progress crashes however the library leaves its windows).
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    made = windows.empty() ? reinterpret_cast<HWND>(1) : windows[0];
    while (!unloaded) Sleep(1);
    while (!quit) {
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      Sleep(1);
    }
  });
  while (!made) Sleep(1);
  const HWND window = made;
#ifdef _WIN32
  // The address range the add-in occupied, kept taken after the unload so that the next load goes
  // elsewhere and a stale class cannot reach the new code by chance.
  const HMODULE oldModule = GetModuleHandleA("quorv.dll");
  ASSERT_NE(oldModule, nullptr);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(oldModule);
  const auto *nt =
      reinterpret_cast<const IMAGE_NT_HEADERS *>(reinterpret_cast<const char *>(oldModule) + dos->e_lfanew);
  const SIZE_T imageSize = nt->OptionalHeader.SizeOfImage;
#endif
  client().Terminate();
  Unload();
#ifdef _WIN32
  void *reserved = VirtualAlloc(oldModule, imageSize, MEM_RESERVE, PAGE_NOACCESS);
#endif
  unloaded = true;
  for (int i = 0; i < 5000 && IsWindow(window); ++i) Sleep(1);
  quit = true;
  channel.join();
  EXPECT_FALSE(IsWindow(window)) << "closed on its own thread";

  WNDCLASSA left = {};
  if (GetClassInfoA(GetModuleHandleA(nullptr), "WTSHalvornDummy", &left)) {
    EXPECT_TRUE(IsLoadedCode(reinterpret_cast<const void *>(left.lpfnWndProc)))
        << "the class still calls the unloaded add-in";
  }

  // Loaded again: the class its windows get is its own, and they work.
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  if (GetClassInfoA(GetModuleHandleA(nullptr), "WTSHalvornDummy", &left)) {
    ASSERT_TRUE(IsLoadedCode(reinterpret_cast<const void *>(left.lpfnWndProc)))
        << "CREATE would run the unloaded add-in's code";
  }
  Send("CREATE,1,0x20,1,0,0");
#ifdef _WIN32
  const std::vector<HWND> created = LocalWindows();
  ASSERT_EQ(created.size(), 1u);
  MEMORY_BASIC_INFORMATION info = {};
  VirtualQuery(reinterpret_cast<const void *>(GetClassLongPtrA(created[0], GCLP_WNDPROC)), &info, sizeof info);
  EXPECT_EQ(info.AllocationBase, GetModuleHandleA("quorv.dll"));
  if (reserved) VirtualFree(reserved, 0, MEM_RELEASE);
#endif
  const std::vector<HWND> windows = LocalWindows();
  ASSERT_EQ(windows.size(), 1u);
  StartNewSecond();
  TakeSent();
  SendMessageA(windows[0], WM_SETFOCUS, 0, 0);
  EXPECT_EQ(TakeSentPayloads(), std::vector<std::string>{"FOCUS,0x00000020"});
}

}  // namespace
}  // namespace quorvtest
