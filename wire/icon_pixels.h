// What an icon shows, read back with GetIconInfo and GetDIBits: the agent reads real windows'
// icons this way, and the tests read the add-in's icons the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "encoders.h"

namespace wire {

// The colour bitmap's pixels (0xAARRGGBB, rows top to bottom) and, per pixel, whether the mask
// makes it transparent.
struct IconPixels {
  Image color;
  std::vector<bool> transparent;
};
// False for no icon, or one without a colour bitmap (a monochrome icon).
bool ReadIconPixels(HICON icon, IconPixels *pixels);
// One bitmap's pixels at 32 bpp (GetDIBits, BI_RGB), rows top to bottom; empty when it cannot be
// read.
std::vector<uint32_t> ReadBitmapPixels(HDC screen, HBITMAP bitmap, int width, int height);

// The image the agent sends for an icon: where the icon's colour carries alpha, the pixels as they
// are; where it carries none (every alpha 0, an icon shaped by its mask alone), opaque pixels
// where the mask shows them and transparent ones (0) where it hides them.
Image IconImage(const IconPixels &pixels);

}  // namespace wire
