// winsim shell32: the notification area. A table keyed by (hWnd, uID) of the icons that
// Shell_NotifyIconA/W add, change and delete. The shell reads only the first cbSize bytes of a
// record, knows the record sizes of the earlier versions (other sizes get the first version's
// fields), and keeps its own copy of the icon.
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <type_traits>

#include "user_internal.h"

namespace winsim::detail {
namespace {

struct TrayIcon {
  UINT flags = 0;
  UINT callbackMessage = 0;
  UINT version = 0;
  std::u16string tip;
  HICON icon = nullptr;  // the table's copy
  DWORD state = 0;
  HICON balloonIcon = nullptr;  // as the latest record that reached it gave it
};

std::map<std::pair<HWND, UINT>, TrayIcon> &Table() {
  static auto *table = new std::map<std::pair<HWND, UINT>, TrayIcon>;
  return *table;
}

// Where the fields of the two record forms are. Both have the fields up to the tip at the same
// offsets, and tips of the same length in characters.
struct Layout {
  size_t charSize;
  size_t sizes[4];  // version 1, 2, 3 and the full record
  size_t state, stateMask, version, balloonIcon;
};
constexpr Layout kAnsi = {
    sizeof(CHAR),
    {NOTIFYICONDATAA_V1_SIZE, NOTIFYICONDATAA_V2_SIZE, NOTIFYICONDATAA_V3_SIZE, sizeof(NOTIFYICONDATAA)},
    offsetof(NOTIFYICONDATAA, dwState),
    offsetof(NOTIFYICONDATAA, dwStateMask),
    offsetof(NOTIFYICONDATAA, uVersion),
    offsetof(NOTIFYICONDATAA, hBalloonIcon)};
constexpr Layout kWide = {
    sizeof(WCHAR),
    {NOTIFYICONDATAW_V1_SIZE, NOTIFYICONDATAW_V2_SIZE, NOTIFYICONDATAW_V3_SIZE, sizeof(NOTIFYICONDATAW)},
    offsetof(NOTIFYICONDATAW, dwState),
    offsetof(NOTIFYICONDATAW, dwStateMask),
    offsetof(NOTIFYICONDATAW, uVersion),
    offsetof(NOTIFYICONDATAW, hBalloonIcon)};
constexpr size_t kWindowOffset = offsetof(NOTIFYICONDATAA, hWnd);
constexpr size_t kIdOffset = offsetof(NOTIFYICONDATAA, uID);
constexpr size_t kFlagsOffset = offsetof(NOTIFYICONDATAA, uFlags);
constexpr size_t kCallbackOffset = offsetof(NOTIFYICONDATAA, uCallbackMessage);
constexpr size_t kIconOffset = offsetof(NOTIFYICONDATAA, hIcon);
constexpr size_t kTipOffset = offsetof(NOTIFYICONDATAA, szTip);
constexpr size_t kTipChars = std::extent_v<decltype(NOTIFYICONDATAA::szTip)>;
static_assert(kTipOffset == offsetof(NOTIFYICONDATAW, szTip) &&
              kTipChars == std::extent_v<decltype(NOTIFYICONDATAW::szTip)>);

class Record {
 public:
  Record(const void *data, const Layout &layout) : data_(static_cast<const BYTE *>(data)), layout_(layout) {
    DWORD cbSize;
    std::memcpy(&cbSize, data_, sizeof cbSize);
    size_ = cbSize;
    if (std::find(std::begin(layout.sizes), std::end(layout.sizes), size_) == std::end(layout.sizes))
      size_ = std::min(size_, layout.sizes[0]);
  }
  bool Has(size_t offset, size_t length) const { return offset + length <= size_; }
  DWORD Dword(size_t offset) const {
    DWORD value = 0;
    if (Has(offset, sizeof value)) std::memcpy(&value, data_ + offset, sizeof value);
    return value;
  }
  std::u16string Tip() const {
    size_t chars = size_ > kTipOffset ? std::min(kTipChars, (size_ - kTipOffset) / layout_.charSize) : 0;
    if (layout_.charSize == sizeof(WCHAR)) {
      std::u16string tip;
      for (size_t i = 0; i < chars; ++i) {
        char16_t c;
        std::memcpy(&c, data_ + kTipOffset + i * sizeof c, sizeof c);
        if (!c) break;
        tip.push_back(c);
      }
      return tip;
    }
    const char *text = reinterpret_cast<const char *>(data_ + kTipOffset);
    size_t length = 0;
    while (length < chars && text[length]) ++length;
    return FromAnsi(std::string_view(text, length));
  }
  const Layout &layout() const { return layout_; }

