// winsim gdi32: the object table (regions, bitmaps, brushes, device contexts, icons), DeleteObject,
// SelectObject, GetObjectA, device contexts and brushes. Drawing reaches only bitmaps selected into
// memory device contexts; window and screen device contexts have no surface.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "user_internal.h"

namespace winsim::detail {
namespace {

std::map<uintptr_t, std::unique_ptr<GdiObject>> &Objects() {
  static auto *objects = new std::map<uintptr_t, std::unique_ptr<GdiObject>>;
  return *objects;
}

HBRUSH StockBrushLocked() {
  static HBRUSH brush = nullptr;
  if (!brush) {
    auto object = std::make_unique<Brush>();
    object->stock = true;
    object->color = RGB(255, 255, 255);
    brush = static_cast<HBRUSH>(AddObjectLocked(std::move(object)));
  }
  return brush;
}

void ReleaseSelectedBitmapLocked(HBITMAP handle) {
  Bitmap *bitmap = FindLocked<Bitmap>(handle, GdiKind::Bitmap);
  if (!bitmap || bitmap->stock) return;
  if (--bitmap->selectedInto <= 0 && bitmap->deletePending) RemoveObjectLocked(handle);
}

HDC NewDeviceContextLocked(DeviceContext::Type type) {
  auto dc = std::make_unique<DeviceContext>();
  dc->type = type;
  if (type == DeviceContext::Type::Memory) dc->bitmap = StockBitmapLocked();
  return static_cast<HDC>(AddObjectLocked(std::move(dc)));
}

void RemoveDeviceContextLocked(HDC handle) {
  DeviceContext *dc = FindLocked<DeviceContext>(handle, GdiKind::DeviceContext);
  if (!dc) return;
  HBITMAP bitmap = dc->bitmap;
  RemoveObjectLocked(handle);
  ReleaseSelectedBitmapLocked(bitmap);
}

uint32_t ColorToPixel(COLORREF color) {
  return (static_cast<uint32_t>(GetRValue(color)) << 16) | (static_cast<uint32_t>(GetGValue(color)) << 8) |
         GetBValue(color);
}

Bitmap *SurfaceLocked(HDC handle) {
  DeviceContext *dc = FindLocked<DeviceContext>(handle, GdiKind::DeviceContext);
  if (!dc || dc->type != DeviceContext::Type::Memory) return nullptr;
  Bitmap *bitmap = FindLocked<Bitmap>(dc->bitmap, GdiKind::Bitmap);
  return bitmap && !bitmap->stock ? bitmap : nullptr;
}

}  // namespace

GdiObject *FindObjectLocked(const void *handle, GdiKind kind) {
  auto it = Objects().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Objects().end() || it->second->kind != kind) return nullptr;
  return it->second.get();
}

void *AddObjectLocked(std::unique_ptr<GdiObject> object) {
  uintptr_t handle = NewHandleValue();
  Objects()[handle] = std::move(object);
  return reinterpret_cast<void *>(handle);
}

void RemoveObjectLocked(const void *handle) { Objects().erase(reinterpret_cast<uintptr_t>(handle)); }

size_t CountObjectsLocked(GdiKind kind) {
  size_t count = 0;
  for (auto &entry : Objects())
    if (entry.second->kind == kind && !entry.second->stock) ++count;
  return count;
}

HBITMAP StockBitmapLocked() {
  static HBITMAP stock = nullptr;
  if (!stock) {
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->stock = true;
    AllocatePixels(bitmap->pixels, 1, 1, 1);
    stock = static_cast<HBITMAP>(AddObjectLocked(std::move(bitmap)));
  }
  return stock;
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  Guard guard(Lock());
  auto it = Objects().find(reinterpret_cast<uintptr_t>(object));
  if (it == Objects().end()) return FALSE;
  GdiObject *entry = it->second.get();
  if (entry->stock) return TRUE;
  switch (entry->kind) {
    case GdiKind::Region:
      // A region given to a window belongs to the window now: deleting it is the caller's bug.
      if (static_cast<Region *>(entry)->owner) return FALSE;
      break;
    case GdiKind::Bitmap: {
      auto *bitmap = static_cast<Bitmap *>(entry);
      if (bitmap->selectedInto > 0) {  // freed when the device context lets it go, as on Windows
        bitmap->deletePending = true;
        return TRUE;
      }
      break;
    }
    case GdiKind::Brush:
      break;
    case GdiKind::DeviceContext:
    case GdiKind::Icon:
      return FALSE;
  }
  Objects().erase(it);
  return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  Guard guard(Lock());
  DeviceContext *context = FindLocked<DeviceContext>(dc, GdiKind::DeviceContext);
  if (!context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (Bitmap *bitmap = FindLocked<Bitmap>(object, GdiKind::Bitmap)) {
    if (context->type != DeviceContext::Type::Memory || bitmap->deletePending) return nullptr;
    if (object == context->bitmap) return object;
    if (!bitmap->stock && bitmap->selectedInto > 0) return nullptr;  // one device context at a time
    if (!bitmap->stock) bitmap->selectedInto++;
    HBITMAP previous = context->bitmap;
    context->bitmap = static_cast<HBITMAP>(object);
    ReleaseSelectedBitmapLocked(previous);
    return previous;
  }
  if (FindLocked<Brush>(object, GdiKind::Brush)) {
    HBRUSH previous = context->brush ? context->brush : StockBrushLocked();
    context->brush = static_cast<HBRUSH>(object);
    return previous;
  }
  // Regions (clipping) and other objects are not selected here.
  SetLastError(ERROR_INVALID_PARAMETER);
  return object && FindObjectLocked(object, GdiKind::Region) ? HGDI_ERROR : nullptr;
}

int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer) {
  Guard guard(Lock());
  if (Bitmap *bitmap = FindLocked<Bitmap>(object, GdiKind::Bitmap)) {
    if (!buffer) return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    const Pixels &p = bitmap->pixels;
    BITMAP info = {};
    info.bmWidth = p.width;
    info.bmHeight = p.height;
    info.bmWidthBytes = ((p.width * p.bitsPerPixel + 15) / 16) * 2;
    info.bmPlanes = 1;
    info.bmBitsPixel = static_cast<WORD>(p.bitsPerPixel);
    std::memcpy(buffer, &info, sizeof info);
    return sizeof(BITMAP);
  }
  if (Brush *brush = FindLocked<Brush>(object, GdiKind::Brush)) {
    if (!buffer) return sizeof(LOGBRUSH);
    LOGBRUSH info = {BS_SOLID, brush->color, 0};
    int count = std::min(size, static_cast<int>(sizeof info));
    if (count <= 0) return 0;
    std::memcpy(buffer, &info, static_cast<size_t>(count));
    return count;
  }
  return 0;
}

