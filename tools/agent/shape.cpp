#include "shape.h"

namespace agent {

namespace {

// The rectangles of a region, in the order GetRegionData gives them (bands, top to bottom).
std::vector<wire::Rect> RegionRects(HRGN region) {
  std::vector<wire::Rect> rects;
  const DWORD size = GetRegionData(region, 0, nullptr);
  if (size < sizeof(RGNDATAHEADER)) return rects;
  std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  RGNDATA *data = reinterpret_cast<RGNDATA *>(buffer.data());
  if (GetRegionData(region, size, data) != size) return rects;
  const RECT *r = reinterpret_cast<const RECT *>(data->Buffer);
  const DWORD count = data->rdh.nCount;
  if ((size - sizeof(RGNDATAHEADER)) / sizeof(RECT) < count) return rects;  // never read past the block
  rects.reserve(count);
  for (DWORD i = 0; i < count; ++i) rects.push_back(wire::Rect{r[i].left, r[i].top, r[i].right, r[i].bottom});
  return rects;
}

}  // namespace

ShapeTracker::ShapeTracker() : sent_(CreateRectRgn(0, 0, 0, 0)) {}

ShapeTracker::~ShapeTracker() {
  if (sent_) DeleteObject(sent_);
}

void ShapeTracker::Reset() { SetRectRgn(sent_, 0, 0, 0, 0); }

std::vector<wire::Rect> ShapeTracker::Update(const std::vector<wire::Rect> &rects) {
  HRGN shape = CreateRectRgn(0, 0, 0, 0);
  HRGN piece = CreateRectRgn(0, 0, 0, 0);
  HRGN change = CreateRectRgn(0, 0, 0, 0);
  std::vector<wire::Rect> out;
  if (shape && piece && change && sent_) {
    for (const wire::Rect &r : rects) {
      if (r.left >= r.right || r.top >= r.bottom) continue;
      SetRectRgn(piece, r.left, r.top, r.right, r.bottom);
      CombineRgn(shape, shape, piece, RGN_OR);
    }
    const int kind = CombineRgn(change, sent_, shape, RGN_XOR);
    if (kind != NULLREGION && kind != ERROR) {
      out = RegionRects(change);
      // Only what was read is what the add-in will have: keep the shape it reaches.
      if (!out.empty()) std::swap(sent_, shape);
    }
  }
  for (HRGN r : {shape, piece, change})
    if (r) DeleteObject(r);
  return out;
}

}  // namespace agent
