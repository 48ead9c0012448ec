// Icon assembly: how parts fill the buffers, which headers an icon is built from, and that a
// built icon shows the pixels the agent sent.
#include "appearance/icon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "encode.h"
#include "unit/failing_allocation.h"

#ifndef _WIN32
#include <inspect.h>
#endif

namespace {

std::string Header(INT32 width, INT32 height, uint16_t bitCount, UINT32 compression = 0, UINT32 colorsUsed = 0) {
  std::string h = testkit::IconPartsFromImage({1, 1, {0}}).header;
  std::memcpy(&h[4], &width, 4);
  std::memcpy(&h[8], &height, 4);
  std::memcpy(&h[14], &bitCount, 2);
  std::memcpy(&h[16], &compression, 4);
  std::memcpy(&h[32], &colorsUsed, 4);
  return h;
}

bool Add(IconAssembly &a, INT32 kind, std::string_view bytes) {
  return AddIconPart(a, kind, testkit::PackPayload(bytes));
}

// A fresh assembly filled as the agent sends a small icon: header, mask, colour.
IconAssembly Filled(const std::string &header, const std::string &mask, const std::string &color) {
  IconAssembly a;
  Add(a, 0, header);
  Add(a, 1, mask);
  Add(a, 3, "");
  Add(a, 11, color);
  Add(a, 13, "");
  return a;
}

}  // namespace

TEST(IconAssembly, CollectsPartsAsTheAgentSendsThem) {
  const std::string header = Header(2, 2, 32);
  IconAssembly a;
  EXPECT_FALSE(Add(a, 0, header));
  EXPECT_FALSE(Add(a, 1, "m1"));
  EXPECT_FALSE(Add(a, 3, "m3"));
  EXPECT_FALSE(Add(a, 11, "c1"));
  EXPECT_TRUE(Add(a, 13, "c3"));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(a.header), 44), header + std::string(4, '\0'));
  EXPECT_EQ(a.maskBits, "m1m3");
  EXPECT_EQ(a.colorBits, "c1c3");
  EXPECT_TRUE(Add(a, 13, "x")) << "the counter is the caller's to reset";

  // Any three completed parts make a set; colour may come first; only a first piece replaces.
  a = IconAssembly();
  a.maskBits = "old";
  EXPECT_FALSE(Add(a, 13, "C"));
  EXPECT_FALSE(Add(a, 2, "b"));
  EXPECT_FALSE(Add(a, 3, "c"));
  EXPECT_EQ(a.maskBits, "oldbc");
  EXPECT_FALSE(Add(a, 1, "a"));
  EXPECT_TRUE(Add(a, 3, ""));
  EXPECT_EQ(a.maskBits, "a");

  // A header of any other length clears the header and does not count.
  for (size_t length : {39u, 41u}) {
    a = Filled(header, "", "");
    a.completedParts = 0;
    EXPECT_FALSE(Add(a, 0, std::string(length, 'h')));
    EXPECT_EQ(a.completedParts, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(a.header), 44), std::string(44, '\0'));
  }

  // Unknown kinds change nothing.
  a = Filled(header, "mask", "colour");
  a.completedParts = 1;
  for (INT32 kind : {-1, 4, 10, 14}) EXPECT_FALSE(Add(a, kind, header)) << kind;
  EXPECT_EQ(std::memcmp(a.header, header.data(), 40), 0);
  EXPECT_EQ(a.maskBits + a.colorBits, "maskcolour");
  EXPECT_EQ(a.completedParts, 1);

  // A piece that does not unpack is empty: a first piece empties its buffer, a last one counts.
  EXPECT_FALSE(AddIconPart(a, 11, "not a payload"));
  EXPECT_FALSE(AddIconPart(a, 3, "AAAA"));
  EXPECT_EQ(a.maskBits + a.colorBits, "mask");
  EXPECT_EQ(a.completedParts, 2);
}

// The bits of one bitmap are kept up to what the largest icon (1024 x 1024 at 32 bpp) needs: a
// piece that would pass that fills up to it, and later pieces add nothing, whichever bitmap.
TEST(IconAssembly, BitsStopAtTheLargestBitmap) {
  constexpr size_t kCap = size_t{1024} * 1024 * 4;
  for (const INT32 first : {1, 11}) {
    IconAssembly a;
    std::string &bits = first == 1 ? a.maskBits : a.colorBits;
    EXPECT_FALSE(Add(a, first, std::string(kCap - 10, 'a')));
    EXPECT_FALSE(Add(a, first + 1, std::string(100, 'b')));
    EXPECT_EQ(bits.size(), kCap) << first << ": filled to the cap, no further";
    EXPECT_EQ(bits.substr(kCap - 11), "a" + std::string(10, 'b')) << first;
    EXPECT_FALSE(Add(a, first + 1, std::string(100, 'c')));
    EXPECT_FALSE(Add(a, first + 2, std::string(100, 'd')));
    EXPECT_EQ(bits.size(), kCap) << first << ": pieces past the cap add nothing";
    EXPECT_EQ(bits.back(), 'b') << first;
    EXPECT_EQ(a.completedParts, 1) << first << ": the last piece still counts";
    EXPECT_TRUE((first == 1 ? a.colorBits : a.maskBits).empty()) << first << ": the other bitmap is untouched";
  }
}

