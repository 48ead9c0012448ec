#include "window_scan.h"

#include <cstring>
#include <string>

namespace agent {

namespace {

// A window that does not answer WM_GETICON within this time is asked no further: a hung
// program must not stall the agent.
constexpr UINT kIconQueryMs = 100;
// The longest title read, in UTF-16 units (Win32 window texts are rarely longer).
constexpr int kMaxTitle = 32768;

// DWMWA_EXTENDED_FRAME_BOUNDS: the window's visible frame, without the invisible resize borders
// GetWindowRect includes where the desktop is composed.
constexpr DWORD kExtendedFrameBounds = 9;
using FrameBoundsCall = HRESULT(WINAPI *)(HWND, DWORD, void *, DWORD);

FrameBoundsCall FrameBounds() {
  static FrameBoundsCall call = [] {
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    return dwm ? reinterpret_cast<FrameBoundsCall>(
                     reinterpret_cast<void (*)()>(GetProcAddress(dwm, "DwmGetWindowAttribute")))
               : nullptr;
  }();
  return call;
}

bool IsShell(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  for (const wchar_t *shell : {L"Progman", L"WorkerW", L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"})
    if (wcscmp(name, shell) == 0) return true;
  return false;
}

std::u16string Title(HWND hwnd) {
  // InternalGetWindowText reads the text as stored, without a message to the window, so a hung
  // program cannot stall the agent; a full buffer means the title may go on.
  for (int size = 256;; size *= 4) {
    std::wstring text(static_cast<size_t>(size), L'\0');
    const int n = InternalGetWindowText(hwnd, text.data(), size);
    if (n < size - 1 || size >= kMaxTitle) {
      text.resize(static_cast<size_t>(n > 0 ? n : 0));
      if (!text.empty() && text.size() == static_cast<size_t>(size - 1) && text.back() >= 0xD800 &&
          text.back() <= 0xDBFF)
        text.pop_back();  // cut in a surrogate pair: no half character
      return std::u16string(text.begin(), text.end());
    }
  }
}

HICON AskIcon(HWND hwnd, WPARAM which) {
  DWORD_PTR icon = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETICON, which, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kIconQueryMs, &icon))
    return nullptr;
  return reinterpret_cast<HICON>(icon);
}

void Icons(HWND hwnd, WindowSnapshot *s) {
  HICON big = AskIcon(hwnd, ICON_BIG);
  if (!big) big = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICON));
  HICON small = AskIcon(hwnd, ICON_SMALL);
  if (!small) small = AskIcon(hwnd, ICON_SMALL2);
  if (!small) small = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICONSM));
  if (!small) small = big;
  s->bigIcon = reinterpret_cast<uintptr_t>(big);
  s->smallIcon = reinterpret_cast<uintptr_t>(small);
}

void Shape(HWND hwnd, const RECT &screen, WindowSnapshot *s) {
  if (IsIconic(hwnd)) return;
  RECT rect;
  if (!GetWindowRect(hwnd, &rect)) return;
  RECT visible;
  if (FrameBoundsCall bounds = FrameBounds();
      bounds && bounds(hwnd, kExtendedFrameBounds, &visible, sizeof visible) == S_OK)
    rect = visible;
  HRGN shape = CreateRectRgn(rect.left, rect.top, rect.right, rect.bottom);
  HRGN own = CreateRectRgn(0, 0, 0, 0);
  HRGN cut = CreateRectRgn(screen.left, screen.top, screen.right, screen.bottom);
  if (shape && own && cut) {
    // A window region is in window coordinates: from the top left corner of the window rectangle.
    RECT windowRect;
    const int kind = GetWindowRgn(hwnd, own);
    if ((kind == SIMPLEREGION || kind == COMPLEXREGION) && GetWindowRect(hwnd, &windowRect)) {
      OffsetRgn(own, windowRect.left, windowRect.top);
      CombineRgn(shape, shape, own, RGN_AND);
    }
    CombineRgn(shape, shape, cut, RGN_AND);
    OffsetRgn(shape, -screen.left, -screen.top);
    const DWORD size = GetRegionData(shape, 0, nullptr);
    if (size >= sizeof(RGNDATAHEADER)) {
      std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
      RGNDATA *data = reinterpret_cast<RGNDATA *>(buffer.data());
      if (GetRegionData(shape, size, data) == size) {
        const RECT *r = reinterpret_cast<const RECT *>(data->Buffer);
        for (DWORD i = 0; i < data->rdh.nCount && i < (size - sizeof(RGNDATAHEADER)) / sizeof(RECT); ++i)
          s->shape.push_back(wire::Rect{r[i].left, r[i].top, r[i].right, r[i].bottom});
      }
    }
  }
  for (HRGN r : {shape, own, cut})
    if (r) DeleteObject(r);
}

struct ScanState {
  const std::function<bool(uint32_t)> *reported;
  RECT screen;
  std::vector<WindowSnapshot> out;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM param) {
  ScanState &state = *reinterpret_cast<ScanState *>(param);
  WindowSnapshot s;
  s.handle = reinterpret_cast<uintptr_t>(hwnd);
  s.id = WindowId(hwnd);
  s.visible = IsWindowVisible(hwnd) != FALSE;
  if (!s.visible && !(*state.reported)(s.id)) return TRUE;
  if (IsShell(hwnd)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  s.group = process;
  HWND owner = GetWindow(hwnd, GW_OWNER);
  WindowTraits traits;
  traits.style = static_cast<uint32_t>(GetWindowLongW(hwnd, GWL_STYLE));
  traits.exStyle = static_cast<uint32_t>(GetWindowLongW(hwnd, GWL_EXSTYLE));
  traits.owned = owner != nullptr;
  s.kind = Classify(traits);
  s.ownerId = owner ? WindowId(owner) : 0;
  if (s.visible) {
    Shape(hwnd, state.screen, &s);
    if (s.kind != WindowKind::kShapeOnly) {
      s.described = true;
      s.title = Title(hwnd);
      Icons(hwnd, &s);
    }
  }
  state.out.push_back(std::move(s));
  return TRUE;
}

}  // namespace

uint32_t WindowId(HWND hwnd) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd)); }

std::vector<WindowSnapshot> ScanWindows(const std::function<bool(uint32_t)> &reported) {
  ScanState state;
  state.reported = &reported;
  state.screen.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  state.screen.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  state.screen.right = state.screen.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
  state.screen.bottom = state.screen.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&state));
  return std::move(state.out);
}

}  // namespace agent
