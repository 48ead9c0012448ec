// TITLE: the remote window's title given to its local window.
#include "mirror/title.h"

#include "mirror/window_data.h"

#include <cstring>

namespace {

unsigned DigitValue(WCHAR c) { return c >= '0' && c <= '9' ? c - 48u : c - 55u; }

std::basic_string<WCHAR> Widen(const char *text) {
  std::basic_string<WCHAR> wide;
  const int length = static_cast<int>(strlen(text));
  const int units = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (units <= 0) return wide;
  wide.resize(static_cast<size_t>(units));
  MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), units);
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
    const unsigned unit = 4096u * DigitValue(c[0]) + 256u * DigitValue(c[1]) + 16u * DigitValue(c[2]) + DigitValue(c[3]);
    decoded[i] = static_cast<WCHAR>(unit & 0xFFFF);
  }
  return decoded;
}

int OnTitle(UINT32, UINT32 remoteWnd, const char *hexTitle, INT32) {
  if (!hexTitle || !*hexTitle) return 0;
  const std::basic_string<WCHAR> wide = Widen(hexTitle);
  if (wide.empty()) return 0;
  CWindowData *record = FindWindowData(remoteWnd);
  if (!record) return 0;
  std::basic_string<WCHAR> title = DecodeHexText(wide);
  // The title ends at its first zero unit.
  title.resize(std::char_traits<WCHAR>::length(title.c_str()));
  record->m_strTitle = Narrow(title.c_str());
  record->m_strTitleW = title;
  // Stored as UTF-16 end to end: the Unicode default handling keeps every character, where
  // SetWindowTextW would pass through the window's ANSI procedure and lose what the ANSI code
  // page cannot hold.
  if (record->m_hWnd) DefWindowProcW(record->m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()));
  return 1;
}
