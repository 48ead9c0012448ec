// Hex-encoded titles: four characters per UTF-16 code unit, decoded without rejecting anything.
#include <gtest/gtest.h>

#include "mirror/title.h"

namespace {

std::u16string Decode(const std::u16string &text) {
  std::basic_string<WCHAR> wide(reinterpret_cast<const WCHAR *>(text.data()), text.size());
  std::basic_string<WCHAR> out = DecodeHexText(wide);
  return std::u16string(reinterpret_cast<const char16_t *>(out.data()), out.size());
}

TEST(DecodeHexText, FourUppercaseDigitsPerUnit) {
  EXPECT_EQ(u"Abc", Decode(u"004100620063"));
  EXPECT_EQ(u"\u03A9", Decode(u"03A9"));
  EXPECT_EQ(u"\u00E9", Decode(u"00E9"));
  EXPECT_EQ(std::u16string(u"A\0B", 3), Decode(u"004100000042")) << "a zero unit is kept by the decoder";
  EXPECT_EQ(u"\U0001F600", Decode(u"D83DDE00")) << "surrogates travel as two units";
  EXPECT_EQ(u"", Decode(u""));
}

TEST(DecodeHexText, WrongLengthGivesEmptyAndOddDigitsGiveTheirRuleValues) {
  EXPECT_EQ(u"", Decode(u"0041006"));
  EXPECT_EQ(u"", Decode(u"00410"));
  // Lowercase e is 101 - 55 = 46: 16 * 46 + 9 = 745 = U+02E9.
  EXPECT_EQ(u"\u02E9", Decode(u"00e9"));
  // Any character gives a digit value by the same rule, and the sum wraps to 16 bits.
  const char16_t expected =
      static_cast<char16_t>((4096u * ('z' - 55) + 256u * ('z' - 55) + 16u * ('z' - 55) + ('z' - 55)) & 0xFFFF);
  EXPECT_EQ(std::u16string(1, expected), Decode(u"zzzz"));
  const char16_t low = static_cast<char16_t>((4096u * static_cast<unsigned>(' ' - 55) + 0x41) & 0xFFFF);
  EXPECT_EQ(std::u16string(1, low), Decode(u" 041"));
}

}  // namespace
