// winsim gdi32 regions on pixman's region algebra, and the window regions of user32.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "user_internal.h"

namespace winsim::detail {
namespace {

int RegionType(const pixman_region32_t *region) {
  int count = pixman_region32_n_rects(const_cast<pixman_region32_t *>(region));
  return count == 0 ? NULLREGION : count == 1 ? SIMPLEREGION : COMPLEXREGION;
}

void SetToRect(pixman_region32_t *region, int left, int top, int right, int bottom) {
  pixman_box32_t box = {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
  pixman_region32_fini(region);
  if (box.x1 == box.x2 || box.y1 == box.y2)
    pixman_region32_init(region);
  else
    pixman_region32_init_rects(region, &box, 1);
}

HRGN NewRegionLocked(int left, int top, int right, int bottom) {
  auto region = std::make_unique<Region>();
  SetToRect(&region->region, left, top, right, bottom);
  return static_cast<HRGN>(AddObjectLocked(std::move(region)));
}

}  // namespace

void DestroyWindowRegionLocked(Window *window) {
  if (!window->region) return;
  RemoveObjectLocked(window->region);
  window->region = nullptr;
}

}  // namespace winsim::detail

using namespace winsim::detail;
using winsim::UserCall;
using winsim::UserCallRecord;

extern "C" {

HRGN WINAPI CreateRectRgn(int left, int top, int right, int bottom) {
  Guard guard(Lock());
  return NewRegionLocked(left, top, right, bottom);
}

HRGN WINAPI ExtCreateRegion(const XFORM *transform, DWORD count, const RGNDATA *data) {
  (void)count;
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Checks as Windows makes them: the header must be at least a RGNDATAHEADER; the type is not
  // looked at. nCount rectangles are then read whatever the size argument says: on purpose, since
  // the caller has to make sure they are there (and the sanitizers catch one that does not).
  if (data->rdh.dwSize < sizeof(RGNDATAHEADER)) return nullptr;
  float scaleX = 1, scaleY = 1, dx = 0, dy = 0;
  if (transform) {
    if (transform->eM12 != 0 || transform->eM21 != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);  // rotation and shear are not carried
      return nullptr;
    }
    scaleX = transform->eM11;
    scaleY = transform->eM22;
    dx = transform->eDx;
    dy = transform->eDy;
  }
  DWORD rectangles = data->rdh.nCount;
  const BYTE *buffer = reinterpret_cast<const BYTE *>(data->Buffer);
  std::vector<pixman_box32_t> boxes;
  for (DWORD i = 0; i < rectangles; ++i) {
    RECT rect;
    std::memcpy(&rect, buffer + static_cast<size_t>(i) * sizeof(RECT), sizeof rect);
    if (transform) {
      rect.left = static_cast<LONG>(rect.left * scaleX + dx);
      rect.right = static_cast<LONG>(rect.right * scaleX + dx);
      rect.top = static_cast<LONG>(rect.top * scaleY + dy);
      rect.bottom = static_cast<LONG>(rect.bottom * scaleY + dy);
      if (rect.left > rect.right) std::swap(rect.left, rect.right);
      if (rect.top > rect.bottom) std::swap(rect.top, rect.bottom);
    }
    if (rect.left < rect.right && rect.top < rect.bottom)  // empty and inverted ones are skipped
      boxes.push_back({rect.left, rect.top, rect.right, rect.bottom});
  }
  Guard guard(Lock());
  auto region = std::make_unique<Region>();
  pixman_region32_fini(&region->region);
  if (!pixman_region32_init_rects(&region->region, boxes.data(), static_cast<int>(boxes.size()))) {
    pixman_region32_init(&region->region);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return static_cast<HRGN>(AddObjectLocked(std::move(region)));
}

// Invalid handles give ERROR without touching the last error, as on Windows.
int WINAPI CombineRgn(HRGN destination, HRGN source1, HRGN source2, int mode) {
  Guard guard(Lock());
  Region *dest = FindLocked<Region>(destination, GdiKind::Region);
  Region *a = FindLocked<Region>(source1, GdiKind::Region);
  if (!dest || !a || mode < RGN_AND || mode > RGN_COPY) return ERROR;
  if (mode == RGN_COPY) {
    if (!pixman_region32_copy(&dest->region, &a->region)) return ERROR;
    return RegionType(&dest->region);
  }
  Region *b = FindLocked<Region>(source2, GdiKind::Region);
  if (!b) return ERROR;
  bool ok = true;
  switch (mode) {
    case RGN_AND:
      ok = pixman_region32_intersect(&dest->region, &a->region, &b->region);
      break;
    case RGN_OR:
      ok = pixman_region32_union(&dest->region, &a->region, &b->region);
      break;
    case RGN_DIFF:
      ok = pixman_region32_subtract(&dest->region, &a->region, &b->region);
      break;
    case RGN_XOR: {
      pixman_region32_t both, either;
      pixman_region32_init(&both);
      pixman_region32_init(&either);
      ok = pixman_region32_intersect(&both, &a->region, &b->region) &&
           pixman_region32_union(&either, &a->region, &b->region) &&
           pixman_region32_subtract(&dest->region, &either, &both);
      pixman_region32_fini(&both);
      pixman_region32_fini(&either);
      break;
    }
    default:
      break;
  }
  return ok ? RegionType(&dest->region) : ERROR;
}

BOOL WINAPI EqualRgn(HRGN region1, HRGN region2) {
  Guard guard(Lock());
  Region *a = FindLocked<Region>(region1, GdiKind::Region);
  Region *b = FindLocked<Region>(region2, GdiKind::Region);
  if (!a || !b) return ERROR;
  // Two empty regions are equal whatever extents the operations that emptied them left.
  if (!pixman_region32_not_empty(&a->region) && !pixman_region32_not_empty(&b->region)) return TRUE;
  return pixman_region32_equal(&a->region, &b->region) ? TRUE : FALSE;
}

int WINAPI GetRgnBox(HRGN handle, LPRECT rect) {
  if (!rect) return ERROR;
  Guard guard(Lock());
  Region *region = FindLocked<Region>(handle, GdiKind::Region);
  if (!region) return ERROR;
  int type = RegionType(&region->region);
  if (type == NULLREGION) {
    *rect = {0, 0, 0, 0};
  } else {
    const pixman_box32_t *box = pixman_region32_extents(&region->region);
    *rect = {box->x1, box->y1, box->x2, box->y2};
  }
  return type;
}

BOOL WINAPI PtInRegion(HRGN handle, int x, int y) {
  Guard guard(Lock());
  Region *region = FindLocked<Region>(handle, GdiKind::Region);
  return region && pixman_region32_contains_point(&region->region, x, y, nullptr) ? TRUE : FALSE;
}

int WINAPI OffsetRgn(HRGN handle, int x, int y) {
  Guard guard(Lock());
  Region *region = FindLocked<Region>(handle, GdiKind::Region);
  if (!region) return ERROR;
  pixman_region32_translate(&region->region, x, y);
  return RegionType(&region->region);
}

// Returns the size the data takes; 0 when the buffer is too small.
DWORD WINAPI GetRegionData(HRGN handle, DWORD count, LPRGNDATA data) {
  Guard guard(Lock());
  Region *region = FindLocked<Region>(handle, GdiKind::Region);
  if (!region) return 0;
  int rectangles = 0;
  const pixman_box32_t *boxes = pixman_region32_rectangles(&region->region, &rectangles);
  DWORD size = static_cast<DWORD>(rectangles) * sizeof(RECT);
  DWORD total = sizeof(RGNDATAHEADER) + size;
  if (!data) return total;
  if (count < total) return 0;
  data->rdh.dwSize = sizeof(RGNDATAHEADER);
  data->rdh.iType = RDH_RECTANGLES;
  data->rdh.nCount = static_cast<DWORD>(rectangles);
  data->rdh.nRgnSize = size;
  if (rectangles == 0) {
    data->rdh.rcBound = {0, 0, 0, 0};
  } else {
    const pixman_box32_t *box = pixman_region32_extents(&region->region);
    data->rdh.rcBound = {box->x1, box->y1, box->x2, box->y2};
  }
  BYTE *out = reinterpret_cast<BYTE *>(data->Buffer);
  for (int i = 0; i < rectangles; ++i) {
    RECT rect = {boxes[i].x1, boxes[i].y1, boxes[i].x2, boxes[i].y2};
    std::memcpy(out + static_cast<size_t>(i) * sizeof(RECT), &rect, sizeof rect);
  }
  return total;
}

BOOL WINAPI SetRectRgn(HRGN handle, int left, int top, int right, int bottom) {
  Guard guard(Lock());
  Region *region = FindLocked<Region>(handle, GdiKind::Region);
  if (!region) return FALSE;
  SetToRect(&region->region, left, top, right, bottom);
  return TRUE;
}

// The window takes the region over and frees the one it had; on failure the region stays the
// caller's.
int WINAPI SetWindowRgn(HWND hwnd, HRGN handle, BOOL redraw) {
  int result = 0;
  {
    Guard guard(Lock());
    Window *window = FindWindowLocked(hwnd);
    Region *region = handle ? FindLocked<Region>(handle, GdiKind::Region) : nullptr;
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    } else if (window->foreign) {
      SetLastError(ERROR_ACCESS_DENIED);
    } else if (handle && (!region || (region->owner && region->owner != hwnd))) {
      SetLastError(ERROR_INVALID_PARAMETER);  // not a region, or another window's
    } else {
      if (window->region != handle) {
        DestroyWindowRegionLocked(window);
        window->region = handle;
        if (region) region->owner = hwnd;
      }
      if (redraw) InvalidateLocked(window, true);
      result = 1;
    }
  }
  UserCallRecord record{UserCall::SetWindowRgn};
  record.hwnd = hwnd;
  record.flags = static_cast<UINT>(redraw);
  record.value = reinterpret_cast<LONG_PTR>(handle);
  record.result = result;
  LogCall(record);
  return result;
}

int WINAPI GetWindowRgn(HWND hwnd, HRGN handle) {
  Guard guard(Lock());
  Window *window = FindWindowLocked(hwnd);
  Region *target = FindLocked<Region>(handle, GdiKind::Region);
  if (!window || !target || !window->region) return ERROR;
  Region *source = FindLocked<Region>(window->region, GdiKind::Region);
  if (!source || !pixman_region32_copy(&target->region, &source->region)) return ERROR;
  return RegionType(&target->region);
}

}  // extern "C"
