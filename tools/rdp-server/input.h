// The client's mouse and keyboard, played into the X display with XTest.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>

namespace rdpserver {

class Input {
 public:
  // False when the display has no XTEST extension.
  bool Open(Display *display, std::string *error);
  // The Remote Desktop mouse event (flags PTR_FLAGS_*), at a point of the desktop.
  void Mouse(uint16_t flags, uint16_t x, uint16_t y);
  // The extended buttons (PTR_XFLAGS_*).
  void ExtendedMouse(uint16_t flags, uint16_t x, uint16_t y);
  // A key by its scan code (KBD_FLAGS_*).
  void Key(uint16_t flags, uint16_t scanCode);
  // A character the client sends as text (UTF-16 unit).
  void Unicode(uint16_t flags, uint16_t unit);

 private:
  void Move(uint16_t x, uint16_t y);
  Display *display_ = nullptr;
  int width_ = 0, height_ = 0;
  unsigned spareKeycode_ = 0;  // a keycode without keysyms, for characters no key produces
};

}  // namespace rdpserver
