#include "icon_pixels.h"

namespace wire {

std::vector<uint32_t> ReadBitmapPixels(HDC screen, HBITMAP bitmap, int width, int height) {
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
  if (GetDIBits(screen, bitmap, 0, height, pixels.data(), &format, DIB_RGB_COLORS) != height) pixels.clear();
  return pixels;
}

bool ReadIconPixels(HICON icon, IconPixels *pixels) {
  ICONINFO info = {};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return false;
  BITMAP color = {};
  bool ok = info.hbmColor != nullptr && info.hbmMask != nullptr &&
            GetObjectA(info.hbmColor, sizeof color, &color) == sizeof color && color.bmWidth > 0 && color.bmHeight > 0;
  if (ok) {
    HDC screen = GetDC(nullptr);
    std::vector<uint32_t> colorPixels = ReadBitmapPixels(screen, info.hbmColor, color.bmWidth, color.bmHeight);
    std::vector<uint32_t> maskPixels = ReadBitmapPixels(screen, info.hbmMask, color.bmWidth, color.bmHeight);
    ReleaseDC(nullptr, screen);
    ok = !colorPixels.empty() && !maskPixels.empty();
    if (ok) {
      pixels->color.width = color.bmWidth;
      pixels->color.height = color.bmHeight;
      pixels->color.pixels = std::move(colorPixels);
      pixels->transparent.clear();
      for (uint32_t m : maskPixels) pixels->transparent.push_back((m & 0x00FFFFFF) != 0);
    }
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return ok;
}

Image IconImage(const IconPixels &pixels) {
  Image image = pixels.color;
  bool anyAlpha = false;
  for (uint32_t p : image.pixels) anyAlpha = anyAlpha || (p >> 24) != 0;
  if (!anyAlpha)
    for (size_t i = 0; i < image.pixels.size(); ++i)
      image.pixels[i] = i < pixels.transparent.size() && pixels.transparent[i] ? 0 : image.pixels[i] | 0xFF000000u;
  return image;
}

}  // namespace wire
