#include "session_generator.h"

#include "encode.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace testkit {
namespace {

constexpr size_t kMaxKnownIds = 48;

}  // namespace

SessionGenerator::SessionGenerator(uint64_t seed) : state_(seed) {}

// splitmix64: the same sequence everywhere, unlike the standard distributions.
uint32_t SessionGenerator::Draw() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
}

uint32_t SessionGenerator::Below(uint32_t bound) { return bound ? Draw() % bound : 0; }
bool SessionGenerator::Chance(uint32_t percent) { return Below(100) < percent; }

size_t SessionGenerator::NextChunkSize() {
  switch (Below(10)) {
    case 0:
      return 1 + Below(16);
    case 1:
      return 1 + Below(1600);
    default:
      return 1600;
  }
}

// A value the way the agent writes it, or the way a sloppy agent might: decimal, hexadecimal,
// octal, with leading blanks.
std::string SessionGenerator::Number(uint32_t value) {
  char text[32];
  switch (Below(8)) {
    case 0:
      std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
      break;
    case 1:
      std::snprintf(text, sizeof text, "0X%08X", static_cast<unsigned>(value));
      break;
    case 2:
      std::snprintf(text, sizeof text, "0%o", static_cast<unsigned>(value));
      break;
    case 3:
      std::snprintf(text, sizeof text, "  %u", static_cast<unsigned>(value));
      break;
    default:
      std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
      break;
  }
  return text;
}

// Anything a numeric field might hold.
std::string SessionGenerator::AnyNumber() {
  switch (Below(10)) {
    case 0:
      return "";
    case 1:
      return "-" + std::to_string(Below(100000));
    case 2:
      return "99999999999999999999";
    case 3:
      return "0x";
    case 4:
      return "abc";
    case 5:
      return Number(0xFFFFFFFFu - Below(4));
    case 6:
      return Number(0x80000000u + Below(4));
    default:
      return Number(Draw());
  }
}

uint32_t SessionGenerator::WindowId() {
  if (!ids_.empty() && Chance(70)) return ids_[Below(static_cast<uint32_t>(ids_.size()))];
  uint32_t id;
  switch (Below(12)) {
    case 0:
      id = 0;
      break;
    case 1:
      id = 0xFFFFFFFFu;
      break;
    case 2:
      id = 0x80000000u;
      break;
    default:
      id = 0x10000 + Below(0x400) * 4;
      break;
  }
  if (ids_.size() < kMaxKnownIds)
    ids_.push_back(id);
  else
    ids_[Below(kMaxKnownIds)] = id;
  return id;
}

uint32_t SessionGenerator::GroupId() { return Chance(10) ? Draw() : Below(6); }

std::string SessionGenerator::Bytes(size_t count) {
  std::string bytes(count, '\0');
  for (char &c : bytes) c = static_cast<char>(Draw());
  return bytes;
}

// A packed payload of the bytes, or one of the ways of getting the packing wrong.
std::string SessionGenerator::Packed(const std::string &bytes) {
  const uint32_t size = static_cast<uint32_t>(bytes.size());
  switch (Below(40)) {
    case 0:
      return PackPayloadWithSize(bytes, 0);
    case 1:
      return PackPayloadWithSize(bytes, size ? size - 1 : 0);  // too small: uncompress fails
    case 2:
      return PackPayloadWithSize(bytes, size + 1 + Below(64));  // larger than the data: fine
    case 3:
      return PackPayloadWithSize(bytes, 0xFFFFFFFFu - Below(16));  // beyond any cap
    case 4:
      return PackPayloadWithSize(bytes, 0x04000000u + Below(2));  // around the cap
    case 5: {                                                     // cut short: a truncated zlib stream
      std::string packed = PackPayload(bytes);
      return packed.substr(0, Below(static_cast<uint32_t>(packed.size()) + 1));
    }
    case 6:
      return "Q===";  // a pad after a lone digit
    case 7:
      return Base64Encode(Bytes(Below(12)));  // too short for the size field, or garbage
    case 8: {                                 // bytes outside the alphabet sprinkled in: skipped by the decoder
      std::string packed = PackPayload(bytes);
      for (int i = 0; i < 3 && !packed.empty(); ++i)
        packed.insert(Below(static_cast<uint32_t>(packed.size())), 1, " \r\n-_\x80\t"[Below(7)]);
      return packed;
    }
    case 9:
      return Bytes(Below(64));  // raw bytes, commas and zeros included
    case 10:
      return "";
    default:
      return PackPayload(bytes);
  }
}

