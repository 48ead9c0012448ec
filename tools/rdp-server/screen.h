// The X display served: its pixels (XShm where the server offers it, XGetImage otherwise) and
// whether anything changed (XDamage; without it the picture is compared periodically).
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tiles.h"

struct _XDisplay;

namespace rdpserver {

class Screen {
 public:
  ~Screen();
  bool Open(const std::string &display, std::string *error);
  Display *display() const { return display_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int Fd() const;
  // Reads the X events waiting; afterwards Changed() says whether the picture may have changed.
  void ProcessEvents();
  bool Changed() const { return changed_ || !damage_; }
  // Reads the screen and returns the tiles that differ from what was sent (every tile after
  // Invalidate). False when the screen could not be read.
  bool Capture(std::vector<Tile> *tiles);
  void Invalidate() { sendAll_ = true; }
  Picture picture() const;
  // The pointer's shape changed since the last PointerShape (XFIXES); false without the extension.
  bool PointerChanged() const { return pointerChanged_; }
  bool ReadPointer(struct PointerShape *shape);

 private:
  Display *display_ = nullptr;
  int width_ = 0, height_ = 0;
  XImage *image_ = nullptr;
  bool shm_ = false;
  void *shmInfo_ = nullptr;  // XShmSegmentInfo
  std::vector<uint8_t> sent_;
  unsigned long damage_ = 0;
  int damageEvent_ = 0;
  bool changed_ = true;
  bool sendAll_ = true;
  int fixesEvent_ = 0;
  bool fixes_ = false;
  bool pointerChanged_ = false;
};

}  // namespace rdpserver
