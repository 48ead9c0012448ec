#include "input.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <freerdp/input.h>
#include <winpr/input.h>

#include "log.h"

namespace rdpserver {

bool Input::Open(Display *display, std::string *error) {
  int event = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &event, &errorBase, &major, &minor))
    return *error = "the X display has no XTEST extension: the client's input cannot be played", false;
  display_ = display;
  width_ = DisplayWidth(display, DefaultScreen(display));
  height_ = DisplayHeight(display, DefaultScreen(display));
  // Characters sent as text are typed through a key that has no keysym of its own, mapped to the
  // character each time: the keyboard map itself stays as it is.
  int low = 0, high = 0, perCode = 0;
  XDisplayKeycodes(display, &low, &high);
  KeySym *map = XGetKeyboardMapping(display, static_cast<KeyCode>(low), high - low + 1, &perCode);
  if (map) {
    for (int code = high; code >= low && !spareKeycode_; --code) {
      bool empty = true;
      for (int i = 0; i < perCode; ++i) empty = empty && map[(code - low) * perCode + i] == NoSymbol;
      if (empty) spareKeycode_ = static_cast<unsigned>(code);
    }
    XFree(map);
  }
  return true;
}

void Input::Move(uint16_t x, uint16_t y) {
  // Points beyond the desktop (a hostile or confused client) go to its edge.
  const int px = x < width_ ? x : width_ - 1;
  const int py = y < height_ ? y : height_ - 1;
  XTestFakeMotionEvent(display_, DefaultScreen(display_), px, py, CurrentTime);
}

void Input::Mouse(uint16_t flags, uint16_t x, uint16_t y) {
  if (!display_) return;
  if (flags & (PTR_FLAGS_WHEEL | PTR_FLAGS_HWHEEL)) {
    // X wheel steps are buttons: 4/5 up/down, 6/7 left/right; one step per 120 units.
    const int amount = flags & WheelRotationMask;
    const bool negative = flags & PTR_FLAGS_WHEEL_NEGATIVE;
    const int units = negative ? 0x200 - amount : amount;
    const int steps = units / 120 > 0 ? units / 120 : 1;
    unsigned button = flags & PTR_FLAGS_WHEEL ? (negative ? 5 : 4) : (negative ? 6 : 7);
    for (int i = 0; i < steps && i < 16; ++i) {
      XTestFakeButtonEvent(display_, button, True, CurrentTime);
      XTestFakeButtonEvent(display_, button, False, CurrentTime);
    }
    XFlush(display_);
    return;
  }
  Move(x, y);
  const bool down = flags & PTR_FLAGS_DOWN;
  if (flags & PTR_FLAGS_BUTTON1) XTestFakeButtonEvent(display_, 1, down, CurrentTime);
  if (flags & PTR_FLAGS_BUTTON2) XTestFakeButtonEvent(display_, 3, down, CurrentTime);  // right
  if (flags & PTR_FLAGS_BUTTON3) XTestFakeButtonEvent(display_, 2, down, CurrentTime);  // middle
  XFlush(display_);
}

void Input::ExtendedMouse(uint16_t flags, uint16_t x, uint16_t y) {
  if (!display_) return;
  Move(x, y);
  const bool down = flags & PTR_XFLAGS_DOWN;
  if (flags & PTR_XFLAGS_BUTTON1) XTestFakeButtonEvent(display_, 8, down, CurrentTime);
  if (flags & PTR_XFLAGS_BUTTON2) XTestFakeButtonEvent(display_, 9, down, CurrentTime);
  XFlush(display_);
}

void Input::Key(uint16_t flags, uint16_t scanCode) {
  if (!display_) return;
  // Scan code to virtual key (an IBM enhanced keyboard, type 4) to the X server's keycode (the
  // evdev numbering, which Xvfb and Xorg use).
  const DWORD code = (scanCode & 0xFF) | ((flags & KBD_FLAGS_EXTENDED) ? KBDEXT : 0);
  const DWORD vk = GetVirtualKeyCodeFromVirtualScanCode(code, 4);
  // The keycode table keeps extended keys (arrows, right Ctrl, keypad Enter) under the virtual
  // key with the extended bit; without it they have no keycode.
  const DWORD keycode = vk ? GetKeycodeFromVirtualKeyCode(vk | (code & KBDEXT), KEYCODE_TYPE_EVDEV) : 0;
  if (!keycode || keycode > 255) return;
  XTestFakeKeyEvent(display_, keycode, !(flags & KBD_FLAGS_RELEASE), CurrentTime);
  XFlush(display_);
}

void Input::Unicode(uint16_t flags, uint16_t unit) {
  if (!display_ || !spareKeycode_) return;
  if (unit >= 0xD800 && unit <= 0xDFFF) return;  // a surrogate half names no character by itself
  const bool release = flags & KBD_FLAGS_RELEASE;
  if (!release) {
    KeySym symbol = unit < 0x100 ? unit : 0x01000000 | unit;
    KeySym both[2] = {symbol, symbol};
    XChangeKeyboardMapping(display_, static_cast<int>(spareKeycode_), 2, both, 1);
    XSync(display_, False);
  }
  XTestFakeKeyEvent(display_, spareKeycode_, !release, CurrentTime);
  XFlush(display_);
}

}  // namespace rdpserver
