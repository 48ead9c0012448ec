// Regions and window regions: the algebra the add-in's shape accumulation relies on, the checks
// ExtCreateRegion makes on agent data, and who owns a region given to a window. Runs on winsim
// and under Wine.
#include "platform_util.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <cstring>
#include <vector>

using namespace platformtest;

namespace {

struct RegionBlock {
  RGNDATAHEADER header;
  RECT rects[4];
};

RegionBlock Block(std::initializer_list<RECT> rects) {
  RegionBlock block = {};
  block.header.dwSize = sizeof(RGNDATAHEADER);
  block.header.iType = RDH_RECTANGLES;
  for (const RECT &r : rects) block.rects[block.header.nCount++] = r;
  return block;
}

std::vector<RECT> Rects(HRGN region) {
  DWORD size = GetRegionData(region, 0, nullptr);
  std::vector<BYTE> buffer(size);
  auto *data = reinterpret_cast<RGNDATA *>(buffer.data());
  EXPECT_EQ(GetRegionData(region, size, data), size);
  std::vector<RECT> rects(data->rdh.nCount);
  std::memcpy(rects.data(), data->Buffer, rects.size() * sizeof(RECT));
  return rects;
}

bool Same(const std::vector<RECT> &a, const std::vector<RECT> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(RECT)) == 0;
}

}  // namespace

