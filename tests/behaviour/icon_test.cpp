// SETICON: icons arrive in parts and end up on the local windows, where the taskbar reads them.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/harness.h"

#ifndef _WIN32
#include <inspect.h>
#endif

namespace quorvtest {
namespace {

testkit::Image Pattern(int size, uint32_t seed) {
  std::mt19937 rng(seed);
  testkit::Image image{size, size, {}};
  for (int i = 0; i < size * size; ++i) image.pixels.push_back(i % 7 ? 0xFF000000u | (rng() & 0xFFFFFF) : 0);
  return image;
}

class IconTest : public AddinTest {
 protected:
  // CREATE for a top-level remote window; its new local window.
  HWND Mirror(uint32_t remoteWnd) { return SendForLocalWindow("CREATE,1," + std::to_string(remoteWnd) + ",0,0,0"); }
  void SendIcon(uint32_t remoteWnd, int size, const testkit::IconParts &parts, size_t pieceBytes = 4096) {
    for (const std::string &m : testkit::IconMessages("SETICON", 3, remoteWnd, size, parts, pieceBytes)) Send(m);
  }
  static HICON WindowIcon(HWND hwnd, bool large) {
    return reinterpret_cast<HICON>(SendMessageA(hwnd, WM_GETICON, large ? ICON_BIG : ICON_SMALL, 0));
  }
  // Empty when the window's icon shows the image.
  static std::string Shows(HWND hwnd, bool large, const testkit::Image &image) {
    testkit::IconPixels pixels;
    if (!testkit::ReadIconPixels(WindowIcon(hwnd, large), &pixels)) return "no readable icon";
    return testkit::CompareIconPixels(pixels, image);
  }
};

TEST_F(IconTest, CompleteSetsGiveTheWindowItsIcons) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  StartSession();
  HWND window = Mirror(0x10020);
  ASSERT_NE(window, nullptr);
  // A real icon, large, in pieces smaller than a bitmap (first, further and last pieces).
  testkit::Image folder;
  std::string error;
  ASSERT_TRUE(testkit::LoadImageFile(testkit::SourceTreePath("examples/icons/folder.ico"), 32, &folder, &error));
  SendIcon(0x10020, 32, testkit::IconPartsFromImage(folder), 1500);
  EXPECT_EQ(Shows(window, true, folder), "");
  EXPECT_EQ(WindowIcon(window, false), nullptr);
  const testkit::Image small = Pattern(16, 1);
  SendIcon(0x10020, 16, testkit::IconPartsFromImage(small));
  EXPECT_EQ(Shows(window, false, small), "");
  EXPECT_EQ(Shows(window, true, folder), "");

  // A new large icon replaces the old one, which is destroyed once the window has the new one.
  HICON old = WindowIcon(window, true);
  const testkit::Image replacement = Pattern(32, 2);
  SendIcon(0x10020, 32, testkit::IconPartsFromImage(replacement));
  EXPECT_EQ(Shows(window, true, replacement), "");
  ICONINFO info = {};
  EXPECT_FALSE(GetIconInfo(old, &info)) << "the replaced icon still exists";
}

TEST_F(IconTest, SetsThatCannotMakeAnIconLeaveTheWindowAsItWas) {
  ASSERT_NO_FATAL_FAILURE(LoadAndConnect());
  StartSession();
  HWND window = Mirror(0x300);
  ASSERT_NE(window, nullptr);
  const testkit::Image image = Pattern(32, 3);
  SendIcon(0x300, 32, testkit::IconPartsFromImage(image));
  ASSERT_EQ(Shows(window, true, image), "");
#ifndef _WIN32
  const size_t icons = winsim::LiveObjectCount(winsim::ObjectKind::Icon);
  const size_t bitmaps = winsim::LiveObjectCount(winsim::ObjectKind::Bitmap);
  const size_t dcs = winsim::LiveObjectCount(winsim::ObjectKind::DeviceContext);
#endif
  // A set for a window the registry does not know builds nothing, and the next set starts afresh;
  // so does each of the refused sets below.
  SendIcon(0x999, 32, testkit::IconPartsFromImage(Pattern(32, 4)));
  const testkit::IconParts parts = testkit::IconPartsFromImage(Pattern(32, 5));
  std::vector<testkit::IconParts> refused(4, parts);
  refused[0].header[14] = 8;                            // 8 bpp needs a colour table
  refused[1].header[16] = 3;                            // BI_BITFIELDS needs colour masks
  refused[2].header.replace(8, 4, "\x7f\x7f\x7f\x7f");  // absurd height
  refused[3].color.pop_back();                          // one byte short
  for (const testkit::IconParts &p : refused) SendIcon(0x300, 32, p);
  EXPECT_EQ(Shows(window, true, image), "") << "the window keeps the icon it had";
#ifndef _WIN32
  // No bitmap, device context or icon of a build outlives it.
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Icon), icons);
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Bitmap), bitmaps);
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::DeviceContext), dcs);
#endif
  // Colour before mask builds the same icon, at the last mask piece.
  const std::vector<std::pair<int, std::string>> order = {{0, parts.header}, {11, parts.color}, {13, ""},
                                                          {1, parts.mask},   {2, ""},           {3, ""}};
  for (const auto &[kind, bytes] : order) {
    EXPECT_EQ(Shows(window, true, image), "") << "built before the last part, at kind " << kind;
    Send(
        testkit::Message({"SETICON", "4", "0x300", std::to_string(kind), "0", "0", "32", testkit::PackPayload(bytes)}));
  }
  EXPECT_EQ(Shows(window, true, Pattern(32, 5)), "");
#ifndef _WIN32
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Icon), icons);
#endif
}

}  // namespace
}  // namespace quorvtest