std::string SessionGenerator::Hello() {
  return Message({"HELLO", Number(++messageNumber_), Chance(5) ? "3" : (Chance(50) ? "2" : AnyNumber())});
}

std::string SessionGenerator::Create() {
  uint32_t parent = 0;
  if (Chance(20)) parent = !ids_.empty() ? ids_[Below(static_cast<uint32_t>(ids_.size()))] : 0x20000;
  uint32_t flags = Chance(25) ? 2 : Below(2) * 1;
  if (Chance(10)) flags = Draw();
  std::vector<std::string> fields = {"CREATE",          Number(++messageNumber_), Number(WindowId()),
                                     Number(GroupId()), Number(parent),           Number(flags)};
  if (Chance(3)) fields[3] = AnyNumber();
  return Message(fields);
}

std::string SessionGenerator::Destroy(const char *keyword) {
  const bool group = std::strcmp(keyword, "DESTROYGRP") == 0;
  const bool show = std::strcmp(keyword, "SHOWWINDOW") == 0;
  std::string third = "0";
  if (show) third = Chance(85) ? Number(Below(12)) : AnyNumber();
  return Message({keyword, Number(++messageNumber_), group ? Number(GroupId()) : Number(WindowId()), third});
}

std::string SessionGenerator::Title() {
  std::u16string text;
  const size_t length = Chance(2) ? 200 + Below(2000) : Below(40);
  for (size_t i = 0; i < length; ++i) {
    switch (Below(8)) {
      case 0:
        text.push_back(static_cast<char16_t>(0xA0 + Below(0x160)));
        break;
      case 1:
        text.push_back(static_cast<char16_t>(0x4E00 + Below(0x5000)));
        break;
      case 2:  // a surrogate pair, or half of one
        text.push_back(static_cast<char16_t>(0xD800 + Below(0x400)));
        if (Chance(80)) text.push_back(static_cast<char16_t>(0xDC00 + Below(0x400)));
        break;
      case 3:
        if (Chance(10)) {
          text.push_back(0);
          break;
        }
        [[fallthrough]];
      default:
        text.push_back(static_cast<char16_t>(0x20 + Below(0x5F)));
        break;
    }
  }
  std::string hex = HexTitle(text);
  switch (Below(12)) {
    case 0:
      if (hex.size() >= 4) hex.resize(hex.size() - 1 - Below(3));
      break;  // not a multiple of 4
    case 1:
      for (char &c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      break;
    case 2:
      hex = Bytes(Below(20));
      break;
    case 3:
      hex.clear();
      break;
    default:
      break;
  }
  std::vector<std::string> fields = {"TITLE", Number(++messageNumber_), Number(WindowId()), hex, AnyNumber()};
  return Message(fields);
}

std::string SessionGenerator::Region() {
  // A window that moves takes its old shape out and puts the new one in: most changes are undone
  // later, so the shape stays as simple as the desktop's.
  if (!shapes_.empty() && Chance(45)) {
    const size_t which = Below(static_cast<uint32_t>(shapes_.size()));
    const std::string change = shapes_[which];
    shapes_.erase(shapes_.begin() + static_cast<std::ptrdiff_t>(which));
    return Message({"UPDATERGN", Number(++messageNumber_), change});
  }
  std::vector<Rect> rects;
  const uint32_t count = Chance(2) ? 100 + Below(400) : Below(8);
  for (uint32_t i = 0; i < count; ++i) {
    LONG left = static_cast<LONG>(Below(1600)) - 100, top = static_cast<LONG>(Below(1200)) - 100;
    Rect r{left, top, left + static_cast<LONG>(Below(800)), top + static_cast<LONG>(Below(600))};
    if (Chance(3))
      r = Rect{static_cast<LONG>(Draw()), static_cast<LONG>(Draw()), static_cast<LONG>(Draw()),
               static_cast<LONG>(Draw())};
    rects.push_back(r);
  }
  std::string block = RegionData(rects);
  switch (Below(14)) {
    case 0:
      SetU32(block, 8, count + 1 + Below(1000));
      break;  // counts more rectangles than it holds
    case 1:
      SetU32(block, 8, 0x10000000u + Below(16));
      break;
    case 2:
      SetU32(block, 0, Below(2) ? 0 : 31);
      break;  // a header of the wrong size
    case 3:
      SetU32(block, 4, 2);
      break;  // not a rectangle list
    case 4:
      block.resize(Below(static_cast<uint32_t>(block.size()) + 1));
      break;
    case 5:
      block = Bytes(Below(80));
      break;
    default:
      break;
  }
  const std::string change = Packed(block);
  if (shapes_.size() < 16) shapes_.push_back(change);
  return Message({"UPDATERGN", Number(++messageNumber_), change});
}

// The messages of one icon transfer, queued; the first is returned by the caller's Next().
void SessionGenerator::QueueIcon(const char *keyword, uint32_t owner) {
  Image image;
  image.width = 1 + static_cast<int>(Below(Chance(90) ? 32 : 64));
  image.height = Chance(80) ? image.width : 1 + static_cast<int>(Below(64));
  image.pixels.resize(static_cast<size_t>(image.width) * image.height);
  for (uint32_t &p : image.pixels) p = Draw() | (Chance(50) ? 0xFF000000u : 0);
  IconParts parts = IconPartsFromImage(image);
  switch (Below(12)) {
    case 0:
      parts.header.resize(Below(2) ? 39 : 41, '\0');
      break;
    case 1:
      SetU32(parts.header, 4, Below(2) ? 0 : 100000);
      break;  // width 0 or huge
    case 2:
      SetU32(parts.header, 8, 0x80000000u);
      break;  // height INT_MIN
    case 3:
      parts.header[14] = static_cast<char>("\x01\x04\x08\x10\x18"[Below(5)]);
      break;  // bits per pixel
    case 4:
      SetU32(parts.header, 16, 3);
      break;  // BI_BITFIELDS
    case 5:
      parts.color.resize(Below(static_cast<uint32_t>(parts.color.size()) + 1));
      break;  // short bits
    case 6:
      parts.mask.resize(Below(static_cast<uint32_t>(parts.mask.size()) + 1));
      break;
    case 7:
      SetU32(parts.header, 8, static_cast<uint32_t>(-image.height));
      break;  // top-down
    default:
      break;
  }
  const int size = Chance(50) ? 32 : 16;
  std::vector<std::string> messages =
      IconMessages(keyword, ++messageNumber_, owner, size, parts, Chance(30) ? 64 + Below(512) : 4096);
  if (Chance(15)) std::swap(messages[Below(static_cast<uint32_t>(messages.size()))], messages.back());
  if (Chance(10)) messages.erase(messages.begin() + Below(static_cast<uint32_t>(messages.size())));
  if (Chance(5)) {  // pieces that fail to unpack
    std::string &m = messages[Below(static_cast<uint32_t>(messages.size()))];
    m = m.substr(0, m.rfind(',') + 1) + Packed(Bytes(Below(100)));
  }
  queued_.insert(queued_.end(), messages.begin(), messages.end());
}

std::string SessionGenerator::IconPart(const char *keyword, uint32_t owner) {
  static const int kKinds[] = {0, 1, 2, 3, 11, 12, 13, 4, 10, 14, -1, 99, -2};
  const int kind = kKinds[Below(sizeof kKinds / sizeof kKinds[0])];
  return Message({keyword, Number(++messageNumber_), Number(owner), std::to_string(kind), "0", "0",
                  Chance(50) ? "32" : "16", Packed(Bytes(Below(Chance(50) ? 40 : 300)))});
}

std::string SessionGenerator::NotifyRecord() {
  testkit::NotifyRecord record;
  record.charType = Chance(90) ? (Chance(50) ? 'W' : 'A') : static_cast<char>(Draw());
  record.dwMessage = Chance(90) ? Below(3) : Draw();
  static const uint32_t kSizes[] = {0, 0, 0, 0, 4, 8, 20, 23, 24, 88, 152, 488, 504, 508, 936, 956, 1200};
  record.cbSize = kSizes[Below(sizeof kSizes / sizeof kSizes[0])];
  record.hWnd = Draw();
  record.uID = Below(6);
  record.uFlags = Chance(90) ? Below(32) : Draw();
  record.uCallbackMessage = Chance(20) ? 0 : 0x8000 + Below(0x100);
  record.hIcon = Chance(30) ? 0 : Draw() | 1;
  for (uint32_t i = 0, n = Below(20); i < n; ++i) record.tip.push_back(static_cast<char16_t>(0x20 + Below(0x500)));
  std::string bytes = NotifyRecordBytes(record);
  switch (Below(14)) {
    case 0:
      bytes.resize(Below(9));
      break;  // too short for its header
    case 1:
      SetU32(bytes, 5, 0x7FFFFFF0u + Below(16));
      break;  // a size far past the payload
    case 2:
      SetU32(bytes, 5, 0x80000000u + Below(16));
      break;  // negative size
    case 3:
      bytes.resize(5 + Below(static_cast<uint32_t>(bytes.size()) - 4));
      break;  // cut short
    default:
      break;
  }
  const uint32_t owner = WindowId();
  std::string message = Message(
      {"SYSTRAY", Number(++messageNumber_), Number(owner), "-1", "0", "0", Chance(50) ? "32" : "16", Packed(bytes)});
  if ((record.uFlags & 2) && record.hIcon && Chance(85)) QueueIcon("SYSTRAY", owner);
  return message;
}

std::string SessionGenerator::Other() {
  switch (Below(16)) {
    case 0:
      return Message({"ACK", AnyNumber(), AnyNumber()});
    case 1:
      return "SYNCBEGIN";
    case 2:
      return "SYNCEND";
    case 3:
      return Message({"ZCHANGE", AnyNumber(), AnyNumber(), AnyNumber(), AnyNumber()});
    case 4:
      return "HEARTBEAT";
    case 5:
      return "";
    case 6:
      return "hello,1,3";
    case 7:
      return "HELLO ";
    case 8:
      return Bytes(Below(200));
    case 9:
      return std::string(Below(50), ',');
    default: {  // a command short of the fields it reads
      static const char *const kKeywords[] = {"ACK",     "CREATE", "DESTROY", "SHOWWINDOW", "DESTROYGRP", "HELLO",
                                              "SETICON", "TITLE",  "ZCHANGE", "SYSTRAY",    "UPDATERGN"};
      std::vector<std::string> fields = {kKeywords[Below(sizeof kKeywords / sizeof kKeywords[0])]};
      for (uint32_t i = 0, n = Below(5); i < n; ++i) fields.push_back(Number(Below(100)));
      return Message(fields);
    }
  }
}

std::string SessionGenerator::Next() {
  std::string message;
  if (!queued_.empty() && Chance(90)) {
    message = queued_.front();
    queued_.erase(queued_.begin());
  } else {
    const uint32_t pick = Below(1000);
    if (pick < 2)
      message = Hello();
    else if (pick < 220)
      message = Create();
    else if (pick < 280)
      message = Destroy("DESTROY");
    else if (pick < 360)
      message = Destroy("SHOWWINDOW");
    else if (pick < 385)
      message = Destroy("DESTROYGRP");
    else if (pick < 500)
      message = Title();
    else if (pick < 620)
      message = Region();
    else if (pick < 700) {
      QueueIcon("SETICON", WindowId());
      message = queued_.front();
      queued_.erase(queued_.begin());
    } else if (pick < 740)
      message = IconPart("SETICON", WindowId());
    else if (pick < 830)
      message = NotifyRecord();
    else if (pick < 850)
      message = IconPart("SYSTRAY", WindowId());
    else
      message = Other();
  }
  // The agent may end its messages with a line end; the last field then carries it.
  if (Chance(3)) message += Chance(50) ? "\n" : "\r\n";
  return message;
}

std::vector<std::vector<std::string>> SessionGenerator::ValidExamples() {
  std::vector<std::vector<std::string>> examples;
  auto one = [&](std::initializer_list<std::string_view> fields) { examples.push_back({Message(fields)}); };
  one({"HELLO", "1", "2"});
  one({"HELLO", "1", "3"});
  one({"CREATE", "2", "0x10010", "7", "0", "0"});
  one({"CREATE", "3", "0x10020", "7", "0", "2"});
  one({"CREATE", "4", "0x10030", "8", "0x10010", "0"});
  one({"SHOWWINDOW", "5", "0x10010", "0"});
  one({"SHOWWINDOW", "6", "0x10020", "5"});
  one({"TITLE", "7", "0x10010", HexTitle(u"Notepad \u03A9"), "0"});
  one({"DESTROY", "8", "0x10030", "0"});
  one({"DESTROYGRP", "9", "7", "0"});
  one({"ACK", "0x1f", "17"});
  one({"SYNCBEGIN"});
  one({"SYNCEND"});
  one({"ZCHANGE", "10", "0x10010", "0", "0"});
  one({"HEARTBEAT"});
  one({"UPDATERGN", "11", PackPayload(RegionData({{0, 0, 640, 480}, {700, 100, 900, 300}}))});

  Image image;
  image.width = image.height = 16;
  for (int i = 0; i < 256; ++i) image.pixels.push_back(i % 3 ? 0xFF2060A0u : 0x00000000u);
  const IconParts parts = IconPartsFromImage(image);
  examples.push_back(IconMessages("SETICON", 12, 0x10010, 32, parts));
  examples.push_back(IconMessages("SETICON", 13, 0x10010, 16, parts, 256));

  testkit::NotifyRecord record;
  record.charType = 'W';
  record.uID = 1;
  record.uFlags = 1 | 4;  // NIF_MESSAGE | NIF_TIP
  record.uCallbackMessage = 0x8001;
  record.tip = u"Remote tray";
  one({"SYSTRAY", "14", "0x10040", "-1", "0", "0", "16", PackPayload(NotifyRecordBytes(record))});
  record.charType = 'A';
  record.uFlags = 1 | 2 | 4;
  record.hIcon = 0x1234;
  std::vector<std::string> withIcon = {
      Message({"SYSTRAY", "15", "0x10040", "-1", "0", "0", "32", PackPayload(NotifyRecordBytes(record))})};
  for (std::string &m : IconMessages("SYSTRAY", 16, 0x10040, 32, parts)) withIcon.push_back(m);
  examples.push_back(withIcon);
  record.dwMessage = 2;  // NIM_DELETE
  record.uFlags = 0;
  one({"SYSTRAY", "17", "0x10040", "-1", "0", "0", "16", PackPayload(NotifyRecordBytes(record))});
  return examples;
}

}  // namespace testkit
