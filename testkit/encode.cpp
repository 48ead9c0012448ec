// Image files and icon comparisons for the programs that drive the add-in.
#include "encode.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace testkit {

namespace {

uint32_t GetU16(const std::string &data, size_t offset) {
  return static_cast<uint8_t>(data[offset]) | (static_cast<uint8_t>(data[offset + 1]) << 8);
}

uint32_t GetU32(const std::string &data, size_t offset) {
  return GetU16(data, offset) | (GetU16(data, offset + 2) << 16);
}

int CountTrailingZeros(uint32_t mask) {
  int n = 0;
  while (n < 32 && !(mask & (1u << n))) ++n;
  return n;
}

// One channel of a BI_BITFIELDS pixel scaled to 8 bits.
uint32_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = CountTrailingZeros(mask);
  uint64_t maxValue = mask >> shift;
  return static_cast<uint32_t>(((pixel & mask) >> shift) * uint64_t{255} / maxValue);
}

// Decodes a device-independent bitmap: info header at dib[0], colour table after it, pixels at
// bitsOffset (0: right after the colour table). iconEntry marks an icon file's entry: the header's
// height counts colour and AND mask together, and the AND mask follows the colour rows.
bool DecodeDib(const std::string &dib, size_t bitsOffset, bool iconEntry, Image *image, std::string *error) {
  if (dib.size() < 40) return *error = "bitmap header cut short", false;
  uint32_t headerSize = GetU32(dib, 0);
  if (headerSize < 40 || headerSize > dib.size()) return *error = "unsupported bitmap header", false;
  int32_t width = static_cast<int32_t>(GetU32(dib, 4));
  int32_t height = static_cast<int32_t>(GetU32(dib, 8));
  uint32_t bpp = GetU16(dib, 14);
  uint32_t compression = GetU32(dib, 16);
  uint32_t colorsUsed = GetU32(dib, 32);
  bool topDown = height < 0;
  if (height == INT32_MIN) return *error = "bad height", false;
  int64_t rows = topDown ? -static_cast<int64_t>(height) : height;
  if (iconEntry) rows /= 2;
  if (width <= 0 || rows <= 0 || width > 4096 || rows > 4096) return *error = "bad bitmap size", false;
  if (compression != 0 && compression != 3) return *error = "compressed bitmaps are not supported", false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return *error = "unsupported bit count", false;

  uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  if (bpp == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F, masks[3] = 0;
  size_t tableOffset = headerSize;
  if (compression == 3) {
    if (bpp != 16 && bpp != 32) return *error = "bit fields need 16 or 32 bpp", false;
    if (headerSize >= 52) {  // the masks are part of a V2 and later header
      for (int i = 0; i < 3; ++i) masks[i] = GetU32(dib, 40 + 4 * i);
      masks[3] = headerSize >= 56 ? GetU32(dib, 52) : 0;
    } else {
      if (dib.size() < 52) return *error = "bit field masks cut short", false;
      for (int i = 0; i < 3; ++i) masks[i] = GetU32(dib, 40 + 4 * i);
      masks[3] = 0;
      tableOffset = 52;
    }
  }
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    size_t entries = colorsUsed ? colorsUsed : (1u << bpp);
    if (entries > 256) return *error = "bad colour table", false;
    if (tableOffset + entries * 4 > dib.size()) return *error = "colour table cut short", false;
    for (size_t i = 0; i < entries; ++i) palette.push_back(GetU32(dib, tableOffset + 4 * i) & 0x00FFFFFF);
    if (bitsOffset == 0) bitsOffset = tableOffset + entries * 4;
  } else if (bitsOffset == 0) {
    bitsOffset = tableOffset;
  }

  const size_t stride = (static_cast<size_t>(width) * bpp + 31) / 32 * 4;
  const size_t maskStride = (static_cast<size_t>(width) + 31) / 32 * 4;
  const size_t colorBytes = stride * rows;
  const size_t maskBytes = iconEntry ? maskStride * rows : 0;
  if (bitsOffset > dib.size() || dib.size() - bitsOffset < colorBytes + maskBytes)
    return *error = "pixel data cut short", false;

  image->width = width;
  image->height = static_cast<int>(rows);
  image->pixels.assign(static_cast<size_t>(width) * rows, 0);
  bool anyAlpha = false;
  for (int64_t r = 0; r < rows; ++r) {
    const size_t y = topDown ? r : rows - 1 - r;  // the image row this stored row holds
    const unsigned char *src = reinterpret_cast<const unsigned char *>(dib.data()) + bitsOffset + r * stride;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t argb;
      if (bpp <= 8) {
        size_t bit = static_cast<size_t>(x) * bpp;
        uint32_t index = (src[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        argb = 0xFF000000u | (index < palette.size() ? palette[index] : 0);
      } else if (bpp == 24) {
        argb = 0xFF000000u | (src[3 * x + 2] << 16) | (src[3 * x + 1] << 8) | src[3 * x];
      } else {
        uint32_t pixel = bpp == 16 ? (src[2 * x] | (src[2 * x + 1] << 8))
                                   : (src[4 * x] | (src[4 * x + 1] << 8) | (src[4 * x + 2] << 16) |
                                      (static_cast<uint32_t>(src[4 * x + 3]) << 24));
        uint32_t a = masks[3] ? Channel(pixel, masks[3]) : 0xFF;
        if (masks[3] && a) anyAlpha = true;
        argb =
            (a << 24) | (Channel(pixel, masks[0]) << 16) | (Channel(pixel, masks[1]) << 8) | Channel(pixel, masks[2]);
      }
      image->pixels[y * width + x] = argb;
    }
  }
  // A 32 bpp bitmap whose alpha is zero everywhere carries no alpha at all: opaque, or shaped by
  // the icon's AND mask below.
  if (bpp == 32 && masks[3] && !anyAlpha)
    for (uint32_t &p : image->pixels) p |= 0xFF000000u;
  if (iconEntry && !(bpp == 32 && anyAlpha)) {
    const size_t maskOffset = bitsOffset + colorBytes;
    for (int64_t r = 0; r < rows; ++r) {
      const size_t y = topDown ? r : rows - 1 - r;
      const unsigned char *src = reinterpret_cast<const unsigned char *>(dib.data()) + maskOffset + r * maskStride;
      for (int32_t x = 0; x < width; ++x)
        if ((src[x / 8] >> (7 - x % 8)) & 1) image->pixels[y * width + x] = 0;  // transparent
    }
  }
  return true;
}

bool LoadIco(const std::string &data, int wantedSize, Image *image, std::string *error) {
  if (data.size() < 6 || GetU16(data, 0) != 0 || GetU16(data, 2) != 1) return *error = "not an icon file", false;
  const uint32_t count = GetU16(data, 4);
  if (data.size() < 6 + 16 * static_cast<size_t>(count)) return *error = "icon directory cut short", false;
  // Entries nearest the wanted size first; among equal distances the deeper colour.
  struct Entry {
    int size;
    uint32_t bpp, offset, length;
  };
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = 6 + 16 * i;
    int w = static_cast<uint8_t>(data[at]);
    Entry e{w == 0 ? 256 : w, GetU16(data, at + 6), GetU32(data, at + 12), GetU32(data, at + 8)};
    if (e.offset > data.size() || e.length > data.size() - e.offset) continue;
    if (e.length >= 8 && data.compare(e.offset, 8, "\x89PNG\r\n\x1a\n") == 0) continue;  // PNG entry
    entries.push_back(e);
  }
  if (entries.empty()) return *error = "no bitmap entry in the icon file", false;
  std::stable_sort(entries.begin(), entries.end(), [wantedSize](const Entry &a, const Entry &b) {
    int da = std::abs(a.size - wantedSize), db = std::abs(b.size - wantedSize);
    return da != db ? da < db : a.bpp > b.bpp;
  });
  std::string lastError;
  for (const Entry &e : entries) {
    if (DecodeDib(data.substr(e.offset, e.length), 0, true, image, &lastError)) return true;
  }
  *error = "no usable entry: " + lastError;
  return false;
}

