#include "screen.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

#include "log.h"
#include "pointer_shape.h"

namespace rdpserver {

Screen::~Screen() {
  if (!display_) return;
  if (image_) {
    if (shm_) {
      auto *info = static_cast<XShmSegmentInfo *>(shmInfo_);
      XShmDetach(display_, info);
      XDestroyImage(image_);
      shmdt(info->shmaddr);
      delete info;
    } else {
      XDestroyImage(image_);
    }
  }
  if (damage_) XDamageDestroy(display_, damage_);
  XCloseDisplay(display_);
}

bool Screen::Open(const std::string &name, std::string *error) {
  display_ = XOpenDisplay(name.c_str());
  if (!display_) return *error = "cannot open the X display " + name, false;
  const int screen = DefaultScreen(display_);
  width_ = DisplayWidth(display_, screen);
  height_ = DisplayHeight(display_, screen);
  Visual *visual = DefaultVisual(display_, screen);
  const int depth = DefaultDepth(display_, screen);
  // The codecs take 32-bit BGRX pixels, which is what a 24-bit TrueColor display holds.
  if (depth != 24 || visual->c_class != TrueColor || visual->red_mask != 0xff0000 || visual->blue_mask != 0xff)
    return *error = "the X display " + name + " is not 24-bit TrueColor (start Xvfb with -screen 0 WxHx24)", false;

  if (XShmQueryExtension(display_)) {
    auto *info = new XShmSegmentInfo{};
    image_ = XShmCreateImage(display_, visual, depth, ZPixmap, nullptr, info, width_, height_);
    if (image_) {
      info->shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image_->bytes_per_line) * height_, IPC_CREAT | 0600);
      info->shmaddr =
          info->shmid >= 0 ? static_cast<char *>(shmat(info->shmid, nullptr, 0)) : reinterpret_cast<char *>(-1);
      if (info->shmaddr != reinterpret_cast<char *>(-1)) {
        image_->data = info->shmaddr;
        info->readOnly = False;
        shm_ = XShmAttach(display_, info) != 0;
        XSync(display_, False);
      }
      if (info->shmid >= 0) shmctl(info->shmid, IPC_RMID, nullptr);  // goes when both sides detach
      if (!shm_) {
        if (info->shmaddr != reinterpret_cast<char *>(-1)) shmdt(info->shmaddr);
        image_->data = nullptr;
        XDestroyImage(image_);
        image_ = nullptr;
        delete info;
      } else {
        shmInfo_ = info;
      }
    } else {
      delete info;
    }
  }
  if (!shm_) LogEvent("the X display has no shared memory here: the screen is read with XGetImage");

  int damageError = 0;
  if (XDamageQueryExtension(display_, &damageEvent_, &damageError)) {
    damage_ = XDamageCreate(display_, DefaultRootWindow(display_), XDamageReportNonEmpty);
  } else {
    LogEvent("the X display has no DAMAGE extension: the screen is compared every 100 ms");
  }
  int fixesError = 0;
  if (XFixesQueryExtension(display_, &fixesEvent_, &fixesError)) {
    XFixesSelectCursorInput(display_, DefaultRootWindow(display_), XFixesDisplayCursorNotifyMask);
    fixes_ = true;
    pointerChanged_ = true;
  } else {
    LogEvent("the X display has no XFIXES extension: the client shows its own pointer");
  }
  return true;
}

bool Screen::ReadPointer(PointerShape *shape) {
  pointerChanged_ = false;
  if (!fixes_) return false;
  XFixesCursorImage *image = XFixesGetCursorImage(display_);
  if (!image) return false;
  const bool ok = MakePointerShape(image->pixels, image->width, image->height, image->xhot, image->yhot, shape);
  XFree(image);
  return ok;
}

int Screen::Fd() const { return ConnectionNumber(display_); }

void Screen::ProcessEvents() {
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    if (damage_ && event.type == damageEvent_ + XDamageNotify) changed_ = true;
    if (fixes_ && event.type == fixesEvent_ + XFixesCursorNotify) pointerChanged_ = true;
  }
}

bool Screen::Capture(std::vector<Tile> *tiles) {
  if (damage_) {
    // Take the damage before reading, so a change made while reading is reported again.
    XDamageSubtract(display_, damage_, None, None);
  }
  changed_ = false;
  const Window root = DefaultRootWindow(display_);
  if (shm_) {
    if (!XShmGetImage(display_, root, image_, 0, 0, AllPlanes)) return false;
  } else {
    if (image_) XDestroyImage(image_);
    image_ = XGetImage(display_, root, 0, 0, width_, height_, AllPlanes, ZPixmap);
    if (!image_) return false;
  }
  if (image_->bits_per_pixel != 32) return false;
  Picture now = picture();
  const size_t size = static_cast<size_t>(now.stride) * now.height;
  if (sent_.size() != size) {
    sent_.assign(size, 0);
    sendAll_ = true;
  }
  *tiles = ChangedTiles(now, sent_.data(), sendAll_);
  sendAll_ = false;
  return true;
}

Picture Screen::picture() const {
  return Picture{reinterpret_cast<const uint8_t *>(image_->data), width_, height_, image_->bytes_per_line};
}

}  // namespace rdpserver
