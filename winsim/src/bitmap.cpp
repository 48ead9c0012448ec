// winsim gdi32: device-dependent bitmaps and their DIB conversions. A screen-compatible bitmap has
// 32 bits per pixel (the alpha byte is kept, as on a 32-bit display); a monochrome one 1.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "user_internal.h"

namespace winsim::detail {
namespace {

// Far beyond any icon or window shape; keeps a hostile size from taking the machine's memory.
constexpr int64_t kMaxPixels = 16 * 1024 * 1024;

constexpr uint32_t kWhite = 0x00FFFFFF;

// The DIB format a BITMAPINFO describes.
struct DibFormat {
  int width = 0;
  int height = 0;  // absolute
  bool topDown = false;
  int bitsPerPixel = 0;
  DWORD compression = BI_RGB;
  uint32_t masks[3] = {};
  std::vector<uint32_t> colors;  // 0x00RRGGBB
  size_t stride = 0;
};

size_t DibStride(int width, int bitsPerPixel) {
  return static_cast<size_t>((static_cast<int64_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

int MaskShift(uint32_t mask) {
  int shift = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

int MaskBits(uint32_t mask) {
  mask >>= MaskShift(mask);
  int bits = 0;
  while (mask & 1) {
    mask >>= 1;
    ++bits;
  }
  return bits;
}

// A masked field widened to 8 bits by repeating its high bits (five bits 11111 give 0xFF).
uint32_t Expand(uint32_t value, uint32_t mask) {
  if (!mask) return 0;
  int bits = MaskBits(mask);
  uint32_t field = (value & mask) >> MaskShift(mask);
  if (bits >= 8) return (field >> (bits - 8)) & 0xFF;
  uint32_t result = field << (8 - bits);
  for (int filled = bits; filled < 8; filled += bits) result |= result >> bits;
  return result & 0xFF;
}

// Reads the header and the colour table or masks that follow it: exactly as much as the format
// needs, wherever the header says it ends (biSize), as Windows does.
bool ParseDib(const BITMAPINFO *info, UINT usage, DibFormat &format) {
  if (!info || usage != DIB_RGB_COLORS) return false;
  const BYTE *base = reinterpret_cast<const BYTE *>(info);
  DWORD headerSize = info->bmiHeader.biSize;
  DWORD usedColors = 0;
  bool core = headerSize == 12;
  if (core) {
    WORD fields[4];
    std::memcpy(fields, base + 4, sizeof fields);
    format.width = fields[0];
    format.height = fields[1];
    format.bitsPerPixel = fields[3];
  } else if (headerSize >= sizeof(BITMAPINFOHEADER)) {
    const BITMAPINFOHEADER &h = info->bmiHeader;
    if (h.biWidth < 0 || h.biHeight == INT32_MIN) return false;
    format.width = h.biWidth;
    format.topDown = h.biHeight < 0;
    format.height = std::abs(h.biHeight);
    format.bitsPerPixel = h.biBitCount;
    format.compression = h.biCompression;
    usedColors = h.biClrUsed;
  } else {
    return false;
  }
  switch (format.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return false;
  }
  if (format.compression == BI_BITFIELDS) {
    if (format.bitsPerPixel != 16 && format.bitsPerPixel != 32) return false;
    // Version 4 and 5 headers carry the masks; a plain header is followed by them.
    std::memcpy(format.masks, base + (headerSize >= 52 ? 40 : headerSize), sizeof format.masks);
  } else if (format.compression == BI_RGB) {
    if (format.bitsPerPixel == 16) {
      format.masks[0] = 0x7C00;
      format.masks[1] = 0x03E0;
      format.masks[2] = 0x001F;
    }
  } else {
    return false;  // run-length and embedded image formats are not carried
  }
  if (format.bitsPerPixel <= 8) {
    DWORD entries = 1u << format.bitsPerPixel;
    if (usedColors && usedColors < entries) entries = usedColors;
    const BYTE *table = base + headerSize;
    size_t entrySize = core ? 3 : 4;
    for (DWORD i = 0; i < entries; ++i) {
      const BYTE *entry = table + i * entrySize;
      format.colors.push_back((static_cast<uint32_t>(entry[2]) << 16) | (static_cast<uint32_t>(entry[1]) << 8) |
                              entry[0]);
    }
  }
  if (static_cast<int64_t>(format.width) * format.height > kMaxPixels) return false;
  format.stride = DibStride(format.width, format.bitsPerPixel);
  return true;
}

uint32_t ReadDibPixel(const DibFormat &format, const BYTE *row, int x) {
  switch (format.bitsPerPixel) {
    case 1:
    case 4:
    case 8: {
      int bits = format.bitsPerPixel;
      int bitIndex = x * bits;
      int shift = 8 - bits - (bitIndex % 8);
      uint32_t index = (row[bitIndex / 8] >> shift) & ((1u << bits) - 1);
      return index < format.colors.size() ? format.colors[index] : 0;
    }
    case 16: {
      uint32_t v = row[x * 2] | (static_cast<uint32_t>(row[x * 2 + 1]) << 8);
      return (Expand(v, format.masks[0]) << 16) | (Expand(v, format.masks[1]) << 8) | Expand(v, format.masks[2]);
    }
    case 24:
      return (static_cast<uint32_t>(row[x * 3 + 2]) << 16) | (static_cast<uint32_t>(row[x * 3 + 1]) << 8) | row[x * 3];
    default: {
      uint32_t v;
      std::memcpy(&v, row + x * 4, sizeof v);
      if (format.compression == BI_RGB) return v;  // the alpha byte is kept
      return (Expand(v, format.masks[0]) << 16) | (Expand(v, format.masks[1]) << 8) | Expand(v, format.masks[2]);
    }
  }
}

// Colour data stored into a monochrome bitmap takes the nearer of black and white.
uint32_t NearestMonochrome(uint32_t pixel) {
  int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
  int toBlack = r * r + g * g + b * b;
  int toWhite = (255 - r) * (255 - r) + (255 - g) * (255 - g) + (255 - b) * (255 - b);
  return toWhite < toBlack ? kWhite : 0;
}

uint32_t StorePixel(const Pixels &target, uint32_t pixel) {
  if (target.bitsPerPixel == 1) return NearestMonochrome(pixel);
  if (target.bitsPerPixel == 24) return pixel & 0x00FFFFFF;
  return pixel;
}

HBITMAP NewBitmapLocked(int width, int height, int bitsPerPixel) {
  if (width == 0 || height == 0) return StockBitmapLocked();
  auto bitmap = std::make_unique<Bitmap>();
  if (!AllocatePixels(bitmap->pixels, width, height, bitsPerPixel)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return static_cast<HBITMAP>(AddObjectLocked(std::move(bitmap)));
}

HBITMAP CompatibleBitmapLocked(HDC dc, int width, int height) {
  DeviceContext *context = FindLocked<DeviceContext>(dc, GdiKind::DeviceContext);
  if (!context || width < 0 || height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int bits = 32;
  if (context->type == DeviceContext::Type::Memory)
    if (Bitmap *selected = FindLocked<Bitmap>(context->bitmap, GdiKind::Bitmap)) bits = selected->pixels.bitsPerPixel;
  return NewBitmapLocked(width, height, bits);
}

int SetDIBitsLocked(HBITMAP handle, UINT start, UINT lines, const void *bits, const BITMAPINFO *info, UINT usage) {
  Bitmap *bitmap = FindLocked<Bitmap>(handle, GdiKind::Bitmap);
  DibFormat format;
  if (!bitmap || bitmap->stock || !bits || !ParseDib(info, usage, format)) return 0;
  Pixels &target = bitmap->pixels;
  if (start >= static_cast<UINT>(format.height)) return 0;
  UINT count = std::min(lines, static_cast<UINT>(format.height) - start);
  const BYTE *source = static_cast<const BYTE *>(bits);
  std::vector<BYTE> row(format.stride);
  int width = std::min(format.width, target.width);
  for (UINT k = 0; k < count; ++k) {
    // The whole row is read, padding included: a short buffer shows up under the sanitizers.
    std::memcpy(row.data(), source + k * format.stride, format.stride);
    int scan = static_cast<int>(start + k);
    int y = format.topDown ? scan : format.height - 1 - scan;
    if (y < 0 || y >= target.height) continue;
    for (int x = 0; x < width; ++x)
      target.data[static_cast<size_t>(y) * target.width + x] = StorePixel(target, ReadDibPixel(format, row.data(), x));
  }
  return static_cast<int>(count);
}

void WriteDibPixel(BYTE *row, int x, int bitsPerPixel, uint32_t pixel) {
  switch (bitsPerPixel) {
    case 1:
      if (NearestMonochrome(pixel)) row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
      break;
    case 24:
      row[x * 3] = pixel & 0xFF;
      row[x * 3 + 1] = (pixel >> 8) & 0xFF;
      row[x * 3 + 2] = (pixel >> 16) & 0xFF;
      break;
    default:
      std::memcpy(row + x * 4, &pixel, sizeof pixel);
      break;
  }
}

void WriteMonochromeTable(LPBITMAPINFO info) {
  RGBQUAD table[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  std::memcpy(reinterpret_cast<BYTE *>(info) + info->bmiHeader.biSize, table, sizeof table);
}

}  // namespace

bool AllocatePixels(Pixels &pixels, int width, int height, int bitsPerPixel) {
  if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > kMaxPixels) return false;
  pixels.width = width;
  pixels.height = height;
  pixels.bitsPerPixel = bitsPerPixel;
  pixels.data.assign(static_cast<size_t>(width) * height, 0);
  return true;
}

HBITMAP CreateBitmapFromPixelsLocked(const Pixels &pixels) {
  auto bitmap = std::make_unique<Bitmap>();
  bitmap->pixels = pixels;
  return static_cast<HBITMAP>(AddObjectLocked(std::move(bitmap)));
}

// Colour to monochrome as a blit does it: the background colour (white) becomes 1, all else 0.
uint32_t ToMonochrome(uint32_t pixel) { return pixel == kWhite ? kWhite : 0; }

Pixels ScalePixels(const Pixels &source, int width, int height, int bitsPerPixel) {
  Pixels result;
  if (!AllocatePixels(result, width, height, bitsPerPixel)) return result;
  for (int y = 0; y < height; ++y) {
    int sy = static_cast<int>(static_cast<int64_t>(y) * source.height / height);
    for (int x = 0; x < width; ++x) {
      int sx = static_cast<int>(static_cast<int64_t>(x) * source.width / width);
      uint32_t pixel = source.data[static_cast<size_t>(sy) * source.width + sx];
      if (bitsPerPixel == 1 && source.bitsPerPixel != 1) pixel = ToMonochrome(pixel);
      if (bitsPerPixel != 1 && source.bitsPerPixel == 1) pixel &= kWhite;
      result.data[static_cast<size_t>(y) * width + x] = pixel;
    }
  }
  return result;
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void *bits) {
  UINT depth = planes * bitsPerPixel;
  if (width < 0 || height < 0 || (depth != 1 && depth != 24 && depth != 32)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Guard guard(Lock());
  HBITMAP handle = NewBitmapLocked(width, height, static_cast<int>(depth));
  Bitmap *bitmap = FindLocked<Bitmap>(handle, GdiKind::Bitmap);
  if (!bitmap || bitmap->stock || !bits) return handle;
  // Device-dependent rows: top row first, each padded to a multiple of 2 bytes.
  size_t stride = ((static_cast<size_t>(width) * depth + 15) / 16) * 2;
  const BYTE *source = static_cast<const BYTE *>(bits);
  for (int y = 0; y < height; ++y) {
    const BYTE *row = source + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      uint32_t pixel;
      if (depth == 1)
        pixel = (row[x / 8] & (0x80 >> (x % 8))) ? 0x00FFFFFF : 0;
      else if (depth == 24)
        pixel =
            (static_cast<uint32_t>(row[x * 3 + 2]) << 16) | (static_cast<uint32_t>(row[x * 3 + 1]) << 8) | row[x * 3];
      else
        std::memcpy(&pixel, row + x * 4, sizeof pixel);
      bitmap->pixels.data[static_cast<size_t>(y) * width + x] = pixel;
    }
  }
  return handle;
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
  Guard guard(Lock());
  return CompatibleBitmapLocked(dc, width, height);
}

HBITMAP WINAPI CreateDIBitmap(HDC dc, const BITMAPINFOHEADER *header, DWORD init, const void *bits,
                              const BITMAPINFO *info, UINT usage) {
  if (winsim::detail::g_failBitmapCountdown.load() > 0 && --winsim::detail::g_failBitmapCountdown == 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (!header) return nullptr;
  int width, height;
  if (header->biSize == 12) {
    WORD fields[2];
    std::memcpy(fields, reinterpret_cast<const BYTE *>(header) + 4, sizeof fields);
    width = fields[0];
    height = fields[1];
  } else if (header->biSize >= sizeof(BITMAPINFOHEADER)) {
    if (header->biWidth < 0 || header->biHeight == INT32_MIN) return nullptr;
    width = header->biWidth;
    height = std::abs(header->biHeight);
  } else {
    return nullptr;
  }
  Guard guard(Lock());
  HBITMAP handle = dc ? CompatibleBitmapLocked(dc, width, height) : NewBitmapLocked(width, height, 1);
  if (!handle) return nullptr;
  if ((init & CBM_INIT) && !SetDIBitsLocked(handle, 0, static_cast<UINT>(height), bits, info, usage)) {
    if (!FindLocked<Bitmap>(handle, GdiKind::Bitmap)->stock) RemoveObjectLocked(handle);
    return nullptr;
  }
  return handle;
}

int WINAPI GetDIBits(HDC dc, HBITMAP handle, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info, UINT usage) {
  Guard guard(Lock());
  if (!FindObjectLocked(dc, GdiKind::DeviceContext)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Bitmap *bitmap = FindLocked<Bitmap>(handle, GdiKind::Bitmap);
  if (!bitmap || !info || usage != DIB_RGB_COLORS || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  const Pixels &source = bitmap->pixels;
  BITMAPINFOHEADER &h = info->bmiHeader;
  if (!bits && h.biBitCount == 0) {
    // The format query: the bitmap's own format, header only.
    h.biWidth = source.width;
    h.biHeight = source.height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(source.bitsPerPixel);
    h.biCompression = source.bitsPerPixel == 32 ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = static_cast<DWORD>(DibStride(source.width, source.bitsPerPixel) * source.height);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
    h.biClrUsed = h.biClrImportant = 0;
    return static_cast<int>(std::min(lines, static_cast<UINT>(source.height)));
  }
  if (h.biCompression != BI_RGB || (h.biBitCount != 1 && h.biBitCount != 24 && h.biBitCount != 32) || h.biWidth <= 0 ||
      h.biHeight == 0 || h.biHeight == INT32_MIN)
    return 0;
  int width = h.biWidth;
  int height = std::abs(h.biHeight);
  bool topDown = h.biHeight < 0;
  size_t stride = DibStride(width, h.biBitCount);
  if (h.biBitCount == 1) WriteMonochromeTable(info);
  if (!bits) {
    h.biSizeImage = static_cast<DWORD>(stride * height);
    return static_cast<int>(std::min(lines, static_cast<UINT>(height)));
  }
  if (start >= static_cast<UINT>(height)) return 0;
  UINT count = std::min(lines, static_cast<UINT>(height) - start);
  BYTE *out = static_cast<BYTE *>(bits);
  for (UINT k = 0; k < count; ++k) {
    BYTE *row = out + k * stride;
    std::memset(row, 0, stride);
    int scan = static_cast<int>(start + k);
    int y = topDown ? scan : height - 1 - scan;
    if (y < 0 || y >= source.height) continue;
    for (int x = 0; x < std::min(width, source.width); ++x)
      WriteDibPixel(row, x, h.biBitCount, source.data[static_cast<size_t>(y) * source.width + x]);
  }
  return static_cast<int>(count);
}

}  // extern "C"
