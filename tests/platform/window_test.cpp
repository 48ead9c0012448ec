// Window classes, creation and destruction, text and the window tree: the Win32 behaviour the
// add-in's local windows and its session start rely on. Runs on winsim and under Wine.
#include "platform_util.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <cstring>

using namespace platformtest;

#define WSTR(s) reinterpret_cast<LPCWSTR>(u"" s)

TEST(Classes, RegisterTwiceFailsAndUnregisterWaitsForTheWindows) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = RecordingProcA;
  wc.lpszClassName = "TwiceClass";
  ASSERT_NE(RegisterClassA(&wc), 0);
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

  // Class names are case-insensitive.
  HWND hwnd = CreateWindowExA(0, "twiceclass", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  char name[8];
  EXPECT_EQ(GetClassNameA(hwnd, name, sizeof name), 7);  // truncated, terminator included in the count
  EXPECT_STREQ(name, "TwiceCl");

  SetLastError(0);
  EXPECT_FALSE(UnregisterClassA("TwiceClass", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  EXPECT_TRUE(DestroyWindow(hwnd));
  EXPECT_TRUE(UnregisterClassA("TwiceClass", nullptr));
  SetLastError(0);
  EXPECT_EQ(CreateWindowExA(0, "TwiceClass", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

namespace {
int g_replacedCalls = 0;
LRESULT CALLBACK ReplacedProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) ++g_replacedCalls;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}
}  // namespace

// What an add-in unloading with windows still alive relies on: the class procedure can be
// replaced, later windows get the new one, existing windows keep theirs.
TEST(Classes, ClassProcedureChangesOnlyLaterWindows) {
  HWND before = MakeWindow(WS_POPUP);
  const LONG_PTR replacement = reinterpret_cast<LONG_PTR>(ReplacedProc);
  EXPECT_EQ(static_cast<ULONG_PTR>(SetClassLongPtrA(before, GCLP_WNDPROC, replacement)),
            reinterpret_cast<ULONG_PTR>(RecordingProcA));
  HWND after = MakeWindow(WS_POPUP);
  SendMessageA(before, WM_USER, 0, 0);
  SendMessageA(after, WM_USER, 0, 0);
  EXPECT_EQ(g_replacedCalls, 1);
  WNDCLASSA info = {};
  EXPECT_FALSE(GetClassInfoA(nullptr, kClassA, &info));  // no instance: system classes only
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), kClassA, &info));
  EXPECT_EQ(info.lpfnWndProc, ReplacedProc);
  EXPECT_EQ(static_cast<ULONG_PTR>(GetClassLongPtrA(after, GCLP_WNDPROC)), static_cast<ULONG_PTR>(replacement));
  SetClassLongPtrA(before, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProcA));
  SetLastError(0);
  EXPECT_TRUE(GetClassInfoA(nullptr, "static", &info));
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "NoSuchClass", &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST(Windows, StylesAsWindowsReportsThem) {
  HWND popup = MakeWindow(WS_POPUP | WS_VISIBLE);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(popup, GWL_STYLE)),
            static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS));
  EXPECT_EQ(GetWindowLongA(popup, GWL_EXSTYLE), 0);

  HWND frame = MakeWindow(WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)),
            static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS));
  EXPECT_EQ(GetWindowLongA(frame, GWL_EXSTYLE), WS_EX_WINDOWEDGE);
  // The session start's restyling: topmost cannot be set this way, the edge follows the frame.
  SetWindowLongA(frame, GWL_EXSTYLE, GetWindowLongA(frame, GWL_EXSTYLE) | WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  EXPECT_EQ(GetWindowLongA(frame, GWL_EXSTYLE), WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE);
  LONG previous = SetWindowLongA(frame, GWL_STYLE, static_cast<LONG>(GetWindowLongA(frame, GWL_STYLE) & 0xFF3FFFFF));
  EXPECT_EQ(static_cast<DWORD>(previous), static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS));
  EXPECT_EQ(GetWindowLongA(frame, GWL_STYLE) & WS_CAPTION, 0);

  SetLastError(0);
  EXPECT_EQ(GetWindowLongA(popup, -100), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  HWND gone = MakeWindow(WS_POPUP);
  DestroyWindow(gone);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongA(gone, GWL_STYLE), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(IsWindow(gone));
}

