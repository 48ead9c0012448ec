// Notification records the agent sends in the 32-bit layout, as the shell of this build gets them:
// on 64-bit every version of both forms, sizes between and below the versions, widened handles; on
// 32-bit the record exactly as it came.
#include "appearance/notify_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "encode.h"

namespace {

// Every member set, texts longer than the first version's 64-character tip, handles with and
// without the top bit.
testkit::NotifyRecord Filled(char charType) {
  testkit::NotifyRecord r;
  r.charType = charType;
  r.hWnd = 0x80001234;
  r.uID = 7;
  r.uFlags = 0x3F;
  r.uCallbackMessage = 0x8001;
  r.hIcon = 0x00020004;
  for (int i = 0; i < 100; ++i) r.tip.push_back(static_cast<char16_t>(u'a' + i % 26));
  r.tip[1] = u'\u00e9';
  r.dwState = 1;
  r.dwStateMask = 3;
  for (int i = 0; i < 200; ++i) r.info.push_back(static_cast<char16_t>(u'A' + i % 26));
  r.uVersion = 4;
  r.infoTitle = u"Balloon title \u4e2d";
  r.dwInfoFlags = 0x24;
  for (int i = 0; i < 16; ++i) r.guidItem[i] = static_cast<uint8_t>(0xA0 + i);
  r.hBalloonIcon = 0xC0DE0010;
  return r;
}

// The record's cbSize bytes in the 32-bit layout, without the CharType and dwMessage in front.
std::string Wire(testkit::NotifyRecord r, uint32_t size) {
  r.cbSize = size;
  return testkit::NotifyRecordBytes(r).substr(5);
}

bool Rebuild(char charType, const std::string &wire, NativeNotifyRecord *native) {
  return RebuildNotifyRecord(charType, reinterpret_cast<const unsigned char *>(wire.data()), wire.size(), native);
}

// Characters up to the first zero; anything but printable ASCII as \uXXXX.
template <typename Char, size_t N>
std::string Text(const Char (&field)[N]) {
  std::u16string text;
  for (size_t i = 0; i < N && field[i]; ++i) text.push_back(static_cast<char16_t>(static_cast<uint16_t>(field[i])));
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    }
  }
  return '"' + out + '"';
}

std::string Hex(unsigned long long value) {
  char text[24];
  snprintf(text, sizeof text, "%llx", value);
  return text;
}

template <typename Handle>
std::string HandleValue(Handle handle) {
  return Hex(reinterpret_cast<UINT_PTR>(handle));
}

// Every member of the native record, by name.
template <typename Native>
std::string Describe(const Native &n) {
  std::string guid;
  for (size_t i = 0; i < sizeof n.guidItem; ++i) guid += Hex(reinterpret_cast<const unsigned char *>(&n.guidItem)[i]);
  return "cbSize=" + std::to_string(n.cbSize) + " hWnd=" + HandleValue(n.hWnd) + " uID=" + std::to_string(n.uID) +
         " uFlags=" + Hex(n.uFlags) + " uCallbackMessage=" + Hex(n.uCallbackMessage) +
         " hIcon=" + HandleValue(n.hIcon) + "\nszTip=" + Text(n.szTip) + "\ndwState=" + std::to_string(n.dwState) +
         " dwStateMask=" + std::to_string(n.dwStateMask) + "\nszInfo=" + Text(n.szInfo) +
         "\nuVersion=" + std::to_string(n.uVersion) + " szInfoTitle=" + Text(n.szInfoTitle) +
         " dwInfoFlags=" + Hex(n.dwInfoFlags) + "\nguidItem=" + guid + " hBalloonIcon=" + HandleValue(n.hBalloonIcon);
}

#if defined(_WIN64)

std::string Describe(const NativeNotifyRecord &record) {
  return record.charType == 'A' ? Describe(record.a) : Describe(record.w);
}

// The first `characters` characters of a text as the record's form holds it.
template <typename Char>
void PutText(Char *field, const std::u16string &text, size_t characters) {
  for (size_t i = 0; i < text.size() && i < characters; ++i)
    field[i] = std::is_same_v<Char, char> && text[i] >= 0x80 ? '?' : static_cast<Char>(text[i]);
}