TEST(BuildIcon, RefusesWhatItCannotBuildSafely) {
  auto builds = [](const std::string &header, size_t maskBytes, size_t colorBytes) {
    HICON icon = BuildIcon(Filled(header, std::string(maskBytes, '\0'), std::string(colorBytes, '\x7f')));
    if (icon) DestroyIcon(icon);
    return icon != nullptr;
  };
  // Rows are rounded up to 4 bytes: 3 pixels of 24 bits take 12 bytes, 3 of 16 bits 8.
  EXPECT_TRUE(builds(Header(3, 5, 24), 60, 60));
  EXPECT_FALSE(builds(Header(3, 5, 24), 59, 60));
  EXPECT_FALSE(builds(Header(3, 5, 24), 60, 59));
  EXPECT_TRUE(builds(Header(3, -5, 16), 40, 40));
  EXPECT_FALSE(builds(Header(3, -5, 16), 40, 39));
  EXPECT_TRUE(builds(Header(1024, -1024, 32), 4 << 20, 4 << 20));
  const size_t plenty = 4 << 20;
  for (const std::string &header :
       {Header(0, 16, 32), Header(16, 0, 32), Header(-16, 16, 32), Header(1025, 16, 32), Header(16, -1025, 32),
        Header(16, INT32_MIN, 32), Header(16, 16, 1), Header(16, 16, 8), Header(16, 16, 0),
        Header(16, 16, 32, 3 /* BI_BITFIELDS */), Header(16, 16, 32, 1 /* BI_RLE8 */), Header(16, 16, 32, 0, 1),
        Header(16, 16, 32).replace(0, 1, 1, '\x6c') /* a 108-byte header */})
    EXPECT_FALSE(builds(header, plenty, plenty)) << testing::PrintToString(header);
  EXPECT_EQ(BuildIcon(IconAssembly()), nullptr);
}

TEST(BuildIcon, ShowsThePixelsItWasSent) {
  std::mt19937 rng(5);
  testkit::Image image{31, 17, {}};  // odd sizes; every kind of alpha, transparent pixels included
  for (int i = 0; i < image.width * image.height; ++i) {
    const uint32_t alpha = i % 5 == 0 ? 0 : i % 5 == 1 ? 0xFF : rng() & 0xFF;
    image.pixels.push_back(alpha == 0 ? 0 : (alpha << 24) | (rng() & 0xFFFFFF));
  }
  testkit::Image folder;
  std::string error;
  ASSERT_TRUE(testkit::LoadImageFile(testkit::SourceTreePath("examples/icons/folder.ico"), 16, &folder, &error))
      << error;
  ASSERT_EQ(folder.width, 16);
  for (const testkit::Image *sent : {&image, &folder}) {
    const testkit::IconParts parts = testkit::IconPartsFromImage(*sent);
    HICON icon = BuildIcon(Filled(parts.header, parts.mask, parts.color));
    ASSERT_NE(icon, nullptr);
    testkit::IconPixels shown;
    EXPECT_TRUE(testkit::ReadIconPixels(icon, &shown));
    DestroyIcon(icon);
    EXPECT_EQ(testkit::CompareIconPixels(shown, *sent), "");
  }
}

namespace {

// A piece that cannot be stored for want of memory is an empty piece; a last piece still counts,
// so the set completes when the agent thinks it does.
TEST(IconAssembly, ALastPieceThatCannotBeStoredStillCounts) {
  IconAssembly a;
  const std::string mebibyte(1 << 20, 'm');
  EXPECT_FALSE(Add(a, 1, mebibyte));
  EXPECT_FALSE(Add(a, 0, Header(16, 16, 32)));
  {
    // Unpacking the piece (1 MiB) succeeds; growing the mask bits to 2 MiB does not.
    quorvtest::ScopedAllocationFailure failure(3 << 19);
    EXPECT_FALSE(Add(a, 3, mebibyte)) << "two completed parts";
  }
  EXPECT_EQ(a.maskBits.size(), mebibyte.size()) << "the lost piece added nothing";
  EXPECT_TRUE(Add(a, 13, "")) << "header, last mask piece and last colour piece make three";
  EXPECT_EQ(a.completedParts, 3);
}

#ifndef _WIN32
// Without a colour bitmap CreateIconIndirect would make a monochrome icon of the mask alone.
TEST(IconAssembly, NoIconWhenEitherBitmapCannotBeMade) {
  const testkit::Image image = {2, 2, {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF}};
  const testkit::IconParts parts = testkit::IconPartsFromImage(image);
  const IconAssembly a = Filled(parts.header, parts.mask, parts.color);
  const size_t bitmaps = winsim::LiveObjectCount(winsim::ObjectKind::Bitmap);
  for (int failing : {1, 2}) {
    winsim::FailBitmapCreation(failing);
    EXPECT_EQ(BuildIcon(a), nullptr) << (failing == 1 ? "mask" : "colour") << " bitmap failed";
    EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Bitmap), bitmaps) << "the other bitmap is deleted";
  }
  winsim::FailBitmapCreation(0);
  HICON icon = BuildIcon(a);
  EXPECT_NE(icon, nullptr);
  DestroyIcon(icon);
}
#endif

}  // namespace