TEST(Windows, TextThroughAnsiAndUnicodeProcedures) {
  HWND ansi = MakeWindow(WS_POPUP, nullptr, 0, "initial");
  HWND wide = MakeWindow(WS_POPUP, nullptr, 0, "initial", kClassW);
  WCHAR buffer[16];
  ASSERT_EQ(InternalGetWindowText(ansi, buffer, 16), 7);

  // U+4E2D is outside the ANSI code page: the ANSI procedure stores '?'.
  const char16_t text[] = {u'A', 0x4E2D, 0x00E9, u'B', 0};
  EXPECT_TRUE(SetWindowTextW(ansi, reinterpret_cast<LPCWSTR>(text)));
  ASSERT_EQ(InternalGetWindowText(ansi, buffer, 16), 4);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t *>(buffer)), u"A?\u00e9B");
  EXPECT_EQ(GetWindowTextW(ansi, buffer, 16), 4);
  EXPECT_EQ(GetWindowTextLengthW(ansi), 4);
  EXPECT_EQ(GetWindowTextW(ansi, buffer, 3), 2);  // nMaxCount counts the terminator
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t *>(buffer)), u"A?");

  EXPECT_TRUE(SetWindowTextW(wide, reinterpret_cast<LPCWSTR>(text)));
  ASSERT_EQ(InternalGetWindowText(wide, buffer, 16), 4);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t *>(buffer)), std::u16string(text));
  char narrow[16];
  EXPECT_EQ(GetWindowTextA(wide, narrow, sizeof narrow), 4);
  EXPECT_STREQ(narrow,
               "A?\xe9"
               "B");
  EXPECT_EQ(InternalGetWindowText(wide, buffer, 2), 1);
  EXPECT_EQ(buffer[0], 'A');
  EXPECT_EQ(buffer[1], 0);

  std::memset(narrow, 'x', sizeof narrow);
  EXPECT_EQ(GetWindowTextA(ansi, narrow, 3), 2);
  EXPECT_STREQ(narrow, "A?");
  std::memset(narrow, 'x', sizeof narrow);
  EXPECT_EQ(GetWindowTextA(ansi, narrow, 0), 0);
  EXPECT_EQ(narrow[0], 'x');  // nothing written

  EXPECT_TRUE(SetWindowTextA(wide, "\xe9z"));
  ASSERT_EQ(InternalGetWindowText(wide, buffer, 16), 2);
  EXPECT_EQ(buffer[0], 0x00E9);
  EXPECT_TRUE(SetWindowTextA(ansi, nullptr));
  EXPECT_EQ(GetWindowTextLengthA(ansi), 0);
}

TEST(Windows, IconsPerSlotAndCloseDestroys) {
  HWND hwnd = MakeWindow(WS_POPUP);
  HICON first = reinterpret_cast<HICON>(0x1110), second = reinterpret_cast<HICON>(0x2220);
  EXPECT_EQ(SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(first)), 0);
  EXPECT_EQ(SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(second)),
            reinterpret_cast<LRESULT>(first));
  EXPECT_EQ(SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(first)), 0);
  EXPECT_EQ(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0), reinterpret_cast<LRESULT>(second));
  EXPECT_EQ(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(first));
  SendMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST(Windows, DestroySendsDestroyThenChildrenThenNcDestroy) {
  HWND parent = MakeWindow(WS_POPUP);
  HWND child1 = MakeWindow(WS_CHILD, parent);
  HWND child2 = MakeWindow(WS_CHILD, parent);
  HWND owned = MakeWindow(WS_POPUP, parent);
  // Children are kept in creation order; an owned pop-up names its owner as parent.
  EXPECT_EQ(GetWindow(parent, GW_CHILD), child1);
  EXPECT_EQ(GetWindow(child1, GW_HWNDNEXT), child2);
  EXPECT_EQ(GetWindow(child2, GW_HWNDNEXT), nullptr);
  EXPECT_EQ(GetParent(child1), parent);
  EXPECT_EQ(GetParent(owned), parent);
  EXPECT_EQ(GetWindow(owned, GW_OWNER), parent);
  EXPECT_EQ(GetParent(parent), nullptr);

  // Destroying child2 from the parent's WM_DESTROY: it is gone before its turn comes.
  DestroyAlsoOnDestroy() = {parent, child2};
  TakeEvents();
  EXPECT_TRUE(DestroyWindow(parent));
  std::vector<Event> expected = {Ev(owned, WM_DESTROY),    Ev(owned, WM_NCDESTROY),  Ev(parent, WM_DESTROY),
                                 Ev(child2, WM_DESTROY),   Ev(child2, WM_NCDESTROY), Ev(child1, WM_DESTROY),
                                 Ev(child1, WM_NCDESTROY), Ev(parent, WM_NCDESTROY)};
  EXPECT_EQ(TakeEvents(), expected);
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(child1));
  EXPECT_FALSE(IsWindow(owned));

  SetLastError(0);
  EXPECT_FALSE(DestroyWindow(parent));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