// What the 64-bit shell must get for Filled(form) sent with a size of the given version: the
// members that version holds, handles sign-extended, the rest zero. tipCharacters: how much of the
// tip the agent's bytes reached.
template <typename Native>
std::string Expected(const testkit::NotifyRecord &r, int version, DWORD cbSize, size_t tipCharacters) {
  Native n{};
  n.cbSize = cbSize;
  n.hWnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0xFFFFFFFF80001234ull));
  n.uID = 7;
  n.uFlags = 0x3F;
  n.uCallbackMessage = 0x8001;
  n.hIcon = reinterpret_cast<HICON>(static_cast<UINT_PTR>(0x20004));
  PutText(n.szTip, r.tip, tipCharacters);
  if (version >= 2) {
    n.dwState = 1;
    n.dwStateMask = 3;
    PutText(n.szInfo, r.info, 255);
    n.uVersion = 4;
    PutText(n.szInfoTitle, r.infoTitle, 63);
    n.dwInfoFlags = 0x24;
  }
  if (version >= 3) std::memcpy(&n.guidItem, r.guidItem, sizeof n.guidItem);
  if (version >= 4) n.hBalloonIcon = reinterpret_cast<HICON>(static_cast<UINT_PTR>(0xFFFFFFFFC0DE0010ull));
  return Describe(n);
}

struct Sizes {
  char charType;
  uint32_t wire;   // the record's size as the agent sent it
  DWORD native;    // the size the 64-bit shell must be given
  int version;     // the version that size stands for
  size_t tip = 0;  // characters of the tip the agent's bytes reached; 0: what the version holds
};

std::string Check(const Sizes &s) {
  const testkit::NotifyRecord record = Filled(s.charType);
  NativeNotifyRecord native;
  if (!Rebuild(s.charType, Wire(record, s.wire), &native)) return "rejected";
  if (native.charType != s.charType) return std::string("form ") + native.charType;
  const size_t tip = s.tip ? s.tip : s.version == 1 ? 64 : 127;
  const std::string expected = s.charType == 'A' ? Expected<NOTIFYICONDATAA>(record, s.version, s.native, tip)
                                                 : Expected<NOTIFYICONDATAW>(record, s.version, s.native, tip);
  const std::string got = Describe(native);
  return got == expected ? "" : "got\n" + got + "\nexpected\n" + expected;
}

TEST(NotifyRecord64, EveryVersionOfBothFormsBecomesTheNativeStructureOfThatVersion) {
  static_assert(sizeof(NOTIFYICONDATAW) == 976 && sizeof(NOTIFYICONDATAA) == 528, "the 64-bit structures");
  for (const Sizes &s :
       {Sizes{'W', 152, 168, 1}, Sizes{'W', 936, 952, 2}, Sizes{'W', 952, 968, 3}, Sizes{'W', 956, 976, 4},
        Sizes{'A', 88, 104, 1}, Sizes{'A', 488, 504, 2}, Sizes{'A', 504, 520, 3}, Sizes{'A', 508, 528, 4}})
    EXPECT_EQ(Check(s), "") << s.charType << " " << s.wire;
}

TEST(NotifyRecord64, SizesBetweenVersionsTakeTheLargestVersionNotLarger) {
  for (const Sizes &s :
       {Sizes{'W', 153, 168, 1}, Sizes{'W', 500, 168, 1}, Sizes{'W', 935, 168, 1}, Sizes{'W', 937, 952, 2},
        Sizes{'W', 951, 952, 2}, Sizes{'W', 955, 968, 3}, Sizes{'W', 957, 976, 4}, Sizes{'W', 4000, 976, 4},
        Sizes{'A', 89, 104, 1}, Sizes{'A', 487, 104, 1}, Sizes{'A', 489, 504, 2}, Sizes{'A', 507, 520, 3},
        Sizes{'A', 509, 528, 4}})
    EXPECT_EQ(Check(s), "") << s.charType << " " << s.wire;
}

