// What the host application's UI thread owns: the host frame window with its Remote Desktop view
// (a child of an "ATL:" class that paints the remote desktop) and an ordinary child, and a strip
// along the bottom of the screen that shows the local windows as a taskbar would.
#pragma once

#include <windows.h>

#include <cstdint>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "script.h"

namespace host {

// A private message (WM_USER range) the host frame window received.
struct FrameMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// One window of the remote desktop's picture, in host frame window coordinates.
struct PictureWindow {
  uint32_t id;
  Rect rect;
  std::wstring title;
  COLORREF color;
};

// The add-in's local windows the host has seen, in the order they appeared.
struct LocalWindow {
  HWND hwnd;
  uint32_t id;  // the remote window id it stands for (0: the session placeholder)
};

class HostUi {
 public:
  static HostUi &Get();

  // On the UI thread: registers the classes, creates and shows the windows. localDesktop: the
  // client's own desktop behind them (a background and a local program's window), so that
  // screenshots show where the host frame is cut away.
  bool Create(const std::string &title, bool localDesktop, std::string *error);
  // The UI thread's message loop; returns when Quit is called or the frame is closed.
  void RunLoop();
  void Quit();
  // On the UI thread: paints every window now (before a screenshot).
  void RedrawAll();
  bool closedByUser() const { return closedByUser_; }

  HWND frame() const { return frame_; }
  HWND view() const { return view_; }
  HWND plainChild() const { return plain_; }

  // From another thread: runs task on the UI thread and waits for it, pumping the calling
  // thread's messages meanwhile (the add-in's windows live there). Everything posted to the
  // frame before the call has been handled when it returns.
  void RunOnUi(const std::function<void()> &task);
  // The private messages received since the last call.
  std::vector<FrameMessage> TakeMessages();

  void SetPicture(const PictureWindow &window);
  void RemovePicture(uint32_t id);
  // The local windows the taskbar strip shows (those visible and not tool windows).
  void SetLocalWindows(const std::vector<LocalWindow> &windows);
  // On the UI thread: marks a click at screen point (x, y) with a ring and a label, so that a
  // screenshot shows where it went, until HideClick.
  void ShowClick(int x, int y, const std::wstring &label);
  void HideClick();
  // Whether the channel is open: the strip says so, so that a screenshot shows a disconnection.
  void SetConnected(bool connected);
  // Which button clicked a taskbar button: the left activates its window, the right asks for its
  // system menu, the middle closes it (a taskbar's "Close window").
  enum class Click { kLeft, kRight, kMiddle };
  // Called on the UI thread when the user clicks a taskbar button.
  std::function<void(HWND, Click)> onTaskbarClick;
  // Called on the UI thread when the user clicks an icon of the strip's notification area:
  // (the icon's owner window, its uID, the button).
  std::function<void(HWND, UINT, Click)> onTrayClick;

 private:
  HostUi() = default;
  static LRESULT CALLBACK FrameProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK ViewProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK TaskbarProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK MarkProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK DesktopProc(HWND, UINT, WPARAM, LPARAM);
  void PaintDesktop(HWND hwnd, HDC dc);
  void HideWineTray();
  void PaintView(HDC dc);
  void PaintTaskbar(HDC dc);
  void TaskbarClick(int x, Click click);

  HWND frame_ = nullptr, view_ = nullptr, plain_ = nullptr, taskbar_ = nullptr;
  HWND ring_ = nullptr, label_ = nullptr;            // the click mark
  HWND desktop_ = nullptr, localProgram_ = nullptr;  // the client's own desktop (screenshots)
  std::atomic<bool> connected_{false};
  std::wstring labelText_;
  HFONT font_ = nullptr, cjkFont_ = nullptr, boldFont_ = nullptr;
  bool closedByUser_ = false;
  HWND activeLocal_ = nullptr;

  std::mutex lock_;  // guards everything below
  std::vector<FrameMessage> messages_;
  std::vector<PictureWindow> picture_;
  std::vector<LocalWindow> locals_;
  struct Button {
    int left, right;
    HWND hwnd;
  };
  std::vector<Button> buttons_;
};

// Pumps the calling thread's message queue until it is empty.
void PumpMessages();
// Waits for the event, dispatching the calling thread's messages meanwhile.
void WaitPumping(HANDLE event, DWORD timeoutMs = INFINITE);

std::wstring Widen(const std::string &utf8);
std::string Narrow(const std::wstring &wide);

}  // namespace host
