// TITLE: the remote window's title given to its local window.
#include "mirror/title.h"

#include "common/debug_log.h"
#include "mirror/window_data.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

unsigned DigitValue(WCHAR c) { return c >= '0' && c <= '9' ? c - 48u : c - 55u; }

// Longest title kept, in UTF-16 units: far more than a taskbar button or a task switcher shows.
constexpr size_t kMaxTitleUnits = 4096;

bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(WCHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::basic_string<WCHAR> Widen(std::string_view text) {
  std::basic_string<WCHAR> wide;
  const int length = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return wide;
  wide.resize(static_cast<size_t>(units));
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units);
  return wide;
}

std::string Narrow(const WCHAR *text) {
  std::string narrow;
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return narrow;
  narrow.resize(static_cast<size_t>(bytes));
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), bytes, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(bytes - 1));
  return narrow;
}

}  // namespace

std::basic_string<WCHAR> DecodeHexText(std::basic_string_view<WCHAR> text) {
  std::basic_string<WCHAR> decoded;
  if (text.size() % 4 != 0) return decoded;
  decoded.resize(text.size() / 4);
  for (size_t i = 0; i < decoded.size(); ++i) {
    const WCHAR *c = text.data() + 4 * i;
    const unsigned unit =
        4096u * DigitValue(c[0]) + 256u * DigitValue(c[1]) + 16u * DigitValue(c[2]) + DigitValue(c[3]);
    decoded[i] = static_cast<WCHAR>(unit & 0xFFFF);
  }
  return decoded;
}

int OnTitle(UINT32, UINT32 remoteWnd, std::string_view hexTitle, INT32) {
  hexTitle = hexTitle.substr(0, hexTitle.find('\0'));  // the field is text: it ends at a zero byte
  if (hexTitle.empty() || hexTitle.size() > static_cast<size_t>(INT_MAX)) return 0;
  // The text as UTF-16 units, counted without widening it all: only what a kept title needs is
  // widened, so a long field costs no memory of its own.
  const int units = MultiByteToWideChar(CP_ACP, 0, hexTitle.data(), static_cast<int>(hexTitle.size()), nullptr, 0);
  if (units <= 0) return 0;
  CWindowData *record = FindWindowData(remoteWnd);
  if (!record) return 0;
  std::basic_string<WCHAR> title;
  if (units % 4 == 0) {
    // One unit past the longest title, to see whether a cut would split a surrogate pair.
    const size_t needed = std::min(static_cast<size_t>(units), 4 * (kMaxTitleUnits + 1));
    // No character of a code page takes more than four bytes, and each gives at least one unit.
    const size_t prefix = std::min(hexTitle.size(), 4 * needed + 4);
    const std::basic_string<WCHAR> wide = Widen(hexTitle.substr(0, prefix));
    title = DecodeHexText(std::basic_string_view<WCHAR>(wide).substr(0, needed));
  }
  // The title ends at its first zero unit.
  title.resize(std::char_traits<WCHAR>::length(title.c_str()));
  if (title.size() > kMaxTitleUnits) {
    LogDebug("Title of remote window %.8X cut to %u units\n", static_cast<unsigned>(remoteWnd),
             static_cast<unsigned>(kMaxTitleUnits));
    const bool splitsPair = IsHighSurrogate(title[kMaxTitleUnits - 1]) && IsLowSurrogate(title[kMaxTitleUnits]);
    title.resize(splitsPair ? kMaxTitleUnits - 1 : kMaxTitleUnits);
  }
  record->m_strTitle = Narrow(title.c_str());
  record->m_strTitleW = title;
  // Stored as UTF-16 end to end: the Unicode default handling keeps every character, where
  // SetWindowTextW would pass through the window's ANSI procedure and lose what the ANSI code
  // page cannot hold.
  if (record->m_hWnd) DefWindowProcW(record->m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()));
  return 1;
}