TEST(NotifyRecord64, RecordsShorterThanTheFirstVersionBecomeItWithTheMissingMembersZero) {
  // 24 bytes end with hIcon; the tip has as many characters as the bytes reach.
  for (const Sizes &s : {Sizes{'W', 24, 168, 1, 0}, Sizes{'W', 30, 168, 1, 3}, Sizes{'W', 150, 168, 1, 63},
                         Sizes{'A', 24, 104, 1, 0}, Sizes{'A', 31, 104, 1, 7}, Sizes{'A', 87, 104, 1, 63}}) {
    const testkit::NotifyRecord record = Filled(s.charType);
    NativeNotifyRecord native;
    ASSERT_TRUE(Rebuild(s.charType, Wire(record, s.wire), &native));
    const std::string expected = s.charType == 'A' ? Expected<NOTIFYICONDATAA>(record, 1, s.native, s.tip)
                                                   : Expected<NOTIFYICONDATAW>(record, 1, s.native, s.tip);
    EXPECT_EQ(Describe(native), expected) << s.charType << " " << s.wire;
  }
}

TEST(NotifyRecord64, HandlesWithoutTheTopBitAreWidenedWithZeros) {
  testkit::NotifyRecord record = Filled('W');
  record.hWnd = 0x7FFF0001;
  record.hIcon = 0;
  record.hBalloonIcon = 0x00010001;
  NativeNotifyRecord native;
  ASSERT_TRUE(Rebuild('W', Wire(record, 956), &native));
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(native.w.hWnd), 0x7FFF0001u);
  EXPECT_EQ(native.w.hIcon, nullptr);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(native.w.hBalloonIcon), 0x00010001u);
}

#else

TEST(NotifyRecord32, TheRecordReachesTheShellAsItCameUpToTheWholeStructure) {
  static_assert(sizeof(NOTIFYICONDATAW) == 956 && sizeof(NOTIFYICONDATAA) == 508, "the 32-bit structures");
  for (char form : {'A', 'W'}) {
    for (uint32_t size : {24u, 30u, 88u, 152u, 500u, 504u, 508u, 936u, 952u, 956u, 2000u}) {
      const std::string wire = Wire(Filled(form), size);
      NativeNotifyRecord native;
      ASSERT_TRUE(Rebuild(form, wire, &native));
      const size_t structure = form == 'A' ? sizeof native.a : sizeof native.w;
      const unsigned char *bytes = form == 'A' ? reinterpret_cast<const unsigned char *>(&native.a)
                                               : reinterpret_cast<const unsigned char *>(&native.w);
      // The agent's bytes, zero past them; the size kept, up to the whole structure's.
      std::string expected = wire.substr(0, structure);
      expected.resize(structure, '\0');
      testkit::SetU32(expected, 0, static_cast<uint32_t>(std::min<size_t>(size, structure)));
      EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes), structure), expected) << form << " " << size;
    }
  }
}

#endif

TEST(NotifyRecord, TheMembersTheMirrorSetsAreThoseOfTheRecordsForm) {
  for (char form : {'A', 'W'}) {
    NativeNotifyRecord native;
    ASSERT_TRUE(Rebuild(form, Wire(Filled(form), 956), &native));
    const HWND proxy = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x00450012));
    native.hWnd() = proxy;
    native.uCallbackMessage() = WM_USER + 14;
    EXPECT_EQ(form == 'A' ? native.a.hWnd : native.w.hWnd, proxy);
    EXPECT_EQ(form == 'A' ? native.a.uCallbackMessage : native.w.uCallbackMessage, WM_USER + 14u);
    EXPECT_EQ(native.uID(), 7u);
    EXPECT_EQ(native.uFlags(), 0x3Fu);
    EXPECT_EQ((form == 'A' ? Text(native.a.szTip) : Text(native.w.szTip)).substr(0, 8),
              form == 'A' ? "\"a?cdefg" : "\"a\\u00e9");
  }
}

TEST(NotifyRecord, UnknownFormsAndRecordsEndingBeforeHIconAreRejected) {
  NativeNotifyRecord native;
  native.charType = 'W';
  native.w.uID = 99;
  const std::string wire = Wire(Filled('W'), 956);
  EXPECT_FALSE(Rebuild('X', wire, &native));
  EXPECT_FALSE(Rebuild('W', wire.substr(0, 23), &native));
  EXPECT_FALSE(Rebuild('A', std::string(), &native));
  EXPECT_EQ(native.charType, 'W');
  EXPECT_EQ(native.w.uID, 99u) << "a rejected record leaves the previous one alone";
}

}  // namespace
