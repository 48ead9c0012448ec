// Notification records from the agent's 32-bit layout to the structure of this build's shell.
#include "appearance/notify_record.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/bytes.h"

namespace {

// A record as a 32-bit application lays it out: the shell's structure on that architecture, with
// handles of 32 bits. Char stands for the width of one character of the form (1 or 2 bytes).
template <typename Char>
struct WireRecord {
  uint32_t cbSize;
  uint32_t hWnd;
  uint32_t uID;
  uint32_t uFlags;
  uint32_t uCallbackMessage;
  uint32_t hIcon;
  Char szTip[128];
  uint32_t dwState;
  uint32_t dwStateMask;
  Char szInfo[256];
  uint32_t uVersion;  // or uTimeout, the same member
  Char szInfoTitle[64];
  uint32_t dwInfoFlags;
  unsigned char guidItem[16];
  uint32_t hBalloonIcon;
};
using WireRecordA = WireRecord<char>;
using WireRecordW = WireRecord<char16_t>;
static_assert(sizeof(WireRecordA) == 508 && sizeof(WireRecordW) == 956 && offsetof(WireRecordW, hIcon) == 20 &&
                  offsetof(WireRecordW, szTip) == 24,
              "the layout 32-bit applications give the shell");

// Where each version of a record structure ends: the first has a tip of 64 characters and ends
// there, the second ends before guidItem, the third before hBalloonIcon, the fourth is whole.
template <typename Record>
constexpr size_t VersionSize(int version) {
  switch (version) {
    case 1:
      return offsetof(Record, szTip) + sizeof(Record::szTip) / 2;
    case 2:
      return offsetof(Record, guidItem);
    case 3:
      return offsetof(Record, hBalloonIcon);
    default:
      return sizeof(Record);
  }
}

// The version a wire record of this size belongs to: the latest whose size it reaches, the first
// for anything shorter.
template <typename Wire>
int VersionOf(size_t wireSize) {
  for (int version = 4; version > 1; --version)
    if (wireSize >= VersionSize<Wire>(version)) return version;
  return 1;
}

// A handle of a 32-bit process as a 64-bit process takes it: sign-extended, the widening the
// system defines for handles shared between the two. The same value on a 32-bit build.
template <typename Handle>
Handle WidenHandle(uint32_t value) {
  return reinterpret_cast<Handle>(static_cast<INT_PTR>(static_cast<INT32>(value)));
}

constexpr bool kWireLayoutIsNative = sizeof(void *) == 4;

template <typename Native, typename Wire>
Native Rebuild(const unsigned char *wire, size_t wireSize) {
  static_assert(sizeof(Native::szTip) == sizeof(Wire::szTip) && sizeof(Native::szInfo) == sizeof(Wire::szInfo) &&
                    sizeof(Native::szInfoTitle) == sizeof(Wire::szInfoTitle) &&
                    sizeof(Native::guidItem) == sizeof(Wire::guidItem),
                "texts and the GUID are the same on both architectures");
  // The agent's bytes, zero past them: members they do not reach read as zero.
  unsigned char bytes[sizeof(Wire)] = {};
  std::memcpy(bytes, wire, std::min(wireSize, sizeof bytes));
  auto u32 = [&bytes](size_t offset) { return ReadU32(bytes + offset); };
  auto text = [&bytes](auto &to, size_t offset) { std::memcpy(to, bytes + offset, sizeof to); };

  Native n{};
  n.cbSize = u32(offsetof(Wire, cbSize));
  n.hWnd = WidenHandle<HWND>(u32(offsetof(Wire, hWnd)));
  n.uID = u32(offsetof(Wire, uID));
  n.uFlags = u32(offsetof(Wire, uFlags));
  n.uCallbackMessage = u32(offsetof(Wire, uCallbackMessage));
  n.hIcon = WidenHandle<HICON>(u32(offsetof(Wire, hIcon)));
  text(n.szTip, offsetof(Wire, szTip));
  n.dwState = u32(offsetof(Wire, dwState));
  n.dwStateMask = u32(offsetof(Wire, dwStateMask));
  text(n.szInfo, offsetof(Wire, szInfo));
  n.uVersion = u32(offsetof(Wire, uVersion));
  text(n.szInfoTitle, offsetof(Wire, szInfoTitle));
  n.dwInfoFlags = u32(offsetof(Wire, dwInfoFlags));
  std::memcpy(&n.guidItem, bytes + offsetof(Wire, guidItem), sizeof n.guidItem);
  n.hBalloonIcon = WidenHandle<HICON>(u32(offsetof(Wire, hBalloonIcon)));

  if (kWireLayoutIsNative) {
    // The agent's size as it came, but never more than this structure holds: a shell that took a
    // larger cbSize at its word would read past the record.
    n.cbSize = static_cast<DWORD>(std::min<size_t>(n.cbSize, sizeof n));
  } else {
    // The shell reads as much as cbSize says: the native size of the record's version, and nothing
    // of a later version the agent's size only partly reached.
    const size_t nativeSize = VersionSize<Native>(VersionOf<Wire>(wireSize));
    std::memset(reinterpret_cast<unsigned char *>(&n) + nativeSize, 0, sizeof n - nativeSize);
    n.cbSize = static_cast<DWORD>(nativeSize);
  }
  return n;
}

}  // namespace

bool RebuildNotifyRecord(char charType, const unsigned char *wire, size_t wireSize, NativeNotifyRecord *native) {
  if (wireSize < kMinWireNotifyRecordSize) return false;
  if (charType == 'A') {
    native->charType = 'A';
    native->a = Rebuild<NOTIFYICONDATAA, WireRecordA>(wire, wireSize);
    return true;
  }
  if (charType == 'W') {
    native->charType = 'W';
    native->w = Rebuild<NOTIFYICONDATAW, WireRecordW>(wire, wireSize);
    return true;
  }
  return false;
}
