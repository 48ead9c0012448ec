// Showing, raising and hiding top-level windows: which window becomes active, which messages that
// sends (synchronously, in order) and where windows go in the z-order. The add-in's window
// procedure reports activation, so these sequences are what it sees. Runs on winsim and under Wine.
#include "platform_util.h"

#ifndef _WIN32
#include <inspect.h>
#endif

using namespace platformtest;

namespace {

// Only the activation and focus messages.
std::vector<Event> TakeActivation() {
  std::vector<Event> result;
  for (const Event &e : TakeEvents())
    if (e.message == WM_ACTIVATE || e.message == WM_SETFOCUS || e.message == WM_KILLFOCUS) result.push_back(e);
  return result;
}

std::vector<Event> Switch(HWND from, HWND to) {
  return {Ev(from, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(to)),
          Ev(to, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(from)), Ev(from, WM_KILLFOCUS, to),
          Ev(to, WM_SETFOCUS, from)};
}

}  // namespace

TEST(Activation, ShowingHidingAndDestroyingMoveTheActiveWindow) {
  HWND a = MakeWindow(WS_POPUP);
  HWND b = MakeWindow(WS_POPUP);
  HWND c = MakeWindow(WS_POPUP);
  EXPECT_FALSE(ShowWindow(a, SW_SHOW));  // previously hidden
  EXPECT_EQ(GetActiveWindow(), a);
  EXPECT_EQ(GetForegroundWindow(), a);
  EXPECT_EQ(GetFocus(), a);

  TakeEvents();
  ShowWindow(b, SW_SHOWNORMAL);
  EXPECT_EQ(TakeActivation(), Switch(a, b));
  EXPECT_EQ(GetActiveWindow(), b);

  // Showing a window that is already visible changes nothing; neither do the no-activate forms.
  EXPECT_TRUE(ShowWindow(a, SW_SHOW));
  EXPECT_TRUE(ShowWindow(a, SW_SHOWNORMAL));
  ShowWindow(c, SW_SHOWNA);
  EXPECT_TRUE(IsWindowVisible(c));
  EXPECT_EQ(TakeActivation(), std::vector<Event>{});
  EXPECT_EQ(GetActiveWindow(), b);

  // Raising activates unless told not to.
  SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(TakeActivation(), std::vector<Event>{});
  SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(TakeActivation(), Switch(b, a));

  // Hiding the active window activates the next visible window below it in the z-order.
  EXPECT_EQ(Only(ZOrder(a), {a, b, c}), (std::vector<HWND>{a, c, b}));
  EXPECT_TRUE(ShowWindow(a, SW_HIDE));
  EXPECT_EQ(TakeActivation(), Switch(a, c));
  EXPECT_EQ(GetActiveWindow(), c);
  EXPECT_FALSE(ShowWindow(a, SW_HIDE));  // already hidden

  EXPECT_TRUE(SetForegroundWindow(b));
  EXPECT_EQ(TakeActivation(), Switch(c, b));
  EXPECT_TRUE(SetForegroundWindow(b));
  EXPECT_EQ(TakeActivation(), std::vector<Event>{});
  SetLastError(0);
  EXPECT_FALSE(SetForegroundWindow(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

  // Destroying the active window activates another before the window gets WM_DESTROY, and it is
  // no longer visible by then.
  DestroyWindow(b);
  std::vector<Event> expected = Switch(b, c);
  expected.push_back(Ev(b, WM_DESTROY));
  std::vector<Event> seen;
  for (const Event &e : TakeEvents())
    if (e.message != WM_NCDESTROY) seen.push_back(e);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(GetActiveWindow(), c);

  // Minimizing keeps the window active but takes the focus away.
  ShowWindow(c, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(c));
  EXPECT_EQ(GetActiveWindow(), c);
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(TakeActivation(), (std::vector<Event>{Ev(c, WM_KILLFOCUS, nullptr)}));
}

TEST(Activation, FocusInAChildMovesWithItsWindow) {
  HWND top = MakeWindow(WS_POPUP | WS_VISIBLE);
  HWND child = MakeWindow(WS_CHILD | WS_VISIBLE, top);
  HWND other = MakeWindow(WS_POPUP);
  ShowWindow(other, SW_SHOWNOACTIVATE);
  EXPECT_EQ(GetActiveWindow(), top);
  TakeEvents();
  EXPECT_EQ(SetFocus(child), top);
  EXPECT_EQ(TakeActivation(), (std::vector<Event>{Ev(top, WM_KILLFOCUS, child), Ev(child, WM_SETFOCUS, top)}));
  DestroyWindow(top);
  std::vector<Event> expected = {Ev(top, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(other)),
                                 Ev(other, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(top)),
                                 Ev(child, WM_KILLFOCUS, other), Ev(other, WM_SETFOCUS, child)};
  EXPECT_EQ(TakeActivation(), expected);
  EXPECT_EQ(GetFocus(), other);
}

TEST(ZOrder, TopmostBandAndInsertAfter) {
  HWND a = MakeWindow(WS_POPUP | WS_VISIBLE);
  HWND pinned = MakeWindow(WS_POPUP | WS_VISIBLE, nullptr, WS_EX_TOPMOST);
  HWND b = MakeWindow(WS_POPUP | WS_VISIBLE);
  std::vector<HWND> mine = {a, b, pinned};
  // A new window goes on top of the windows that are not topmost.
  EXPECT_EQ(Only(ZOrder(a), mine), (std::vector<HWND>{pinned, b, a}));

  // What the add-in does to bring a window to the front of the ordinary windows: it passes
  // through the topmost band, and is activated on the way.
  TakeEvents();
  SetWindowPos(a, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(Only(ZOrder(a), mine), (std::vector<HWND>{a, pinned, b}));
  EXPECT_NE(GetWindowLongA(a, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_EQ(GetActiveWindow(), a);
  SetWindowPos(a, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(Only(ZOrder(a), mine), (std::vector<HWND>{pinned, a, b}));
  EXPECT_EQ(GetWindowLongA(a, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

  // HWND_TOP keeps a window below the topmost band; HWND_BOTTOM takes it out of the band.
  SetWindowPos(b, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(Only(ZOrder(a), mine), (std::vector<HWND>{pinned, b, a}));
  SetWindowPos(b, pinned, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(GetWindowLongA(b, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  SetWindowPos(pinned, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(GetWindowLongA(pinned, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_EQ(GetWindow(pinned, GW_HWNDNEXT), nullptr);

  SetLastError(0);
  DestroyWindow(pinned);
  EXPECT_FALSE(SetWindowPos(pinned, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

#ifndef _WIN32
TEST(ZOrder, CallLogKeepsTheOrderOfCalls) {
  HWND a = MakeWindow(WS_POPUP);
  winsim::ClearUserCallLog();
  ShowWindow(a, SW_SHOWNORMAL);
  SetWindowPos(a, HWND_TOP, 1, 2, 3, 4, SWP_NOREDRAW);
  SetForegroundWindow(a);
  std::vector<winsim::UserCallRecord> log = winsim::UserCallLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].call, winsim::UserCall::ShowWindow);
  EXPECT_EQ(log[0].flags, static_cast<UINT>(SW_SHOWNORMAL));
  EXPECT_EQ(log[1].call, winsim::UserCall::SetWindowPos);
  EXPECT_EQ(log[1].cx, 3);
  EXPECT_EQ(log[1].flags, static_cast<UINT>(SWP_NOREDRAW));
  EXPECT_EQ(log[2].call, winsim::UserCall::SetForegroundWindow);
  EXPECT_EQ(log[2].hwnd, a);
}
#endif
