#include "expand.h"

#include "encode.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <sstream>

namespace host {

// Splits on blanks; a "double quoted" part of a word (tip="two words") may hold blanks, \" and \\.
bool Tokenize(const std::string &text, std::vector<std::string> *words, std::string *problem) {
  size_t i = 0;
  while (i < text.size()) {
    if (isspace(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    std::string word;
    bool quoted = false;
    for (; i < text.size() && (quoted || !isspace(static_cast<unsigned char>(text[i]))); ++i) {
      const char c = text[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted && c == '\\' && i + 1 < text.size()) {
        word.push_back(text[++i]);
      } else {
        word.push_back(c);
      }
    }
    if (quoted) return *problem = "unterminated quoted text", false;
    words->push_back(word);
  }
  return true;
}

bool ParseNumber(const std::string &text, long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(text.c_str(), &end, 0);
  if (*end != 0 || errno != 0 || v < -2147483648LL || v > 4294967295LL) return false;
  *value = static_cast<long>(static_cast<uint32_t>(v));
  if (v < 0) *value = static_cast<long>(v);
  return true;
}

bool ParseRect(const std::string &text, Rect *r) {
  long v[4];
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t comma = text.find(',', start);
    if ((i < 3) != (comma != std::string::npos)) return false;
    if (!ParseNumber(text.substr(start, i < 3 ? comma - start : std::string::npos), &v[i])) return false;
    start = comma + 1;
  }
  *r = Rect{v[0], v[1], v[2], v[3]};
  return true;
}

bool Lookup(const NamedValue *table, size_t n, const std::string &word, long *value) {
  for (size_t i = 0; i < n; ++i)
    if (word == table[i].name) return *value = table[i].value, true;
  return ParseNumber(word, value);
}

namespace {

const NamedValue kShellMessages[] = {{"add", 0},     {"modify", 1},     {"delete", 2},
                                     {"NIM_ADD", 0}, {"NIM_MODIFY", 1}, {"NIM_DELETE", 2}};
const NamedValue kNotifyFlags[] = {{"message", 1}, {"icon", 2}, {"tip", 4}, {"state", 8}, {"info", 16}};
}  // namespace

const NamedValue kMouseMessages[] = {{"mousemove", 0x0200},     {"lbuttondown", 0x0201}, {"lbuttonup", 0x0202},
                                     {"lbuttondblclk", 0x0203}, {"rbuttondown", 0x0204}, {"rbuttonup", 0x0205},
                                     {"contextmenu", 0x007B}};
const size_t kMouseMessageCount = std::size(kMouseMessages);

namespace {

// {notify W add id=1 flags=message|icon|tip callback=0x8001 icon=0x1234 tip="..." size=N hwnd=N}
bool ExpandNotify(const std::vector<std::string> &words, std::string *out, std::string *problem) {
  if (words.size() < 3 || (words[1] != "W" && words[1] != "A"))
    return *problem = "notify needs the record's form (W or A) and the shell message", false;
  testkit::NotifyRecord record;
  record.charType = words[1][0];
  long value = 0;
  if (!Lookup(kShellMessages, std::size(kShellMessages), words[2], &value))
    return *problem = "unknown shell message '" + words[2] + "' (add, modify, delete or a number)", false;
  record.dwMessage = static_cast<uint32_t>(value);
  for (size_t i = 3; i < words.size(); ++i) {
    const size_t eq = words[i].find('=');
    if (eq == std::string::npos) return *problem = "notify field '" + words[i] + "' is not name=value", false;
    const std::string name = words[i].substr(0, eq), text = words[i].substr(eq + 1);
    if (name == "tip") {
      record.tip = testkit::Utf8ToUtf16(text);
      continue;
    }
    if (name == "flags") {
      uint32_t flags = 0;
      std::stringstream parts(text);
      std::string part;
      while (std::getline(parts, part, '|')) {
        if (!Lookup(kNotifyFlags, std::size(kNotifyFlags), part, &value))
          return *problem = "unknown notify flag '" + part + "'", false;
        flags |= static_cast<uint32_t>(value);
      }
      record.uFlags = flags;
      continue;
    }
    if (!ParseNumber(text, &value)) return *problem = "notify field " + name + " needs a number", false;
    const uint32_t v = static_cast<uint32_t>(value);
    if (name == "id")
      record.uID = v;
    else if (name == "callback")
      record.uCallbackMessage = v;
    else if (name == "icon")
      record.hIcon = v;
    else if (name == "hwnd")
      record.hWnd = v;
    else if (name == "size") {
      if (v > 4096) return *problem = "notify size above 4096", false;
      record.cbSize = v;
    } else {
      return *problem = "unknown notify field '" + name + "'", false;
    }
  }
  *out = testkit::PackPayload(testkit::NotifyRecordBytes(record));
  return true;
}

}  // namespace

bool ExpandDirective(const std::string &body, std::string *out, std::string *problem) {
  const size_t blank = body.find(' ');
  const std::string name = body.substr(0, blank);
  const std::string rest = blank == std::string::npos ? std::string() : body.substr(blank + 1);
  if (name == "hex") return *out = testkit::HexTitle(testkit::Utf8ToUtf16(rest)), true;
  if (name == "pack") return *out = testkit::PackPayload(rest), true;
  std::vector<std::string> words;
  if (!Tokenize(body, &words, problem)) return false;
  if (name == "region") {
    std::vector<testkit::Rect> rects;
    for (size_t i = 1; i < words.size(); ++i) {
      Rect r;
      if (!ParseRect(words[i], &r))
        return *problem = "'" + words[i] + "' is not a rectangle left,top,right,bottom", false;
      rects.push_back(testkit::Rect{r.left, r.top, r.right, r.bottom});
    }
    *out = testkit::PackPayload(testkit::RegionData(rects));
    return true;
  }
  if (name == "notify") return ExpandNotify(words, out, problem);
  return *problem = "unknown directive {" + name + "} (region, hex, notify, pack)", false;
}

}  // namespace host
