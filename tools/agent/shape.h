// The shape of the session's visible windows, kept as the add-in keeps it. The add-in combines
// every UPDATERGN into its shape by exclusive-or, so the agent remembers the shape it has sent and
// sends what differs between that and the new one: after the change the add-in's shape is exactly
// the new shape.
#pragma once

#include <windows.h>

#include <vector>

#include "encoders.h"

namespace agent {

class ShapeTracker {
 public:
  ShapeTracker();
  ~ShapeTracker();
  ShapeTracker(const ShapeTracker &) = delete;
  ShapeTracker &operator=(const ShapeTracker &) = delete;

  // Makes the shape the union of rects; returns the exclusive-or of the old and the new shape as
  // disjoint rectangles (empty when the shape did not change).
  std::vector<wire::Rect> Update(const std::vector<wire::Rect> &rects);
  // The add-in starts from an empty shape (a new session).
  void Reset();

 private:
  HRGN sent_;
};

// Rectangles of one UPDATERGN message: a change of many rectangles goes as several messages of at
// most this many, each of which the add-in combines in turn (disjoint pieces of an exclusive-or
// combine to the whole). It keeps every message short enough for the add-in's diagnostic log.
constexpr size_t kRectanglesPerMessage = 32;

}  // namespace agent
