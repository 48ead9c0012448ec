// The library's attach and detach, and window-procedure state that must go with its window, driven
// directly on the add-in linked into the test program.
#include <gtest/gtest.h>

#include <windows.h>

#include "channel/entry.h"
#include "client.h"
#include "mirror/window_data.h"
#include "session/window_proc.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <ctime>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept;

namespace {

// At process termination other threads and their windows may be gone already: the detach leaves
// the window manager alone. An unload (no reserved pointer) takes everything down.
TEST(Lifecycle, TheDetachAtProcessTerminationLeavesTheWindowsAlone) {
  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  CWindowData *record = AddNewWindowData(0x42);
  ASSERT_NE(record, nullptr);
  CreateLocalWindow(record);
  const HWND hwnd = record->m_hWnd;
  ASSERT_TRUE(IsWindow(hwnd));
  DllMain(nullptr, DLL_PROCESS_DETACH, reinterpret_cast<LPVOID>(1));
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(FindWindowData(0x42), record);
  DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(FindWindowData(0x42), nullptr);
}

// Handles of destroyed windows come back for new windows: a focus event for the new window must
// not be taken for a repeat of one that the old window had in the same second.
TEST(Lifecycle, AWindowsFocusDebounceGoesWithIt) {
  testkit::StandInClient &client = testkit::StandInClient::Get();
  client.UseEntry(VirtualChannelEntry);
  ASSERT_TRUE(client.CallEntry());
  client.Connect();
  CWindowData *record = AddNewWindowData(0x51);
  ASSERT_NE(record, nullptr);
  const HWND reused = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x5150));  // no real window needed
  BindLocalWindow(record, reused);
#ifndef _WIN32
  winsim::SetCalendarTime(1700000000);
#else
  for (const time_t start = time(nullptr); time(nullptr) == start;) Sleep(1);
#endif
  LocalWindowProc(reused, WM_SETFOCUS, 0, 0);
  LocalWindowProc(reused, WM_DESTROY, 0, 0);
  LocalWindowProc(reused, WM_SETFOCUS, 0, 0);
  EXPECT_EQ(client.Sent(), (std::vector<std::string>{"FOCUS,0,0x00000051", "FOCUS,1,0x00000051"}));
  BindLocalWindow(record, nullptr);
  DestroyAllWindowData();
  client.Terminate();
  client.ClearWrites();
}

}  // namespace
