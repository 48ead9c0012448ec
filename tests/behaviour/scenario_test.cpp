// One whole session as an agent plays it, checked phase by phase and against the desktop it
// leaves: the local windows, their styles and texts, the host frame window's shape, and every
// message posted to the host and sent to the agent.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/harness.h"
#include "common/host_interface.h"

namespace quorvtest {
namespace {

using testkit::Rect;

class ScenarioTest : public AddinTest {
 protected:
  std::string Shape(const std::vector<Rect> &rects) {
    return testkit::Message({"UPDATERGN", "1", testkit::PackPayload(testkit::RegionData(rects))});
  }
  std::string TitleMessage(uint32_t id, const std::u16string &text) {
    return testkit::Message({"TITLE", "1", HexId(id), testkit::HexTitle(text), "0"});
  }
  // What the agent was sent since the last call; FOCUS reports of `activated` (the windows that a
  // command showed, which the platform may or may not activate) are counted apart.
  std::vector<std::string> Sent(const std::set<uint32_t> &activated = {}) {
    std::vector<std::string> rest;
    for (const std::string &text : TakeSent()) {
      all_.push_back(text);
      const size_t first = text.find(','), second = text.find(',', first + 1);
      const std::string payload = text.substr(0, first) + text.substr(second);
      bool fromShowing = false;
      for (uint32_t id : activated) fromShowing = fromShowing || payload == "FOCUS," + HexId(id);
      if (!fromShowing) rest.push_back(payload);
    }
    return rest;
  }
  // What the host was posted since the last call, activation notices of `activated` aside.
  std::vector<std::pair<UINT, WPARAM>> Posted(const std::set<HWND> &activated = {}) {
    std::vector<std::pair<UINT, WPARAM>> rest;
    for (const HostMessage &m : TakeHostMessages()) {
      EXPECT_EQ(m.hwnd, host());
      EXPECT_EQ(m.lParam, 0);
      if (m.message == WM_USER_ACTIVE_WINDOW && activated.count(reinterpret_cast<HWND>(m.wParam))) continue;
      rest.push_back({m.message, m.wParam});
    }
    return rest;
  }

  std::vector<std::string> all_;
};

using Posts = std::vector<std::pair<UINT, WPARAM>>;
using Texts = std::vector<std::string>;

TEST_F(ScenarioTest, AWholeSessionLeavesTheDesktopAsTheAgentDescribedIt) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  CreateHostFrame();

  // The greeting: the host frame is taken over, the placeholder named to it.
  Send("HELLO,1,2");
  const std::vector<HWND> first = LocalWindows();
  ASSERT_EQ(first.size(), 1u);
  const HWND placeholder = first[0];
  EXPECT_EQ(Posted({placeholder}), (Posts{{WM_USER_PLACEHOLDER_WINDOW, reinterpret_cast<WPARAM>(placeholder)}}));
  EXPECT_EQ(Sent({0}), Texts{});
  Send("SYNCBEGIN");

  // Four remote windows: an editor, its tool palette, a dialog it owns, and a second application.
  const HWND editor = SendForLocalWindow("CREATE,2,0x1001,0x10,0,0");
  const HWND palette = SendForLocalWindow("CREATE,3,0x1002,0x10,0,2");
  const HWND dialog = SendForLocalWindow("CREATE,4,0x1003,0x10,0x1001,1");
  const HWND mail = SendForLocalWindow("CREATE,5,0x2001,0x20,0,0");
  ASSERT_TRUE(editor && palette && mail);
  EXPECT_EQ(dialog, nullptr) << "an owned window has no local window";
  const std::set<HWND> shown = {editor, palette, mail, placeholder};
  EXPECT_EQ(Posted(shown), Posts(8, {WM_USER_WINDOWS_CHANGED, 0}));
  EXPECT_EQ(Sent({0x1001, 0x1002, 0x2001, 0}), Texts{});
  Send("SYNCEND");
  Send("ZCHANGE,6,0x1001,0x2001,0,0");
  Send("HEARTBEAT");
  Send("ACK,7,1");

  // Titles in several scripts, one of them for the owned window only.
  Send(TitleMessage(0x1001, u"\u0395\u03b3\u03b3\u03c1\u03b1\u03c6\u03bf - Editor"));
  Send(TitleMessage(0x1002, u"\u5de5\u5177"));
  Send(TitleMessage(0x1003, u"Save as \U0001F4BE"));
  Send(TitleMessage(0x2001, u"R\u00e9sum\u00e9 \u2014 Mail"));
  Send(TitleMessage(0x2001, u"Inbox \u2014 \u0645\u0631\u062d\u0628\u0627"));

  // Shapes: the editor, the mail window, the palette; changes combine by exclusive or.
  const Rect editorRect{0, 0, 400, 300}, mailRect{500, 100, 900, 400}, paletteRect{400, 0, 450, 60};
  Send(Shape({editorRect, mailRect}));
  Send(Shape({paletteRect}));
  EXPECT_EQ(Posted(), Posts(2, {WM_USER_WINDOWS_CHANGED, 0}));
  EXPECT_TRUE(IsWindowVisible(host())) << "the first shape shows the host";
  EXPECT_EQ(Sent(), Texts{});

