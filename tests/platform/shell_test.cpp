// The notification area: icons keyed by window and identifier, the record sizes the shell reads,
// and the callback a click sends. The table and the click are winsim's inspection; the results
// of the shell calls run on winsim and under Wine.
#include "platform_util.h"

#include <shellapi.h>

#ifndef _WIN32
#include <inspect.h>
#endif

#include <cstring>

using namespace platformtest;

namespace {

HICON MakeIcon(DWORD pixel) {
  HDC screen = GetDC(nullptr);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 1;
  info.bmiHeader.biHeight = 1;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  DWORD mask = 0;
  HBITMAP color = CreateDIBitmap(screen, &info.bmiHeader, CBM_INIT, &pixel, &info, DIB_RGB_COLORS);
  HBITMAP maskBitmap = CreateDIBitmap(screen, &info.bmiHeader, CBM_INIT, &mask, &info, DIB_RGB_COLORS);
  ICONINFO icon = {TRUE, 0, 0, maskBitmap, color};
  HICON result = CreateIconIndirect(&icon);
  DeleteObject(color);
  DeleteObject(maskBitmap);
  ReleaseDC(nullptr, screen);
  return result;
}

}  // namespace

TEST(NotifyIcons, AddModifyDeleteByWindowAndId) {
  HWND hwnd = MakeWindow(WS_POPUP);
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = hwnd;
  data.uID = 7;
  data.uFlags = NIF_MESSAGE | NIF_TIP | NIF_ICON;
  data.uCallbackMessage = WM_USER;
  data.hIcon = MakeIcon(0x00123456);
  const char16_t tip[] = u"Caf\u00e9";
  std::memcpy(data.szTip, tip, sizeof tip);

  EXPECT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
  EXPECT_TRUE(DestroyIcon(data.hIcon));             // the shell keeps its own copy
  EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));  // the key exists
  data.uID = 8;
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &data));  // no such icon
  EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data));

  // The ANSI form, with the first version's record size.
  NOTIFYICONDATAA ansi = {};
  ansi.cbSize = NOTIFYICONDATAA_V1_SIZE;
  ansi.hWnd = hwnd;
  ansi.uID = 8;
  ansi.uFlags = NIF_TIP;
  std::strcpy(ansi.szTip, "plain");
  EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &ansi));

#ifndef _WIN32
  std::vector<winsim::NotifyIconEntry> icons = winsim::NotifyIcons();
  ASSERT_EQ(icons.size(), 2u);
  EXPECT_EQ(icons[0].uID, 7u);
  EXPECT_EQ(icons[0].uCallbackMessage, static_cast<UINT>(WM_USER));
  EXPECT_EQ(icons[0].tip, u"Caf\u00e9");
  ICONINFO info;
  ASSERT_TRUE(GetIconInfo(icons[0].hIcon, &info));
  HDC screen = GetDC(nullptr);
  BITMAPINFO read = {};
  read.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  read.bmiHeader.biWidth = read.bmiHeader.biHeight = read.bmiHeader.biPlanes = 1;
  read.bmiHeader.biBitCount = 32;
  DWORD pixel = 0;
  EXPECT_EQ(GetDIBits(screen, info.hbmColor, 0, 1, &pixel, &read, DIB_RGB_COLORS), 1);
  EXPECT_EQ(pixel, 0x00123456u);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(icons[1].tip, u"plain");
  EXPECT_EQ(icons[1].uFlags, static_cast<UINT>(NIF_TIP));

  // A click sends the callback message with the identifier and the mouse message.
  TakeEvents();
  EXPECT_TRUE(winsim::ClickNotifyIcon(hwnd, 7, WM_LBUTTONUP));
  EXPECT_EQ(TakeEvents(), (std::vector<Event>{Ev(hwnd, WM_USER, 7, WM_LBUTTONUP)}));
  EXPECT_FALSE(winsim::ClickNotifyIcon(hwnd, 8, WM_LBUTTONUP));  // no callback message
#endif

  data.uID = 7;
  data.uFlags = NIF_TIP;
  data.szTip[0] = 'X';
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
  EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &ansi));
}

#ifndef _WIN32
TEST(NotifyIcons, ReadsNoFurtherThanTheRecordSize) {
  // A record cut off after uFlags: only the key and the flags exist; nothing past cbSize is read
  // (the bytes after it are left uninitialized on purpose, for the sanitizers).
  auto *bytes = new BYTE[16];
  DWORD fields[4] = {16, 0x1234, 3, NIF_MESSAGE | NIF_TIP | NIF_ICON};
  std::memcpy(bytes, fields, sizeof fields);
  EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, reinterpret_cast<PNOTIFYICONDATAA>(bytes)));
  std::vector<winsim::NotifyIconEntry> icons = winsim::NotifyIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].hWnd, reinterpret_cast<HWND>(0x1234));
  EXPECT_EQ(icons[0].uFlags, 0u);  // no field for any of the flags made it
  EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, reinterpret_cast<PNOTIFYICONDATAA>(bytes)));
  delete[] bytes;

  // An unknown size gets the first version's fields: the tip is cut at 64 characters.
  NOTIFYICONDATAW data = {};
  data.cbSize = NOTIFYICONDATAW_V1_SIZE + 40;
  data.uID = 1;
  data.uFlags = NIF_TIP;
  for (int i = 0; i < 127; ++i) data.szTip[i] = 'a';
  EXPECT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
  EXPECT_EQ(winsim::NotifyIcons()[0].tip.size(), 64u);
}
#endif
