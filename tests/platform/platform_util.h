// Shared by the platform tests: windows of a recording class (ANSI or Unicode procedure) that
// note the messages the add-in's behaviour depends on, in the order they arrive.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace platformtest {

struct Event {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Event &o) const {
    return hwnd == o.hwnd && message == o.message && wParam == o.wParam && lParam == o.lParam;
  }
};

inline std::vector<Event> &Events() {
  static std::vector<Event> events;
  return events;
}

inline bool Recorded(UINT message) {
  switch (message) {
    case WM_CREATE:
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_ACTIVATE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_USER:
      return true;
    default:
      return false;
  }
}

// While `first` handles WM_DESTROY, `second` is destroyed too: for re-entrancy tests.
struct DestroyPair {
  HWND first = nullptr;
  HWND second = nullptr;
};
inline DestroyPair &DestroyAlsoOnDestroy() {
  static DestroyPair pair;
  return pair;
}

inline void OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Recorded(message)) Events().push_back({hwnd, message, wParam, lParam});
  if (message == WM_DESTROY && DestroyAlsoOnDestroy().first == hwnd) {
    HWND other = DestroyAlsoOnDestroy().second;
    DestroyAlsoOnDestroy() = {};
    DestroyWindow(other);
  }
}

inline LRESULT CALLBACK RecordingProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  OnMessage(hwnd, message, wParam, lParam);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

inline LRESULT CALLBACK RecordingProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  OnMessage(hwnd, message, wParam, lParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

constexpr const char *kClassA = "PlatformTestA";
constexpr const char *kClassW = "PlatformTestW";

inline void RegisterClasses() {
  WNDCLASSA a = {};
  a.lpfnWndProc = RecordingProcA;
  a.lpszClassName = kClassA;
  RegisterClassA(&a);
  WNDCLASSW w = {};
  w.lpfnWndProc = RecordingProcW;
  w.lpszClassName = reinterpret_cast<LPCWSTR>(u"PlatformTestW");
  RegisterClassW(&w);
}

inline HWND MakeWindow(DWORD style, HWND parent = nullptr, DWORD exStyle = 0, const char *title = "",
                       const char *cls = kClassA) {
  RegisterClasses();
  return CreateWindowExA(exStyle, cls, title, style, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
}

// The recorded events of one kind of message, or all of them, and forgets them all.
inline std::vector<Event> TakeEvents() {
  std::vector<Event> events;
  events.swap(Events());
  return events;
}

inline Event Ev(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return {hwnd, message, wParam, lParam};
}
inline Event Ev(HWND hwnd, UINT message, HWND wParam, HWND lParam = nullptr) {
  return {hwnd, message, reinterpret_cast<WPARAM>(wParam), reinterpret_cast<LPARAM>(lParam)};
}

inline void PrintTo(const Event &e, std::ostream *os) {
  *os << "{hwnd " << e.hwnd << ", msg 0x" << std::hex << e.message << ", w 0x" << e.wParam << ", l 0x" << e.lParam
      << std::dec << "}";
}

inline std::vector<HWND> ZOrder(HWND first) {
  std::vector<HWND> order;
  for (HWND h = GetWindow(first, GW_HWNDFIRST); h; h = GetWindow(h, GW_HWNDNEXT)) order.push_back(h);
  return order;
}

// Only the given windows, in the order they appear.
inline std::vector<HWND> Only(const std::vector<HWND> &order, const std::vector<HWND> &windows) {
  std::vector<HWND> result;
  for (HWND h : order)
    for (HWND w : windows)
      if (h == w) result.push_back(h);
  return result;
}

}  // namespace platformtest