 private:
  const BYTE *data_;
  const Layout &layout_;
  size_t size_;
};

void ReplaceIconLocked(TrayIcon &entry, HICON source) {
  if (entry.icon) RemoveObjectLocked(entry.icon);
  entry.icon = nullptr;
  Icon *icon = FindLocked<Icon>(source, GdiKind::Icon);
  if (!icon) return;  // an invalid handle leaves the entry without an icon, as the shell does
  auto copy = std::make_unique<Icon>(*icon);
  copy->stock = true;  // the shell's, not the caller's: not counted, not destroyable
  entry.icon = static_cast<HICON>(AddObjectLocked(std::move(copy)));
}

void ApplyLocked(TrayIcon &entry, const Record &record) {
  UINT flags = record.Dword(kFlagsOffset);
  if ((flags & NIF_MESSAGE) && record.Has(kCallbackOffset, sizeof(DWORD))) {
    entry.callbackMessage = record.Dword(kCallbackOffset);
    entry.flags |= NIF_MESSAGE;
  }
  if ((flags & NIF_ICON) && record.Has(kIconOffset, sizeof(DWORD))) {
    ReplaceIconLocked(entry, reinterpret_cast<HICON>(static_cast<uintptr_t>(record.Dword(kIconOffset))));
    entry.flags |= NIF_ICON;
  }
  if ((flags & NIF_TIP) && record.Has(kTipOffset, record.layout().charSize)) {
    entry.tip = record.Tip();
    entry.flags |= NIF_TIP;
  }
  if ((flags & NIF_STATE) && record.Has(record.layout().stateMask, sizeof(DWORD))) {
    DWORD mask = record.Dword(record.layout().stateMask);
    entry.state = (entry.state & ~mask) | (record.Dword(record.layout().state) & mask);
    entry.flags |= NIF_STATE;
  }
  if (record.Has(record.layout().balloonIcon, sizeof(DWORD)))
    entry.balloonIcon = reinterpret_cast<HICON>(static_cast<uintptr_t>(record.Dword(record.layout().balloonIcon)));
  entry.flags |= flags & (NIF_INFO | NIF_GUID | NIF_REALTIME | NIF_SHOWTIP);
}

BOOL NotifyIcon(DWORD message, const void *data, const Layout &layout) {
  if (!data) return FALSE;
  Record record(data, layout);
  if (!record.Has(kIdOffset, sizeof(DWORD))) return FALSE;  // too short for the key
  std::pair<HWND, UINT> key(reinterpret_cast<HWND>(static_cast<uintptr_t>(record.Dword(kWindowOffset))),
                            record.Dword(kIdOffset));
  Guard guard(Lock());
  auto &table = Table();
  auto it = table.find(key);
  switch (message) {
    case NIM_ADD:
      if (it != table.end()) return FALSE;
      ApplyLocked(table[key], record);
      return TRUE;
    case NIM_MODIFY:
      if (it == table.end()) return FALSE;
      ApplyLocked(it->second, record);
      return TRUE;
    case NIM_DELETE:
      if (it == table.end()) return FALSE;
      if (it->second.icon) RemoveObjectLocked(it->second.icon);
      table.erase(it);
      return TRUE;
    case NIM_SETFOCUS:
      return it != table.end();
    case NIM_SETVERSION:
      if (it == table.end() || !record.Has(layout.version, sizeof(DWORD))) return FALSE;
      it->second.version = record.Dword(layout.version);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace
}  // namespace winsim::detail

extern "C" {

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
  return winsim::detail::NotifyIcon(message, data, winsim::detail::kAnsi);
}

BOOL WINAPI Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data) {
  return winsim::detail::NotifyIcon(message, data, winsim::detail::kWide);
}

}  // extern "C"

namespace winsim {

std::vector<NotifyIconEntry> NotifyIcons() {
  detail::Guard guard(detail::Lock());
  std::vector<NotifyIconEntry> result;
  for (auto &[key, icon] : detail::Table()) {
    NotifyIconEntry entry;
    entry.hWnd = key.first;
    entry.uID = key.second;
    entry.uFlags = icon.flags;
    entry.uCallbackMessage = icon.callbackMessage;
    entry.uVersion = icon.version;
    entry.tip = icon.tip;
    entry.hIcon = icon.icon;
    entry.dwState = icon.state;
    entry.hBalloonIcon = icon.balloonIcon;
    result.push_back(entry);
  }
  return result;
}

bool ClickNotifyIcon(HWND hWnd, UINT uID, UINT mouseMessage) {
  UINT callback, version;
  {
    detail::Guard guard(detail::Lock());
    auto it = detail::Table().find({hWnd, uID});
    if (it == detail::Table().end() || !(it->second.flags & NIF_MESSAGE)) return false;
    callback = it->second.callbackMessage;
    version = it->second.version;
  }
  if (version >= NOTIFYICON_VERSION_4) {
    POINT cursor;
    GetCursorPos(&cursor);
    SendMessageA(hWnd, callback, MAKEWPARAM(cursor.x, cursor.y), MAKELPARAM(mouseMessage, uID));
  } else {
    SendMessageA(hWnd, callback, uID, static_cast<LPARAM>(mouseMessage));
  }
  return true;
}

}  // namespace winsim
