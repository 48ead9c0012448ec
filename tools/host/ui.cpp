#include "ui.h"

#include <algorithm>

#include "common/host_interface.h"
#include "tray_view.h"

namespace host {

namespace {

const char kFrameClass[] = "QuorvHostFrame";
const char kViewClass[] = "ATL:QuorvRemoteView";  // the Remote Desktop control's class prefix
const char kTaskbarClass[] = "QuorvHostTaskbar";
const char kMarkClass[] = "QuorvHostClickMark";
const char kDesktopClass[] = "QuorvHostLocalDesktop";
const int kRing = 40;        // the click mark's diameter
const int kTrayWidth = 124;  // the notification area at the strip's right end
const COLORREF kMarkColor = RGB(0xFF, 0x6A, 0x00);
const UINT WM_APP_RUN = WM_APP + 1;
const int kTaskbarHeight = 34;

struct Task {
  const std::function<void()> *task;
  HANDLE done;
};

bool HasCjk(const std::wstring &text) {
  for (wchar_t c : text)
    if ((c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
        (c >= 0xFF00 && c <= 0xFFEF))
      return true;
  return false;
}

int CALLBACK FontExists(const LOGFONTW *, const TEXTMETRICW *, DWORD, LPARAM found) {
  *reinterpret_cast<bool *>(found) = true;
  return 0;
}

// The first of the faces that is installed; Wine sees the system's fonts.
HFONT MakeFont(std::initializer_list<const wchar_t *> faces, int height, int weight) {
  HDC dc = GetDC(nullptr);
  const wchar_t *chosen = L"Tahoma";
  for (const wchar_t *face : faces) {
    LOGFONTW probe = {};
    probe.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(probe.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    EnumFontFamiliesExW(dc, &probe, FontExists, reinterpret_cast<LPARAM>(&found), 0);
    if (found) {
      chosen = face;
      break;
    }
  }
  ReleaseDC(nullptr, dc);
  return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, chosen);
}

COLORREF Darker(COLORREF c, int percent) {
  return RGB(GetRValue(c) * percent / 100, GetGValue(c) * percent / 100, GetBValue(c) * percent / 100);
}

void Fill(HDC dc, const RECT &r, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

}  // namespace

std::wstring Widen(const std::string &utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring &wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void WaitPumping(HANDLE event, DWORD timeoutMs) {
  const ULONGLONG end = timeoutMs == INFINITE ? 0 : GetTickCount64() + timeoutMs;
  for (;;) {
    PumpMessages();
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end) return;
      wait = static_cast<DWORD>(end - now);
    }
    DWORD r = MsgWaitForMultipleObjects(event ? 1 : 0, event ? &event : nullptr, FALSE, wait, QS_ALLINPUT);
    if (event && r == WAIT_OBJECT_0) {
      PumpMessages();
      return;
    }
  }
}

HostUi &HostUi::Get() {
  static HostUi ui;
  return ui;
}

bool HostUi::Create(const std::string &title, bool localDesktop, std::string *error) {
  WNDCLASSA wc = {};
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpfnWndProc = FrameProc;
  wc.lpszClassName = kFrameClass;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  RegisterClassA(&wc);
  wc.lpfnWndProc = ViewProc;
  wc.lpszClassName = kViewClass;
  wc.hbrBackground = nullptr;
  wc.hIcon = nullptr;
  RegisterClassA(&wc);
  wc.lpfnWndProc = TaskbarProc;
  wc.lpszClassName = kTaskbarClass;
  RegisterClassA(&wc);
  wc.lpfnWndProc = MarkProc;
  wc.lpszClassName = kMarkClass;
  RegisterClassA(&wc);
  wc.lpfnWndProc = DesktopProc;
  wc.lpszClassName = kDesktopClass;
  RegisterClassA(&wc);

  font_ = MakeFont({L"DejaVu Sans", L"Tahoma"}, 13, FW_NORMAL);
  boldFont_ = MakeFont({L"DejaVu Sans", L"Tahoma"}, 13, FW_BOLD);
  cjkFont_ =
      MakeFont({L"WenQuanYi Micro Hei", L"Noto Sans CJK SC", L"Droid Sans Fallback", L"DejaVu Sans"}, 13, FW_NORMAL);

  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (localDesktop) {
    // Made before the frame, so that the frame lies above them; never activated, so that they
    // take no focus from the add-in's windows, and the desktop stays at the bottom.
    const DWORD style = WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE;
    desktop_ = CreateWindowExA(style, kDesktopClass, "", WS_POPUP, 0, 0, width, height - kTaskbarHeight, nullptr,
                               nullptr, wc.hInstance, nullptr);
    localProgram_ = CreateWindowExA(style, kDesktopClass, "Local notes (a program of the client)", WS_POPUP, 24,
                                    height - kTaskbarHeight - 330, 380, 300, nullptr, nullptr, wc.hInstance, nullptr);
    for (HWND hwnd : {localProgram_, desktop_})
      if (hwnd) SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  }
  // The title is given in the ANSI code page, as the add-in compares it.
  frame_ = CreateWindowExA(0, kFrameClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 60, 40, 900, 640,
                           nullptr, nullptr, wc.hInstance, nullptr);
  if (!frame_) return *error = "cannot create the host frame window", false;
  view_ =
      CreateWindowExA(0, kViewClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, frame_, nullptr, wc.hInstance, nullptr);
  plain_ = CreateWindowExA(0, "STATIC", "quorv host: waiting for the agent's greeting",
                           WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0, 100, 24, frame_, nullptr,
                           wc.hInstance, nullptr);
  if (!view_ || !plain_) return *error = "cannot create the host frame window's children", false;
  SendMessageW(plain_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SetWindowPos(plain_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  taskbar_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kTaskbarClass, "", WS_POPUP, 0, height - kTaskbarHeight,
                             width, kTaskbarHeight, nullptr, nullptr, wc.hInstance, nullptr);
  // The click mark: a ring (a window cut to a ring, so the clicked icon shows through) and a label.
  const DWORD markStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_TRANSPARENT;
  ring_ =
      CreateWindowExA(markStyle, kMarkClass, "", WS_POPUP, 0, 0, kRing, kRing, nullptr, nullptr, wc.hInstance, nullptr);
  label_ = CreateWindowExA(markStyle, kMarkClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
  if (ring_) {
    HRGN ring = CreateEllipticRgn(0, 0, kRing + 1, kRing + 1);
    HRGN hole = CreateEllipticRgn(4, 4, kRing - 3, kRing - 3);
    CombineRgn(ring, ring, hole, RGN_DIFF);
    DeleteObject(hole);
    SetWindowRgn(ring_, ring, FALSE);  // the window owns the region now
  }
  ShowWindow(frame_, SW_SHOW);
  UpdateWindow(frame_);
  if (taskbar_) {
    ShowWindow(taskbar_, SW_SHOWNOACTIVATE);
    SetTimer(taskbar_, 1, 250, nullptr);
  }
  return true;
}

void HostUi::RunLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void HostUi::Quit() {
  RunOnUi([this] {
    for (HWND *hwnd : {&ring_, &label_, &taskbar_, &frame_, &localProgram_, &desktop_}) {
      if (*hwnd) DestroyWindow(*hwnd);
      *hwnd = nullptr;
    }
    PostQuitMessage(0);
  });
}

void HostUi::ShowClick(int x, int y, const std::wstring &label) {
  if (!ring_ || !label_) return;
  labelText_ = label;
  HDC dc = GetDC(label_);
  HGDIOBJ old = SelectObject(dc, boldFont_);
  SIZE size = {};
  GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(label_, dc);
  const int width = size.cx + 16, height = size.cy + 10;
  const int screen = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  // The ring whole on the screen: near an edge (the strip's icons lie 7 pixels above the bottom)
  // it moves inward, and the clicked point stays inside it.
  const int ringLeft = std::clamp(x - kRing / 2, 0, std::max(screen - kRing, 0));
  const int ringTop = std::clamp(y - kRing / 2, 0, std::max(screenHeight - kRing, 0));
  int left, top;
  if (y >= screenHeight - kTaskbarHeight) {
    // A click on the strip: the label in the strip, left of the ring, where it covers no window.
    left = std::max(ringLeft - width - 6, 0);
    top = screenHeight - kTaskbarHeight + (kTaskbarHeight - height) / 2;
  } else {
    // Above the click and left of it, inside the screen.
    left = std::clamp(x - width + kRing / 2, 0, std::max(screen - width, 0));
    top = std::max(ringTop - height - 6, 0);
  }
  const UINT flags = SWP_NOACTIVATE | SWP_SHOWWINDOW;
  SetWindowPos(ring_, HWND_TOPMOST, ringLeft, ringTop, kRing, kRing, flags);
  SetWindowPos(label_, HWND_TOPMOST, left, top, width, height, flags);
  InvalidateRect(label_, nullptr, TRUE);
}

void HostUi::HideClick() {
  for (HWND hwnd : {ring_, label_})
    if (hwnd && IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_HIDE);
}

LRESULT CALLBACK HostUi::MarkProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HostUi &ui = Get();
  if (message == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    Fill(dc, client, kMarkColor);
    if (hwnd == ui.label_) {
      RECT inner = {client.left + 2, client.top + 2, client.right - 2, client.bottom - 2};
      Fill(dc, inner, RGB(0xFF, 0xF4, 0xE0));
      HGDIOBJ old = SelectObject(dc, ui.boldFont_);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0x20, 0x20, 0x20));
      DrawTextW(dc, ui.labelText_.c_str(), static_cast<int>(ui.labelText_.size()), &inner,
                DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
      SelectObject(dc, old);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void HostUi::SetConnected(bool connected) {
  // From the client thread, without a message to the UI thread (which would let the add-in's
  // windows see messages at another moment than without a picture): the strip's timer redraws it.
  connected_ = connected;
  if (taskbar_) InvalidateRect(taskbar_, nullptr, FALSE);
}

LRESULT CALLBACK HostUi::DesktopProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HostUi &ui = Get();
  switch (message) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_ERASEBKGND:
      return 1;
    case WM_WINDOWPOSCHANGING:
      // The desktop never rises above anything.
      if (hwnd == ui.desktop_) reinterpret_cast<WINDOWPOS *>(lParam)->hwndInsertAfter = HWND_BOTTOM;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      ui.PaintDesktop(hwnd, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

// The client's desktop: a green background with a faint grid, unlike the remote desktop's blue,
// and a local program's window: both show wherever the host frame is cut away.
void HostUi::PaintDesktop(HWND hwnd, HDC dc) {
  RECT client;
  GetClientRect(hwnd, &client);
  SetBkMode(dc, TRANSPARENT);
  if (hwnd == desktop_) {
    Fill(dc, client, RGB(0x3C, 0x6E, 0x47));
    for (int x = 0; x < client.right; x += 64) Fill(dc, RECT{x, 0, x + 1, client.bottom}, RGB(0x46, 0x7A, 0x51));
    for (int y = 0; y < client.bottom; y += 64) Fill(dc, RECT{0, y, client.right, y + 1}, RGB(0x46, 0x7A, 0x51));
    HGDIOBJ old = SelectObject(dc, boldFont_);
    SetTextColor(dc, RGB(0xD8, 0xE8, 0xD8));
    RECT text = {client.right - 420, client.bottom - 40, client.right - 16, client.bottom - 12};
    DrawTextW(dc, L"the client's own desktop", -1, &text, DT_SINGLELINE | DT_RIGHT | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, old);
    return;
  }
  Fill(dc, client, RGB(0x70, 0x70, 0x70));
  RECT caption = {2, 2, client.right - 2, 26};
  Fill(dc, caption, RGB(0xB0, 0x6A, 0x10));
  RECT body = {2, 26, client.right - 2, client.bottom - 2};
  Fill(dc, body, RGB(0xFF, 0xFD, 0xE8));
  HGDIOBJ old = SelectObject(dc, boldFont_);
  SetTextColor(dc, RGB(255, 255, 255));
  RECT title = {caption.left + 8, caption.top, caption.right - 8, caption.bottom};
  DrawTextW(dc, L"Local notes \x2014 a program of the client", -1, &title,
            DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(dc, font_);
  SetTextColor(dc, RGB(0x30, 0x30, 0x30));
  RECT text = {body.left + 12, body.top + 10, body.right - 12, body.bottom - 10};
  DrawTextW(dc,
            L"This window runs on the client, not in the remote session. It shows wherever the "
            L"host frame is cut away: the frame keeps only the remote windows' shapes.",
            -1, &text, DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
}

// Where the display has no notification area Wine shows the icons in a window of its own ("Wine
// System Tray", top left), shown again whenever an icon changes. In screenshots the strip is the
// client's taskbar: that window would show the mirrored icon a second time, so it is moved off
// the screen (hidden, Wine shows it again).
void HostUi::HideWineTray() {
  HWND tray = nullptr;
  while ((tray = FindWindowExW(nullptr, tray, nullptr, L"Wine System Tray")) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(tray, &process);
    if (process != GetCurrentProcessId() && IsWindowVisible(tray))
      SetWindowPos(tray, HWND_BOTTOM, -10000, -10000, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
  }
}

void HostUi::RedrawAll() {
  if (desktop_) HideWineTray();
  for (HWND hwnd : {desktop_, localProgram_, frame_, taskbar_, ring_, label_})
    if (hwnd) RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void HostUi::RunOnUi(const std::function<void()> &task) {
  if (!frame_) return;
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Task *t = new Task{&task, done};
  if (!PostMessageA(frame_, WM_APP_RUN, 0, reinterpret_cast<LPARAM>(t))) {
    delete t;
    CloseHandle(done);
    return;
  }
  WaitPumping(done);
  CloseHandle(done);
}

std::vector<FrameMessage> HostUi::TakeMessages() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<FrameMessage> out;
  out.swap(messages_);
  return out;
}

void HostUi::SetPicture(const PictureWindow &window) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = std::find_if(picture_.begin(), picture_.end(), [&](const PictureWindow &w) { return w.id == window.id; });
    if (it != picture_.end()) picture_.erase(it);
    picture_.push_back(window);  // the newest on top
  }
  if (view_) InvalidateRect(view_, nullptr, FALSE);
}

void HostUi::RemovePicture(uint32_t id) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    picture_.erase(std::remove_if(picture_.begin(), picture_.end(), [&](const PictureWindow &w) { return w.id == id; }),
                   picture_.end());
  }
  if (view_) InvalidateRect(view_, nullptr, FALSE);
}

void HostUi::SetLocalWindows(const std::vector<LocalWindow> &windows) {
  std::lock_guard<std::mutex> guard(lock_);
  locals_ = windows;
}

LRESULT CALLBACK HostUi::FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HostUi &ui = Get();
  switch (message) {
    case WM_APP_RUN: {
      Task *t = reinterpret_cast<Task *>(lParam);
      (*t->task)();
      SetEvent(t->done);
      delete t;
      return 0;
    }
    case WM_SIZE: {
      RECT client;
      GetClientRect(hwnd, &client);
      if (ui.view_) MoveWindow(ui.view_, 0, 0, client.right, client.bottom, TRUE);
      if (ui.plain_) MoveWindow(ui.plain_, 0, client.bottom - 24, client.right, 24, TRUE);
      return 0;
    }
    case WM_CLOSE:
      ui.closedByUser_ = true;
      return 0;  // the client thread ends the session and quits
    default:
      break;
  }
  if (message >= WM_USER && message < WM_APP) {
    if (message == WM_USER_ACTIVE_WINDOW) ui.activeLocal_ = reinterpret_cast<HWND>(wParam);
    if (ui.taskbar_) InvalidateRect(ui.taskbar_, nullptr, FALSE);
    std::lock_guard<std::mutex> guard(ui.lock_);
    ui.messages_.push_back(FrameMessage{message, wParam, lParam});
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK HostUi::ViewProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    Get().PaintView(dc);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void HostUi::PaintView(HDC target) {
  RECT client;
  GetClientRect(view_, &client);
  // Painted off screen, then copied in one go: no flicker in screenshots.
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1));
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  Fill(dc, client, RGB(0x2B, 0x5B, 0x84));  // the remote desktop's background
  // Picture coordinates are the frame window's, as the shapes are: shift by where the view's
  // client area lies inside the frame window.
  RECT frameRect, viewRect;
  GetWindowRect(frame_, &frameRect);
  GetWindowRect(view_, &viewRect);
  const int dx = viewRect.left - frameRect.left, dy = viewRect.top - frameRect.top;
  SetBkMode(dc, TRANSPARENT);
  std::vector<PictureWindow> picture;
  {
    std::lock_guard<std::mutex> guard(lock_);
    picture = picture_;
  }
  for (const PictureWindow &w : picture) {
    RECT r = {w.rect.left - dx, w.rect.top - dy, w.rect.right - dx, w.rect.bottom - dy};
    Fill(dc, r, Darker(w.color, 45));
    // A window without a title (a menu, a pop-up) has no caption: only its body.
    const int captionHeight = w.title.empty() ? 0 : 24;
    RECT body = {r.left + 2, r.top + 2 + captionHeight, r.right - 2, r.bottom - 2};
    Fill(dc, body, RGB(0xF4, 0xF4, 0xF0));
    HGDIOBJ oldFont = SelectObject(dc, HasCjk(w.title) ? cjkFont_ : boldFont_);
    if (captionHeight) {
      RECT caption = {r.left + 2, r.top + 2, r.right - 2, r.top + 2 + captionHeight};
      Fill(dc, caption, w.color);
      SetTextColor(dc, RGB(255, 255, 255));
      RECT text = {caption.left + 8, caption.top, caption.right - 8, caption.bottom};
      DrawTextW(dc, w.title.c_str(), static_cast<int>(w.title.size()), &text,
                DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    // A few lines of "content", so that the window looks like one.
    SelectObject(dc, font_);
    const int firstLine = captionHeight ? 14 : 8;
    for (int y = body.top + firstLine, i = 0; y + 8 < body.bottom && i < 12; y += 18, ++i) {
      RECT line = {body.left + 12, y, body.left + 12 + (body.right - body.left - 24) * (60 + (i * 37) % 40) / 100,
                   y + 6};
      Fill(dc, line, RGB(0xC8, 0xCC, 0xD4));
    }
    SelectObject(dc, oldFont);
  }
  BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

LRESULT CALLBACK HostUi::TaskbarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HostUi &ui = Get();
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER:
      InvalidateRect(hwnd, nullptr, FALSE);
      if (ui.desktop_) ui.HideWineTray();
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_LBUTTONUP:
      ui.TaskbarClick(static_cast<short>(LOWORD(lParam)), Click::kLeft);
      return 0;
    case WM_RBUTTONUP:
      ui.TaskbarClick(static_cast<short>(LOWORD(lParam)), Click::kRight);
      return 0;
    case WM_MBUTTONUP:
      ui.TaskbarClick(static_cast<short>(LOWORD(lParam)), Click::kMiddle);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      ui.PaintTaskbar(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

void HostUi::PaintTaskbar(HDC target) {
  RECT client;
  GetClientRect(taskbar_, &client);
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, std::max<LONG>(client.right, 1), client.bottom);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  Fill(dc, client, RGB(0x20, 0x22, 0x28));
  SetBkMode(dc, TRANSPARENT);
  std::vector<LocalWindow> locals;
  {
    std::lock_guard<std::mutex> guard(lock_);
    locals = locals_;
  }
  std::vector<Button> buttons;
  int x = 6;
  for (const LocalWindow &local : locals) {
    if (!IsWindow(local.hwnd) || !IsWindowVisible(local.hwnd)) continue;
    if (GetWindowLongA(local.hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) continue;  // no taskbar button
    wchar_t text[256] = {};
    InternalGetWindowText(local.hwnd, text, 256);  // as stored, like a taskbar reads it
    const std::wstring title = text;
    const int width = 210;
    RECT r = {x, 3, x + width, client.bottom - 3};
    const bool active = local.hwnd == activeLocal_;
    Fill(dc, r, active ? RGB(0x4A, 0x6F, 0xA8) : RGB(0x3A, 0x3E, 0x48));
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(local.hwnd, WM_GETICON, ICON_SMALL, 0, SMTO_ABORTIFHUNG, 200, &icon);
    if (!icon) SendMessageTimeoutW(local.hwnd, WM_GETICON, ICON_BIG, 0, SMTO_ABORTIFHUNG, 200, &icon);
    if (icon)
      DrawIconEx(dc, r.left + 6, r.top + (r.bottom - r.top - 16) / 2, reinterpret_cast<HICON>(icon), 16, 16, 0, nullptr,
                 DI_NORMAL);
    HGDIOBJ oldFont = SelectObject(dc, HasCjk(title) ? cjkFont_ : font_);
    SetTextColor(dc, RGB(0xF0, 0xF0, 0xF0));
    RECT textRect = {r.left + 28, r.top, r.right - 6, r.bottom};
    const std::wstring shown = title.empty() ? L"(untitled)" : title;
    DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &textRect,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    buttons.push_back(Button{r.left, r.right, local.hwnd});
    x += width + 4;
  }
  // The channel's state, left of the notification area.
  {
    HGDIOBJ oldFont = SelectObject(dc, boldFont_);
    SetTextColor(dc, connected_ ? RGB(0x8C, 0xD0, 0x8C) : RGB(0xFF, 0x70, 0x60));
    RECT state = {client.right - kTrayWidth - 200, 0, client.right - kTrayWidth - 10, client.bottom};
    const wchar_t *text = connected_ ? L"\x25CF connected" : L"\x25CB disconnected";
    DrawTextW(dc, text, -1, &state, DT_SINGLELINE | DT_VCENTER | DT_RIGHT | DT_NOPREFIX);
    SelectObject(dc, oldFont);
  }
  // The notification area: the add-in's mirrored icons (see tray_view.h).
  RECT tray = {client.right - kTrayWidth, 3, client.right - 6, client.bottom - 3};
  Fill(dc, tray, RGB(0x2C, 0x30, 0x38));
  DrawNotifyIcons(dc, tray.left + 12, (client.bottom - 24) / 2);
  {
    std::lock_guard<std::mutex> guard(lock_);
    buttons_ = buttons;
  }
  BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

void HostUi::TaskbarClick(int x, Click click) {
  RECT client;
  GetClientRect(taskbar_, &client);
  HWND owner = nullptr;
  UINT id = 0;
  if (NotifyIconAt(x, client.right - kTrayWidth + 12, &owner, &id)) {
    if (onTrayClick) onTrayClick(owner, id, click);
    return;
  }
  HWND target = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Button &b : buttons_)
      if (x >= b.left && x < b.right) target = b.hwnd;
  }
  if (target && onTaskbarClick) onTaskbarClick(target, click);
}

}  // namespace host
