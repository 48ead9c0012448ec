// winsim's window manager and GDI object table, shared by the user32, gdi32 and shell32 sources.
// One process-wide lock guards all of it; no window procedure is ever called while it is held.
#pragma once

#include <windows.h>

#include <pixman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "text_out.h"
#include "winsim_inspect_user.h"

#define ERROR_TLW_WITH_WSCHILD 1406L

namespace winsim::detail {

std::recursive_mutex &Lock();
using Guard = std::lock_guard<std::recursive_mutex>;

// Handle values are never reused, so a stale handle stays invalid.
uintptr_t NewHandleValue();

// CreateDIBitmap calls left until one fails (0: none fails); set by FailBitmapCreation.
inline std::atomic<int> g_failBitmapCountdown{0};

// ---- text ---------------------------------------------------------------------------------------
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view text);

// ---- windows ------------------------------------------------------------------------------------
// A z-order list, top first. A deque, so that raising a window to the top of a long list, or
// removing one near the top, moves few handles.
using ZOrder = std::deque<HWND>;

struct WindowClass {
  std::u16string name;
  ATOM atom = 0;
  UINT style = 0;
  WNDPROC proc = nullptr;
  bool ansi = true;
  int wndExtra = 0;
  HINSTANCE instance = nullptr;
  HBRUSH background = nullptr;
  int windowCount = 0;
  bool system = false;  // one of the system's control classes
};

struct Window {
  HWND handle = nullptr;
  WindowClass *windowClass = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  HWND parent = nullptr;  // null for a top-level window
  HWND owner = nullptr;
  ZOrder children;       // z-order, top first
  RECT rect = {};        // relative to the parent's client area (screen for top-level windows)
  RECT normalRect = {};  // the rectangle to restore after a maximize
  std::u16string text;
  WNDPROC proc = nullptr;
  bool ansi = true;
  DWORD threadId = 0;
  DWORD processId = 0;
  bool foreign = false;  // belongs to another process
  bool destroying = false;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  HRGN region = nullptr;
  LONG_PTR id = 0;
  LONG_PTR userData = 0;
  HINSTANCE instance = nullptr;
  std::vector<BYTE> extra;
  bool needsPaint = false;
  bool linked = false;  // in its z-order list
  int ownedCount = 0;   // windows whose owner this is: none spares destruction a walk of every window
};

// All of these expect the lock to be held.
Window *FindWindowLocked(HWND hwnd);
// The same, and ERROR_INVALID_WINDOW_HANDLE as the last error when there is no such window.
Window *FindWindowOrFailLocked(HWND hwnd);
ZOrder &SiblingsLocked(Window *window);  // the z-order list the window is in
ZOrder &TopLevelLocked();
HWND RootLocked(HWND hwnd);  // the top-level ancestor
bool IsVisibleLocked(HWND hwnd);
size_t CountWindowsLocked();  // windows of this process
HWND CreateForeignWindowLocked(LPCSTR className, LPCWSTR title, DWORD style, DWORD exStyle, const RECT &rect,
                               DWORD processId);
RECT WorkAreaLocked();
// WS_EX_WINDOWEDGE as Windows derives it from the other styles.
DWORD FixExStyle(DWORD style, DWORD exStyle);

// ---- messages (never with the lock held) --------------------------------------------------------
// Calls the window's procedure on this thread with the message in the caller's character set,
// converting text messages when the procedure uses the other one. 0 for a window that is gone.
LRESULT SendMessageInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool callerAnsi);
DWORD CurrentThread();
void DropPostedMessagesLocked(HWND hwnd);
void WakeThreadLocked(DWORD threadId);

// ---- window position, visibility and activation (never with the lock held) ---------------------
BOOL SetWindowPosInternal(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL ShowWindowInternal(HWND hwnd, int command);
HWND SetFocusInternal(HWND hwnd);
void ActivateOtherWindow(HWND hwnd);
void ForgetWindowLocked(HWND hwnd);  // clears the active and focus windows that are hwnd
HWND ActiveWindowLocked();
void LinkWindowLocked(Window *window, HWND insertAfter);
void InvalidateLocked(Window *window, bool allChildren);
// Every window that may need painting, in handle order: a window is added when it is invalidated
// and dropped by the search for WM_PAINT once it needs none, so that search does not walk every
// window.
std::set<HWND> &PaintCandidatesLocked();
void DestroyWindowRegionLocked(Window *window);

// ---- call log ------------------------------------------------------------------------------------
void LogCall(const winsim::UserCallRecord &record);

// ---- GDI objects ----------------------------------------------------------------------------------
enum class GdiKind { Region, Bitmap, Brush, DeviceContext, Icon };

struct GdiObject {
  explicit GdiObject(GdiKind k) : kind(k) {}
  virtual ~GdiObject() = default;
  GdiKind kind;
  bool stock = false;
};

struct Region : GdiObject {
  Region() : GdiObject(GdiKind::Region) { pixman_region32_init(&region); }
  ~Region() override { pixman_region32_fini(&region); }
  Region(const Region &) = delete;
  Region &operator=(const Region &) = delete;
  pixman_region32_t region;
  HWND owner = nullptr;  // the window it was given to with SetWindowRgn
};

// Pixels as 32-bit values 0xAARRGGBB (the memory order of a 32 bpp DIB), top row first. A 1 bpp
// bitmap holds 0x00000000 and 0x00FFFFFF only.
struct Pixels {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
  std::vector<uint32_t> data;
};

struct Bitmap : GdiObject {
  Bitmap() : GdiObject(GdiKind::Bitmap) {}
  Pixels pixels;
  int selectedInto = 0;        // device contexts it is selected into
  bool deletePending = false;  // DeleteObject while selected: freed when deselected
};

struct Brush : GdiObject {
  Brush() : GdiObject(GdiKind::Brush) {}
  COLORREF color = 0;
};

struct DeviceContext : GdiObject {
  enum class Type { Screen, Window, Paint, Memory };
  DeviceContext() : GdiObject(GdiKind::DeviceContext) {}
  Type type = Type::Screen;
  HBITMAP bitmap = nullptr;  // memory DCs: the selected bitmap
  HBRUSH brush = nullptr;
};

struct Icon : GdiObject {
  Icon() : GdiObject(GdiKind::Icon) {}
  bool isIcon = true;
  DWORD xHotspot = 0;
  DWORD yHotspot = 0;
  bool hasColor = false;
  Pixels color;  // 32 bpp, when hasColor
  Pixels mask;   // 1 bpp; twice the icon's height when there is no colour bitmap
};

// All of these expect the lock to be held.
GdiObject *FindObjectLocked(const void *handle, GdiKind kind);
template <typename T>
T *FindLocked(const void *handle, GdiKind kind) {
  return static_cast<T *>(FindObjectLocked(handle, kind));
}
void *AddObjectLocked(std::unique_ptr<GdiObject> object);
void RemoveObjectLocked(const void *handle);
size_t CountObjectsLocked(GdiKind kind);
HBITMAP StockBitmapLocked();

// Pixel helpers shared by bitmaps and icons.
bool AllocatePixels(Pixels &pixels, int width, int height, int bitsPerPixel);
HBITMAP CreateBitmapFromPixelsLocked(const Pixels &pixels);
uint32_t ToMonochrome(uint32_t pixel);
// Nearest-neighbour copy of source into a new image of the given size and depth.
Pixels ScalePixels(const Pixels &source, int width, int height, int bitsPerPixel);

}  // namespace winsim::detail