namespace {
std::vector<HWND> g_enumerated;
BOOL CALLBACK Collect(HWND hwnd, LPARAM limit) {
  g_enumerated.push_back(hwnd);
  return g_enumerated.size() < static_cast<size_t>(limit);
}
}  // namespace

TEST(Windows, TreeEnumerationAndGeometry) {
  HWND a = MakeWindow(WS_POPUP);
  HWND b = MakeWindow(WS_POPUP);
  HWND topmost = MakeWindow(WS_POPUP, nullptr, WS_EX_TOPMOST);
  HWND c = MakeWindow(WS_POPUP);
  EnumWindows(Collect, 1000);
  EXPECT_EQ(Only(g_enumerated, {a, b, c, topmost}), (std::vector<HWND>{topmost, c, b, a}));
  g_enumerated.clear();
  EXPECT_FALSE(EnumWindows(Collect, 2));  // stopped by the callback
  EXPECT_EQ(g_enumerated.size(), 2u);

  DWORD process = 0;
  EXPECT_EQ(GetWindowThreadProcessId(a, &process), GetCurrentThreadId());
  EXPECT_EQ(process, GetCurrentProcessId());

  EXPECT_TRUE(MoveWindow(a, 0, 40, 1920, 1080, FALSE));
  RECT rect;
  GetWindowRect(a, &rect);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 40);
  EXPECT_EQ(rect.right, 1920);
  EXPECT_EQ(rect.bottom, 1120);
  GetClientRect(a, &rect);
  EXPECT_EQ(rect.right, 1920);
  EXPECT_EQ(rect.bottom, 1080);
  SetWindowPos(a, nullptr, 40000, -40000, 50000, -5, SWP_NOZORDER | SWP_NOACTIVATE);
  GetWindowRect(a, &rect);
  EXPECT_EQ(rect.left, 32767);
  EXPECT_EQ(rect.top, -32768);
  EXPECT_EQ(rect.right - rect.left, 32767);
  EXPECT_EQ(rect.bottom, -32768);

  HWND child = MakeWindow(WS_CHILD, b);
  SetWindowPos(child, nullptr, 5, 6, 7, 8, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(b, nullptr, 100, 200, 50, 50, SWP_NOZORDER | SWP_NOACTIVATE);
  GetWindowRect(child, &rect);
  EXPECT_EQ(rect.left, 105);
  EXPECT_EQ(rect.top, 206);
  EXPECT_EQ(rect.right, 112);
  EXPECT_EQ(rect.bottom, 214);

  // Visible only when every ancestor is.
  ShowWindow(child, SW_SHOW);
  EXPECT_FALSE(IsWindowVisible(child));
  EXPECT_NE(GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE, 0);
  ShowWindow(b, SW_SHOWNA);
  EXPECT_TRUE(IsWindowVisible(child));
}

#ifndef _WIN32
TEST(Windows, AnotherProcessWindow) {
  RECT rect = {0, 0, 100, 100};
  HWND foreign = winsim::CreateForeignWindow("Frame", WSTR("Other host"), WS_POPUP | WS_VISIBLE, 0, rect, 4242);
  DWORD process = 0;
  EXPECT_NE(GetWindowThreadProcessId(foreign, &process), GetCurrentThreadId());
  EXPECT_EQ(process, 4242u);
  char title[32];
  EXPECT_EQ(GetWindowTextA(foreign, title, sizeof title), 10);
  EXPECT_STREQ(title, "Other host");
  SetLastError(0);
  EXPECT_FALSE(DestroyWindow(foreign));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  size_t windows = winsim::LiveObjectCount(winsim::ObjectKind::Window);
  HWND own = MakeWindow(WS_POPUP);
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Window), windows + 1);
  DestroyWindow(own);
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Window), windows);
}
#endif
