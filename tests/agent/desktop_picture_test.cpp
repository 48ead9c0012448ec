// The agent's picture directives for the stand-in host (--paint-desktop): every line is whole and
// valid UTF-8 however long and wide its title; in the Windows build the host's own script parser
// reads each one back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "desktop_picture.h"

#ifdef QUORV_HOST_SCRIPTS
#include "script.h"
#endif

namespace {

// "" when text is well-formed UTF-8 (no cut sequence, no surrogate, shortest forms), else where
// it is not.
std::string Utf8Problem(const std::string &text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return "bad lead or cut sequence at byte " + std::to_string(i);
    char32_t c = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return "bad continuation at byte " + std::to_string(i + k);
      c = (c << 6) | (t & 0x3F);
    }
    if ((n == 2 && c < 0x80) || (n == 3 && c < 0x800) || (n == 4 && c < 0x10000) || (c >= 0xD800 && c <= 0xDFFF))
      return "bad character at byte " + std::to_string(i);
    i += n;
  }
  return "";
}

// The title as the host reads it back: the quoted word, unescaped. Empty with *problem set when
// the line does not end as a directive must.
std::string ReadBack(const std::string &line, const std::string &colour, std::string *problem) {
  const std::string head = "desktop 0x00000030 1,2,300,400 \"";
  const std::string tail = "\" " + colour;
  if (line.compare(0, head.size(), head) != 0 || line.size() < head.size() + tail.size() ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
    *problem = "not a whole directive: " + line.substr(0, 60) + "..." + line.substr(line.size() - 20);
    return "";
  }
  std::string title;
  for (size_t i = head.size(); i < line.size() - tail.size(); ++i) {
    if (line[i] == '\\') ++i;
    title.push_back(line[i]);
  }
  return title;
}

TEST(DesktopDirective, LongWideTitlesAreCutOnACharacterAndTheLineStaysWhole) {
  const wire::Rect box{1, 2, 300, 400};
  std::u16string cjk;
  for (int i = 0; i < 300; ++i) cjk += u'\u65E5';
  std::u16string pairs = u"a";  // characters of two units: the 200th unit is half of one
  for (int i = 0; i < 300; ++i) pairs += u"\U0001D11E";
  std::u16string mixed;
  for (int i = 0; i < 60; ++i) mixed += u"\"\\\u00e9\u0007";
  std::u16string mixedShown = mixed.substr(0, 200);  // control characters show as blanks
  std::replace(mixedShown.begin(), mixedShown.end(), u'\u0007', u' ');
  struct Case {
    std::u16string title;
    std::u16string shown;
  } cases[] = {
      {cjk, cjk.substr(0, 200)},
      {pairs, pairs.substr(0, 1 + 2 * 199)},
      {mixed, mixedShown},
      {u"x\xD834y\xDD1Ez", u"x\uFFFDy\uFFFDz"},  // unpaired surrogates
      {u"Untitled - Notepad", u"Untitled - Notepad"},
  };
  for (const Case &c : cases) {
    const std::string line = agent::DesktopDirective(0x30, box, c.title, "#3B6EA5");
    EXPECT_EQ(Utf8Problem(line), "") << line.substr(0, 80);
    std::string problem;
    EXPECT_EQ(wire::Utf8ToUtf16(ReadBack(line, "#3B6EA5", &problem)), c.shown) << problem;
#ifdef QUORV_HOST_SCRIPTS
    // The host's own reading of the line, as its listen mode reads "#!" lines.
    std::vector<host::Step> steps;
    host::ScriptError error;
    uint32_t number = 1;
    ASSERT_TRUE(host::ParseScriptLine(line, 1, ".", &number, &steps, &error)) << error.reason;
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].kind, host::StepKind::kDesktop);
    EXPECT_EQ(wire::Utf8ToUtf16(steps[0].text), c.shown);
    EXPECT_EQ(steps[0].number, 0x3B6EA5);
    EXPECT_EQ(steps[0].rect.right, 300);
#endif
  }
}

}  // namespace
