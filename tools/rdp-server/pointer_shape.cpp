#include "pointer_shape.h"

namespace rdpserver {

bool MakePointerShape(const unsigned long *argb, int width, int height, int hotX, int hotY, PointerShape *shape) {
  if (!argb || width <= 0 || height <= 0) return false;
  const int w = width < kLargestPointer ? width : kLargestPointer;
  const int h = height < kLargestPointer ? height : kLargestPointer;
  shape->width = w;
  shape->height = h;
  shape->hotX = hotX < 0 ? 0 : hotX >= w ? w - 1 : hotX;
  shape->hotY = hotY < 0 ? 0 : hotY >= h ? h - 1 : hotY;
  const int andStride = ((w + 15) / 16) * 2;
  shape->xorMask.assign(static_cast<size_t>(w) * 4 * h, 0);
  shape->andMask.assign(static_cast<size_t>(andStride) * h, 0);
  for (int y = 0; y < h; ++y) {
    const int row = h - 1 - y;  // bottom-up
    for (int x = 0; x < w; ++x) {
      const uint32_t pixel = static_cast<uint32_t>(argb[static_cast<size_t>(y) * width + x]);
      const uint32_t a = pixel >> 24;
      uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
      if (a > 0 && a < 255) {  // X keeps colours premultiplied by alpha; the client wants them plain
        r = r * 255 / a;
        g = g * 255 / a;
        b = b * 255 / a;
      }
      uint8_t *out = &shape->xorMask[(static_cast<size_t>(row) * w + x) * 4];
      out[0] = static_cast<uint8_t>(b > 255 ? 255 : b);
      out[1] = static_cast<uint8_t>(g > 255 ? 255 : g);
      out[2] = static_cast<uint8_t>(r > 255 ? 255 : r);
      out[3] = static_cast<uint8_t>(a);
      if (a == 0) shape->andMask[static_cast<size_t>(row) * andStride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  return true;
}

}  // namespace rdpserver
