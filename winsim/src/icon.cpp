// winsim user32 icons: an icon keeps its own copies of the colour and mask pixels, so the caller's
// bitmaps may be deleted right after CreateIconIndirect, and GetIconInfo hands out new bitmaps.
#include <windows.h>

#include "user_internal.h"

#define ERROR_INVALID_CURSOR_HANDLE 1402L

namespace winsim::detail {
namespace {

Pixels ToDepth(const Pixels &source, int bitsPerPixel) {
  return ScalePixels(source, source.width, source.height, bitsPerPixel);
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

// As Windows builds it: the mask is stretched to the colour bitmap's size and made monochrome; a
// monochrome pair becomes one mask of twice the height; without a colour bitmap the mask carries
// both halves.
HICON WINAPI CreateIconIndirect(PICONINFO iconInfo) {
  if (!iconInfo || !iconInfo->hbmMask) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Guard guard(Lock());
  Bitmap *mask = FindLocked<Bitmap>(iconInfo->hbmMask, GdiKind::Bitmap);
  Bitmap *color = iconInfo->hbmColor ? FindLocked<Bitmap>(iconInfo->hbmColor, GdiKind::Bitmap) : nullptr;
  if (!mask || (iconInfo->hbmColor && !color)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto icon = std::make_unique<Icon>();
  int width, height;
  if (color) {
    width = color->pixels.width;
    height = color->pixels.height;
    if (color->pixels.bitsPerPixel != 1 || mask->pixels.bitsPerPixel != 1) {
      icon->hasColor = true;
      icon->color = ToDepth(color->pixels, 32);
      icon->mask = ScalePixels(mask->pixels, width, height, 1);
    } else {
      Pixels top = ScalePixels(mask->pixels, width, height, 1);
      if (!AllocatePixels(icon->mask, width, height * 2, 1)) return nullptr;
      std::copy(top.data.begin(), top.data.end(), icon->mask.data.begin());
      std::copy(color->pixels.data.begin(), color->pixels.data.end(),
                icon->mask.data.begin() + static_cast<ptrdiff_t>(top.data.size()));
    }
  } else {
    width = mask->pixels.width;
    height = mask->pixels.height / 2;
    icon->mask = ToDepth(mask->pixels, 1);
  }
  if (icon->mask.data.empty() || (icon->hasColor && icon->color.data.empty())) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  icon->isIcon = iconInfo->fIcon != FALSE;
  icon->xHotspot = icon->isIcon ? static_cast<DWORD>(width / 2) : iconInfo->xHotspot;
  icon->yHotspot = icon->isIcon ? static_cast<DWORD>(height / 2) : iconInfo->yHotspot;
  return static_cast<HICON>(AddObjectLocked(std::move(icon)));
}

BOOL WINAPI GetIconInfo(HICON handle, PICONINFO iconInfo) {
  if (!iconInfo) return FALSE;
  Guard guard(Lock());
  Icon *icon = FindLocked<Icon>(handle, GdiKind::Icon);
  if (!icon) {
    SetLastError(ERROR_INVALID_CURSOR_HANDLE);
    return FALSE;
  }
  iconInfo->fIcon = icon->isIcon ? TRUE : FALSE;
  iconInfo->xHotspot = icon->xHotspot;
  iconInfo->yHotspot = icon->yHotspot;
  iconInfo->hbmMask = CreateBitmapFromPixelsLocked(icon->mask);
  iconInfo->hbmColor = icon->hasColor ? CreateBitmapFromPixelsLocked(icon->color) : nullptr;
  return TRUE;
}

BOOL WINAPI DestroyIcon(HICON handle) {
  Guard guard(Lock());
  GdiObject *icon = FindObjectLocked(handle, GdiKind::Icon);
  // The notification area's own copies (marked stock) are not the caller's to destroy.
  if (!icon || icon->stock) {
    SetLastError(ERROR_INVALID_CURSOR_HANDLE);
    return FALSE;
  }
  RemoveObjectLocked(handle);
  return TRUE;
}

HICON WINAPI CopyIcon(HICON handle) {
  Guard guard(Lock());
  Icon *icon = FindLocked<Icon>(handle, GdiKind::Icon);
  if (!icon) {
    SetLastError(ERROR_INVALID_CURSOR_HANDLE);
    return nullptr;
  }
  auto copy = std::make_unique<Icon>(*icon);
  copy->stock = false;
  return static_cast<HICON>(AddObjectLocked(std::move(copy)));
}

}  // extern "C"