  // The user clicks the editor's and the mail window's taskbar buttons, then asks for the mail
  // window's system menu.
  StartNewSecond();
  Sent();
  Posted();
  SendMessageA(editor, WM_ACTIVATE, WA_ACTIVE, 0);
  SendMessageA(editor, WM_SETFOCUS, 0, 0);
  SendMessageA(mail, WM_ACTIVATE, WA_CLICKACTIVE, 0);
  SendMessageA(mail, WM_SYSMENU_REQUEST, 0, MAKELPARAM(1200, 1000));
  EXPECT_EQ(Sent(), (Texts{"FOCUS,0x00001001", "FOCUS,0x00002001",
                           "WNDMSG,0x00002001,787,0," + std::to_string(MAKELPARAM(1200, 1000))}));
  EXPECT_EQ(Posted(), (Posts{{WM_USER_ACTIVE_WINDOW, reinterpret_cast<WPARAM>(editor)},
                             {WM_USER_ACTIVE_WINDOW, reinterpret_cast<WPARAM>(mail)}}));
  EXPECT_EQ(GetForegroundWindow(), host());

  // The palette is shown, the mail window hidden; the editor closes and its shape goes.
  Send("SHOWWINDOW,8,0x1002,5");
  Send("SHOWWINDOW,9,0x2001,0");
  EXPECT_EQ(Sent({0x1002}), Texts{});
  Posted({palette});
  Send("DESTROY,10,0x1001,0");
  Send(Shape({editorRect}));
  EXPECT_EQ(Posted(),
            (Posts{{WM_USER_ACTIVE_WINDOW, reinterpret_cast<WPARAM>(placeholder)}, {WM_USER_WINDOWS_CHANGED, 0}}));

  // The editor's application ends: its group goes, palette and dialog with it.
  Send("DESTROYGRP,11,0x10,0");
  EXPECT_EQ(Posted(), (Posts{{WM_USER_ACTIVE_WINDOW, reinterpret_cast<WPARAM>(placeholder)}}));
  EXPECT_EQ(Sent(), Texts{});

  // The desktop now: the placeholder and the hidden mail window.
  std::vector<HWND> left = LocalWindows();
  std::sort(left.begin(), left.end());
  std::vector<HWND> expected = {placeholder, mail};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_FALSE(IsWindow(editor));
  EXPECT_FALSE(IsWindow(palette));
  EXPECT_EQ(WindowText(mail), u"Inbox \u2014 \u0645\u0631\u062d\u0628\u0627");
  EXPECT_FALSE(IsWindowVisible(mail));
  EXPECT_FALSE(GetWindowLongA(mail, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_EQ(WindowText(placeholder), u"");
  EXPECT_TRUE(IsWindowVisible(placeholder));
  EXPECT_TRUE(GetWindowLongA(placeholder, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  for (HWND w : left) {
    RECT r = {};
    GetWindowRect(w, &r);
    EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)) & (WS_POPUP | WS_CAPTION), static_cast<DWORD>(WS_POPUP));
  }

  // The host frame: no caption, no taskbar button, shown, and cut to the shapes that remain
  // (the palette's stays until the agent takes it back).
  EXPECT_TRUE(IsWindowVisible(host()));
  EXPECT_EQ(GetWindowLongA(host(), GWL_STYLE) & WS_CAPTION, 0);
  EXPECT_TRUE(GetWindowLongA(host(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(GetWindowLongA(plainChild(), GWL_STYLE) & WS_VISIBLE);
  EXPECT_TRUE(GetWindowLongA(atlChild(), GWL_STYLE) & WS_VISIBLE);
  HRGN want = CreateRectRgn(0, 0, 0, 0);
  for (const Rect &r : {editorRect, mailRect, paletteRect, editorRect}) {
    HRGN part = CreateRectRgn(r.left, r.top, r.right, r.bottom);
    CombineRgn(want, want, part, RGN_XOR);
    DeleteObject(part);
  }
  HRGN have = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(GetWindowRgn(host(), have), ERROR);
  EXPECT_TRUE(EqualRgn(have, want));
  DeleteObject(have);
  DeleteObject(want);

  // Every message to the agent went out in one numbered sequence.
  Sent();
  for (size_t i = 0; i < all_.size(); ++i) {
    const size_t first = all_[i].find(',');
    EXPECT_EQ(all_[i].substr(first + 1, all_[i].find(',', first + 1) - first - 1), std::to_string(i)) << all_[i];
  }

  // The last application ends: the mirror is empty and the host is blanked.
  Send("DESTROYGRP,12,0x20,0");
  Send("DESTROYGRP,13,0,0");
  EXPECT_TRUE(LocalWindows().empty());
  EXPECT_EQ(RegionDifference(host(), {}), "");
  EXPECT_EQ(GetForegroundWindow(), host());
}

}  // namespace
}  // namespace quorvtest
