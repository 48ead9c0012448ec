#include "desktop_picture.h"

namespace agent {

namespace {

void AppendUtf8(char32_t c, std::string *out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string DesktopDirective(uint32_t id, const wire::Rect &box, const std::u16string &title, const char *colour) {
  std::string text;
  size_t characters = 0;
  for (size_t i = 0; i < title.size() && characters < kDesktopTitleCharacters; ++i, ++characters) {
    char32_t c = title[i];
    if (IsHigh(title[i]) && i + 1 < title.size() && IsLow(title[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (title[i + 1] - 0xDC00);
      ++i;
    } else if (IsHigh(title[i]) || IsLow(title[i])) {
      c = 0xFFFD;
    }
    if (c == '"' || c == '\\') text.push_back('\\');
    AppendUtf8(c < 0x20 ? U' ' : c, &text);
  }
  return "desktop " + wire::HexId(id) + " " + std::to_string(box.left) + "," + std::to_string(box.top) + "," +
         std::to_string(box.right) + "," + std::to_string(box.bottom) + " \"" + text + "\" " + colour;
}

}  // namespace agent