TEST(Regions, CombineModesAndResults) {
  HRGN a = CreateRectRgn(0, 0, 10, 10);
  HRGN b = CreateRectRgn(5, 5, 15, 15);
  HRGN out = CreateRectRgn(0, 0, 0, 0);
  RECT box;
  EXPECT_EQ(GetRgnBox(out, &box), NULLREGION);
  EXPECT_EQ(box.left | box.top | box.right | box.bottom, 0);

  EXPECT_EQ(CombineRgn(out, a, b, RGN_AND), SIMPLEREGION);
  EXPECT_EQ(GetRgnBox(out, &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 5);
  EXPECT_EQ(box.right, 10);
  EXPECT_EQ(CombineRgn(out, a, b, RGN_OR), COMPLEXREGION);
  EXPECT_TRUE(PtInRegion(out, 14, 14));
  EXPECT_FALSE(PtInRegion(out, 14, 1));
  EXPECT_EQ(CombineRgn(out, a, b, RGN_DIFF), COMPLEXREGION);
  EXPECT_FALSE(PtInRegion(out, 7, 7));

  // XOR into itself, the way shapes accumulate: overlap drops out, a repeat cancels.
  HRGN shape = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(CombineRgn(shape, shape, a, RGN_XOR), SIMPLEREGION);
  EXPECT_EQ(CombineRgn(shape, shape, b, RGN_XOR), COMPLEXREGION);
  EXPECT_FALSE(PtInRegion(shape, 7, 7));
  EXPECT_TRUE(PtInRegion(shape, 2, 2));
  EXPECT_TRUE(PtInRegion(shape, 12, 12));
  std::vector<RECT> expected = {{0, 0, 10, 5}, {0, 5, 5, 10}, {10, 5, 15, 10}, {5, 10, 15, 15}};
  EXPECT_TRUE(Same(Rects(shape), expected));
  EXPECT_EQ(CombineRgn(shape, shape, b, RGN_XOR), SIMPLEREGION);
  EXPECT_TRUE(EqualRgn(shape, a));
  // Emptied by the last change: equal to any other empty region, however it was made.
  EXPECT_EQ(CombineRgn(shape, shape, a, RGN_XOR), NULLREGION);
  HRGN nothing = CreateRectRgn(0, 0, 0, 0);
  EXPECT_TRUE(EqualRgn(shape, nothing));
  DeleteObject(nothing);
  EXPECT_EQ(CombineRgn(shape, shape, a, RGN_XOR), SIMPLEREGION);

  EXPECT_EQ(CombineRgn(out, shape, nullptr, RGN_COPY), SIMPLEREGION);
  EXPECT_EQ(OffsetRgn(out, 100, 1), SIMPLEREGION);
  EXPECT_EQ(GetRgnBox(out, &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 100);
  EXPECT_EQ(box.bottom, 11);
  EXPECT_TRUE(SetRectRgn(out, 5, 5, 1, 1));  // normalized
  EXPECT_EQ(GetRgnBox(out, &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 1);
  EXPECT_EQ(box.right, 5);

  // Bad handles and modes fail without a last error of their own.
  DeleteObject(b);
  SetLastError(0xdead);
  EXPECT_EQ(CombineRgn(out, a, b, RGN_OR), ERROR);
  EXPECT_EQ(CombineRgn(reinterpret_cast<HRGN>(b), a, a, RGN_OR), ERROR);
  EXPECT_EQ(CombineRgn(out, a, a, 9), ERROR);
  EXPECT_EQ(GetLastError(), 0xdeadu);
  EXPECT_FALSE(DeleteObject(b));
  for (HRGN r : {a, out, shape}) EXPECT_TRUE(DeleteObject(r));
}

TEST(Regions, ExtCreateRegionChecksTheHeaderOnly) {
  RegionBlock block = Block({{0, 0, 5, 5}, {3, 3, 1, 1}, {8, 0, 8, 4}});  // inverted and empty skipped
  HRGN region = ExtCreateRegion(nullptr, sizeof block, reinterpret_cast<RGNDATA *>(&block));
  ASSERT_NE(region, nullptr);
  RECT box;
  EXPECT_EQ(GetRgnBox(region, &box), SIMPLEREGION);
  EXPECT_EQ(box.right, 5);
  DeleteObject(region);

  // The count argument is not checked against nCount; the type is not looked at.
  block.header.iType = 2;
  region = ExtCreateRegion(nullptr, 10, reinterpret_cast<RGNDATA *>(&block));
  EXPECT_NE(region, nullptr);
  DeleteObject(region);
  block.header.dwSize = sizeof(RGNDATAHEADER) + 1;
  region = ExtCreateRegion(nullptr, sizeof block, reinterpret_cast<RGNDATA *>(&block));
  EXPECT_NE(region, nullptr);
  DeleteObject(region);
  block.header.dwSize = sizeof(RGNDATAHEADER) - 1;
  EXPECT_EQ(ExtCreateRegion(nullptr, sizeof block, reinterpret_cast<RGNDATA *>(&block)), nullptr);
  SetLastError(0);
  EXPECT_EQ(ExtCreateRegion(nullptr, sizeof block, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // GetRegionData round-trips through ExtCreateRegion.
  HRGN a = CreateRectRgn(0, 0, 10, 10), b = CreateRectRgn(20, 0, 30, 5);
  CombineRgn(a, a, b, RGN_OR);
  DWORD size = GetRegionData(a, 0, nullptr);
  EXPECT_EQ(size, sizeof(RGNDATAHEADER) + 3 * sizeof(RECT));
  std::vector<BYTE> data(size);
  EXPECT_EQ(GetRegionData(a, size - 1, reinterpret_cast<RGNDATA *>(data.data())), 0u);
  EXPECT_EQ(GetRegionData(a, size, reinterpret_cast<RGNDATA *>(data.data())), size);
  HRGN copy = ExtCreateRegion(nullptr, size, reinterpret_cast<RGNDATA *>(data.data()));
  EXPECT_TRUE(EqualRgn(a, copy));
  for (HRGN r : {a, b, copy}) DeleteObject(r);
}

TEST(Regions, WindowOwnsTheRegionItIsGiven) {
  HWND hwnd = MakeWindow(WS_POPUP);
  HRGN probe = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(hwnd, probe), ERROR);  // none yet

  HRGN first = CreateRectRgn(0, 0, 3, 3);
  EXPECT_EQ(SetWindowRgn(hwnd, first, TRUE), 1);
  EXPECT_FALSE(DeleteObject(first));  // the window's now
  EXPECT_EQ(GetWindowRgn(hwnd, probe), SIMPLEREGION);
  RECT box;
  GetRgnBox(probe, &box);
  EXPECT_EQ(box.right, 3);

  // A new region replaces the old one, which the window deletes.
  HRGN second = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(SetWindowRgn(hwnd, second, FALSE), 1);
  EXPECT_EQ(GetWindowRgn(hwnd, probe), NULLREGION);
  EXPECT_EQ(GetRgnBox(first, &box), ERROR);

  // A failing call leaves the region with the caller.
  HRGN kept = CreateRectRgn(0, 0, 1, 1);
  HWND gone = MakeWindow(WS_POPUP);
  DestroyWindow(gone);
  SetLastError(0);
  EXPECT_EQ(SetWindowRgn(gone, kept, TRUE), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(DeleteObject(kept));

#ifndef _WIN32
  size_t regions = winsim::LiveObjectCount(winsim::ObjectKind::Region);
  EXPECT_EQ(winsim::RegionOwner(second), hwnd);
  DestroyWindow(hwnd);  // takes its region along
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Region), regions - 1);
#endif
  DeleteObject(probe);
}