bool LoadBmp(const std::string &data, Image *image, std::string *error) {
  if (data.size() < 14 + 40 || data[0] != 'B' || data[1] != 'M') return *error = "not a bitmap file", false;
  uint32_t bitsOffset = GetU32(data, 10);
  if (bitsOffset < 14 || bitsOffset > data.size()) return *error = "bad pixel offset", false;
  return DecodeDib(data.substr(14), bitsOffset - 14, false, image, error);
}

}  // namespace

bool LoadImageFile(const std::string &path, int wantedSize, Image *image, std::string *error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::ifstream in(path, std::ios::binary);
  if (!in) return *error = "cannot open " + path, false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Image result;
  bool ok = data.size() >= 2 && data[0] == 'B' && data[1] == 'M' ? LoadBmp(data, &result, error)
                                                                 : LoadIco(data, wantedSize, &result, error);
  if (ok) *image = std::move(result);
  return ok;
}

std::string CompareIconPixels(const IconPixels &shown, const Image &sent) {
  if (shown.color.width != sent.width || shown.color.height != sent.height)
    return "size " + std::to_string(shown.color.width) + "x" + std::to_string(shown.color.height) + ", sent " +
           std::to_string(sent.width) + "x" + std::to_string(sent.height);
  std::string out;
  int differences = 0;
  for (size_t i = 0; i < sent.pixels.size() && i < shown.color.pixels.size(); ++i) {
    const bool transparent = (sent.pixels[i] >> 24) == 0;
    if (shown.color.pixels[i] == sent.pixels[i] && shown.transparent[i] == transparent) continue;
    if (++differences > 5) break;
    char line[128];
    std::snprintf(line, sizeof line, "pixel %d,%d: sent %08x, shown %08x%s\n", static_cast<int>(i % sent.width),
                  static_cast<int>(i / sent.width), static_cast<unsigned>(sent.pixels[i]),
                  static_cast<unsigned>(shown.color.pixels[i]), shown.transparent[i] ? " transparent" : " opaque");
    out += line;
  }
  return out;
}

std::string SourceTreePath(std::string_view relative) {
  // The build names the tree (a compiler cache may give this file a relative __FILE__).
  std::string root = QUORV_SOURCE_ROOT;
#ifdef _WIN32
  if (!root.empty() && root[0] == '/') root = "Z:" + root;  // a Unix path, where Wine maps the root
#endif
  return root + std::string(relative);
}

}  // namespace testkit
