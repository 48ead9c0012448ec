// Bitmaps from DIB bits and icons made of them: the formats the agent's icons come in, what
// GetDIBits reads back, and which bitmaps an icon copies. Runs on winsim and under Wine.
#include "platform_util.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <cstring>
#include <vector>

using namespace platformtest;

namespace {

struct Info {
  BITMAPINFOHEADER header;
  RGBQUAD colors[2];
};

Info Header(int width, int height, int bits) {
  Info info = {};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  return info;
}

// The bitmap's pixels as 32 bpp BI_RGB, bottom row first.
std::vector<DWORD> Read(HBITMAP bitmap, int width, int height) {
  HDC screen = GetDC(nullptr);
  Info info = Header(width, height, 32);
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height, 0xDEADBEEF);
  EXPECT_EQ(GetDIBits(screen, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS),
            height);
  ReleaseDC(nullptr, screen);
  return pixels;
}

HBITMAP FromBits(int bits, const void *data, int width = 2, int height = 2) {
  HDC screen = GetDC(nullptr);
  Info info = Header(width, height, bits);
  info.colors[0] = {10, 20, 30, 40};
  info.colors[1] = {50, 60, 70, 80};
  HBITMAP bitmap =
      CreateDIBitmap(screen, &info.header, CBM_INIT, data, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

}  // namespace

TEST(Bitmaps, CreateDIBitmapConvertsEachSourceFormat) {
  const DWORD p32[4] = {0x80102030, 0x00405060, 0xff708090, 0x01a0b0c0};
  HBITMAP b32 = FromBits(32, p32);
  BITMAP bm;
  ASSERT_EQ(GetObjectA(b32, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 2);
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(bm.bmWidthBytes, 8);
  EXPECT_EQ(bm.bmBits, nullptr);
  EXPECT_EQ(GetObjectA(b32, 0, nullptr), static_cast<int>(sizeof bm));
  EXPECT_EQ(Read(b32, 2, 2), (std::vector<DWORD>(p32, p32 + 4)));  // alpha kept

  const BYTE p24[16] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};  // rows padded to 4 bytes
  EXPECT_EQ(Read(FromBits(24, p24), 2, 2), (std::vector<DWORD>{0x030201, 0x060504, 0x090807, 0x0c0b0a}));
  const WORD p16[4] = {0x7c00, 0x03e0, 0x001f, 0x7fff};  // 5-5-5
  EXPECT_EQ(Read(FromBits(16, p16), 2, 2), (std::vector<DWORD>{0xff0000, 0x00ff00, 0x0000ff, 0xffffff}));
  const DWORD p1[2] = {0x80, 0x40};  // one bit per pixel through the two-entry colour table
  EXPECT_EQ(Read(FromBits(1, p1), 2, 2), (std::vector<DWORD>{0x463c32, 0x1e140a, 0x1e140a, 0x463c32}));

  // A negative height is a top-down source; reading back top-down flips again.
  Info down = Header(2, -2, 32);
  HDC screen = GetDC(nullptr);
  HBITMAP flipped =
      CreateDIBitmap(screen, &down.header, CBM_INIT, p32, reinterpret_cast<BITMAPINFO *>(&down), DIB_RGB_COLORS);
  EXPECT_EQ(Read(flipped, 2, 2), (std::vector<DWORD>{p32[2], p32[3], p32[0], p32[1]}));
  std::vector<DWORD> out(4, 0);
  EXPECT_EQ(GetDIBits(screen, flipped, 0, 2, out.data(), reinterpret_cast<BITMAPINFO *>(&down), DIB_RGB_COLORS), 2);
  EXPECT_EQ(out, (std::vector<DWORD>(p32, p32 + 4)));
  // Scan lines from the bottom: start 1 is the top row of a two-row bitmap; lines are clamped.
  Info up = Header(2, 2, 32);
  EXPECT_EQ(GetDIBits(screen, b32, 1, 5, out.data(), reinterpret_cast<BITMAPINFO *>(&up), DIB_RGB_COLORS), 1);
  EXPECT_EQ(out[0], p32[2]);

  // The format query fills the header from the bitmap.
  Info query = {};
  query.header.biSize = sizeof(BITMAPINFOHEADER);
  EXPECT_NE(GetDIBits(screen, b32, 0, 2, nullptr, reinterpret_cast<BITMAPINFO *>(&query), DIB_RGB_COLORS), 0);
  EXPECT_EQ(query.header.biWidth, 2);
  EXPECT_EQ(query.header.biHeight, 2);
  EXPECT_EQ(query.header.biBitCount, 32);
  EXPECT_EQ(query.header.biSizeImage, 16u);

  // No DC makes a monochrome bitmap; a zero width the shared 1x1 one; a negative width nothing.
  Info mono = Header(2, 2, 1);
  HBITMAP m = CreateDIBitmap(nullptr, &mono.header, 0, nullptr, nullptr, 0);
  GetObjectA(m, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  Info empty = Header(0, 2, 32);
  HBITMAP stock = CreateDIBitmap(screen, &empty.header, 0, nullptr, nullptr, 0);
  ASSERT_NE(stock, nullptr);
  GetObjectA(stock, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 1);
  EXPECT_EQ(CreateBitmap(0, 5, 1, 32, nullptr), stock);
  Info negative = Header(-2, 2, 32);
  EXPECT_EQ(CreateDIBitmap(screen, &negative.header, 0, nullptr, nullptr, 0), nullptr);
  ReleaseDC(nullptr, screen);
}

TEST(Icons, IconKeepsItsOwnCopiesOfTheBitmaps) {
#ifndef _WIN32
  size_t bitmaps = winsim::LiveObjectCount(winsim::ObjectKind::Bitmap);
  size_t icons = winsim::LiveObjectCount(winsim::ObjectKind::Icon);
#endif
  const DWORD color[4] = {0x80102030, 0x00405060, 0xff708090, 0x01a0b0c0};
  // A colour mask, as the agent's icons come: only exact white (alpha 0) becomes a 1 bit.
  const DWORD mask[4] = {0x00ffffff, 0x00000000, 0xffffffff, 0x00fffffe};
  HBITMAP colorBitmap = FromBits(32, color);
  HBITMAP maskBitmap = FromBits(32, mask);
  ICONINFO info = {TRUE, 0, 0, maskBitmap, colorBitmap};
  HICON icon = CreateIconIndirect(&info);
  ASSERT_NE(icon, nullptr);
  EXPECT_TRUE(DeleteObject(colorBitmap));
  EXPECT_TRUE(DeleteObject(maskBitmap));

  ICONINFO got = {};
  ASSERT_TRUE(GetIconInfo(icon, &got));
  EXPECT_TRUE(got.fIcon);
  EXPECT_EQ(got.xHotspot, 1u);  // the centre, for icons
  EXPECT_EQ(got.yHotspot, 1u);
  ASSERT_NE(got.hbmColor, nullptr);
  ASSERT_NE(got.hbmMask, nullptr);
  BITMAP bm;
  GetObjectA(got.hbmMask, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(Read(got.hbmColor, 2, 2), (std::vector<DWORD>(color, color + 4)));
  EXPECT_EQ(Read(got.hbmMask, 2, 2), (std::vector<DWORD>{0xffffff, 0, 0, 0}));
  DeleteObject(got.hbmColor);
  DeleteObject(got.hbmMask);

  // A mask of another size is stretched to the colour bitmap's.
  std::vector<DWORD> bigMask(16, 0xffffff);
  HBITMAP big = FromBits(32, bigMask.data(), 4, 4);
  HBITMAP again = FromBits(32, color);
  ICONINFO stretched = {TRUE, 0, 0, big, again};
  HICON second = CreateIconIndirect(&stretched);
  ASSERT_TRUE(GetIconInfo(second, &got));
  GetObjectA(got.hbmMask, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 2);
  EXPECT_EQ(bm.bmHeight, 2);
  DeleteObject(got.hbmColor);
  DeleteObject(got.hbmMask);
  DeleteObject(big);
  DeleteObject(again);

  HICON copy = CopyIcon(icon);
  EXPECT_NE(copy, icon);
  EXPECT_FALSE(DeleteObject(icon));  // not a GDI object
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DestroyIcon(icon));
  EXPECT_FALSE(GetIconInfo(icon, &got));
  ASSERT_TRUE(GetIconInfo(copy, &got));  // the copy lives on
  EXPECT_EQ(Read(got.hbmColor, 2, 2), (std::vector<DWORD>(color, color + 4)));
  DeleteObject(got.hbmColor);
  DeleteObject(got.hbmMask);
  DestroyIcon(copy);
  DestroyIcon(second);
#ifndef _WIN32
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Bitmap), bitmaps);
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Icon), icons);
#endif
}

TEST(Bitmaps, MemoryDeviceContextSelectsAndFills) {
  HDC memory = CreateCompatibleDC(nullptr);
  const DWORD pixels[4] = {0, 0, 0, 0};
  HBITMAP bitmap = FromBits(32, pixels);
  HGDIOBJ original = SelectObject(memory, bitmap);
  BITMAP bm;
  GetObjectA(original, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 1);  // the default 1x1 monochrome bitmap
  EXPECT_EQ(bm.bmBitsPixel, 1);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  RECT top = {0, 0, 2, 1};
  EXPECT_TRUE(FillRect(memory, &top, brush));
  EXPECT_EQ(GetPixel(memory, 1, 0), RGB(1, 2, 3));
  EXPECT_EQ(GetPixel(memory, 1, 1), RGB(0, 0, 0));
  // Deleting a selected bitmap is delayed until it is deselected.
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(GetPixel(memory, 0, 0), RGB(1, 2, 3));
  SelectObject(memory, original);
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_EQ(GetObjectA(bitmap, sizeof bm, &bm), 0);
  EXPECT_TRUE(DeleteObject(brush));
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
}
