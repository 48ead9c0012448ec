// The display's pointer as the client draws it: a 32-bit colour pointer (rows bottom-up, alpha
// kept) with its 1-bit AND mask, at most 96 x 96 pixels as every client takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rdpserver {

constexpr int kLargestPointer = 96;

struct PointerShape {
  int width = 0, height = 0, hotX = 0, hotY = 0;
  std::vector<uint8_t> xorMask;  // width * 4 bytes a row, bottom-up, B G R A
  std::vector<uint8_t> andMask;  // 1 bit a pixel, rows padded to 2 bytes, bottom-up; 1: transparent
};

// From X's cursor image: premultiplied ARGB, one value a pixel, rows top-down. A larger cursor is
// cut to its top-left 96 x 96 (the hot spot kept inside). False for an empty image.
bool MakePointerShape(const unsigned long *argb, int width, int height, int hotX, int hotY, PointerShape *shape);

}  // namespace rdpserver