HDC WINAPI CreateCompatibleDC(HDC dc) {
  Guard guard(Lock());
  if (dc && !FindObjectLocked(dc, GdiKind::DeviceContext)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return NewDeviceContextLocked(DeviceContext::Type::Memory);
}

BOOL WINAPI DeleteDC(HDC dc) {
  Guard guard(Lock());
  if (!FindObjectLocked(dc, GdiKind::DeviceContext)) return FALSE;
  RemoveDeviceContextLocked(dc);
  return TRUE;
}

HDC WINAPI GetDC(HWND hwnd) {
  Guard guard(Lock());
  if (hwnd && !FindWindowOrFailLocked(hwnd)) return nullptr;
  return NewDeviceContextLocked(hwnd ? DeviceContext::Type::Window : DeviceContext::Type::Screen);
}

int WINAPI ReleaseDC(HWND hwnd, HDC dc) {
  (void)hwnd;
  Guard guard(Lock());
  DeviceContext *context = FindLocked<DeviceContext>(dc, GdiKind::DeviceContext);
  if (!context || (context->type != DeviceContext::Type::Screen && context->type != DeviceContext::Type::Window))
    return 0;
  RemoveDeviceContextLocked(dc);
  return 1;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  Guard guard(Lock());
  Window *window = FindWindowOrFailLocked(hwnd);
  if (!window) return nullptr;
  std::memset(paint, 0, sizeof *paint);
  paint->fErase = std::exchange(window->needsPaint, false) ? TRUE : FALSE;
  paint->rcPaint = {0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  paint->hdc = NewDeviceContextLocked(DeviceContext::Type::Paint);
  return paint->hdc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT *paint) {
  (void)hwnd;
  if (!paint) return FALSE;
  Guard guard(Lock());
  DeviceContext *context = FindLocked<DeviceContext>(paint->hdc, GdiKind::DeviceContext);
  if (context && context->type == DeviceContext::Type::Paint) RemoveDeviceContextLocked(paint->hdc);
  return TRUE;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  Guard guard(Lock());
  auto brush = std::make_unique<Brush>();
  brush->color = color & 0x00FFFFFF;
  return static_cast<HBRUSH>(AddObjectLocked(std::move(brush)));
}

int WINAPI FillRect(HDC dc, const RECT *rect, HBRUSH brush) {
  if (!rect) return 0;
  Guard guard(Lock());
  Brush *fill = FindLocked<Brush>(brush, GdiKind::Brush);
  if (!fill || !FindObjectLocked(dc, GdiKind::DeviceContext)) return 0;
  Bitmap *surface = SurfaceLocked(dc);
  if (!surface) return 1;  // nothing to draw on
  Pixels &p = surface->pixels;
  uint32_t pixel = ColorToPixel(fill->color);
  if (p.bitsPerPixel == 1) pixel = ToMonochrome(pixel);
  int left = std::clamp(static_cast<int>(std::min(rect->left, rect->right)), 0, p.width);
  int right = std::clamp(static_cast<int>(std::max(rect->left, rect->right)), 0, p.width);
  int top = std::clamp(static_cast<int>(std::min(rect->top, rect->bottom)), 0, p.height);
  int bottom = std::clamp(static_cast<int>(std::max(rect->top, rect->bottom)), 0, p.height);
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) p.data[static_cast<size_t>(y) * p.width + x] = pixel;
  return 1;
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
  Guard guard(Lock());
  Bitmap *surface = SurfaceLocked(dc);
  if (!surface || x < 0 || y < 0 || x >= surface->pixels.width || y >= surface->pixels.height) return CLR_INVALID;
  uint32_t pixel = surface->pixels.data[static_cast<size_t>(y) * surface->pixels.width + x];
  return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

}  // extern "C"
