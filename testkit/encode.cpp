// Agent-side encoders. They build the bytes byte by byte, little-endian, instead of through the
// platform's structures, so they behave the same against winsim and the real headers and never
// depend on what a structure happens to contain.
#include "encode.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace testkit {

namespace {

void PutU16(std::string &out, uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void PutU32(std::string &out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

}  // namespace

void SetU32(std::string &bytes, size_t offset, uint32_t value) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return;
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string HexId(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(id));
  return text;
}

std::string Base64Encode(std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t group = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                     static_cast<uint8_t>(bytes[i + 2]);
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(kAlphabet[(group >> 6) & 63]);
    out.push_back(kAlphabet[group & 63]);
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string PackPayload(std::string_view bytes) {
  return PackPayloadWithSize(bytes, static_cast<uint32_t>(bytes.size()));
}

std::string PackPayloadWithSize(std::string_view bytes, uint32_t declaredSize) {
  uLongf packedLength = compressBound(static_cast<uLong>(bytes.size()));
  std::string block(4 + packedLength, '\0');
  SetU32(block, 0, declaredSize);
  int rc = compress(reinterpret_cast<Bytef *>(&block[4]), &packedLength, reinterpret_cast<const Bytef *>(bytes.data()),
                    static_cast<uLong>(bytes.size()));
  if (rc != Z_OK) return std::string();
  block.resize(4 + packedLength);
  return Base64Encode(block);
}

std::string RegionData(const std::vector<Rect> &rects) {
  Rect bound{0, 0, 0, 0};
  bool first = true;
  for (const Rect &r : rects) {
    if (r.left >= r.right || r.top >= r.bottom) continue;  // empty rectangles add nothing to the bound
    if (first) {
      bound = r;
      first = false;
    } else {
      bound.left = std::min(bound.left, r.left);
      bound.top = std::min(bound.top, r.top);
      bound.right = std::max(bound.right, r.right);
      bound.bottom = std::max(bound.bottom, r.bottom);
    }
  }
  std::string out;
  PutU32(out, 32);  // dwSize
  PutU32(out, 1);   // iType: RDH_RECTANGLES
  PutU32(out, static_cast<uint32_t>(rects.size()));
  PutU32(out, static_cast<uint32_t>(rects.size() * 16));
  for (LONG v : {bound.left, bound.top, bound.right, bound.bottom}) PutU32(out, static_cast<uint32_t>(v));
  for (const Rect &r : rects)
    for (LONG v : {r.left, r.top, r.right, r.bottom}) PutU32(out, static_cast<uint32_t>(v));
  return out;
}

std::string HexTitle(std::u16string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 4);
  for (char16_t unit : text)
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(unit >> shift) & 0xF]);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    uint8_t lead = static_cast<uint8_t>(utf8[i]);
    uint32_t cp;
    size_t extra;
    uint32_t minimum;
    if (lead < 0x80) {
      cp = lead, extra = 0, minimum = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F, extra = 1, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F, extra = 2, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07, extra = 3, minimum = 0x10000;
    } else {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= extra && i + k < utf8.size(); ++k) {
      uint8_t next = static_cast<uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) break;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (k <= extra || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(u'\uFFFD');  // malformed sequence: one replacement, resume after what was read
      i += k;
      continue;
    }
    i += k;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

IconParts IconPartsFromImage(const Image &image) {
  IconParts parts;
  const uint32_t w = static_cast<uint32_t>(image.width), h = static_cast<uint32_t>(image.height);
  PutU32(parts.header, 40);  // biSize
  PutU32(parts.header, w);   // biWidth
  PutU32(parts.header, h);   // biHeight: positive, rows bottom-up
  PutU16(parts.header, 1);   // biPlanes
  PutU16(parts.header, 32);  // biBitCount
  PutU32(parts.header, 0);   // biCompression: BI_RGB
  PutU32(parts.header, w * h * 4);
  for (int i = 0; i < 4; ++i) PutU32(parts.header, 0);  // resolution, biClrUsed, biClrImportant
  parts.color.reserve(w * h * 4);
  parts.mask.reserve(w * h * 4);
  for (uint32_t row = h; row-- > 0;) {
    for (uint32_t x = 0; x < w; ++x) {
      size_t index = static_cast<size_t>(row) * w + x;
      uint32_t argb = index < image.pixels.size() ? image.pixels[index] : 0;
      PutU32(parts.color, argb);  // little-endian 0xAARRGGBB is B, G, R, A in memory
      PutU32(parts.mask, (argb >> 24) == 0 ? 0x00FFFFFFu : 0u);
    }
  }
  return parts;
}

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
  std::string here = __FILE__;
  std::string root = here.substr(0, here.rfind("testkit"));
#ifdef _WIN32
  if (!root.empty() && root[0] == '/') root = "Z:" + root;  // a Unix path, where Wine maps the root
#endif
  return root + std::string(relative);
}

std::vector<std::string> IconMessages(const char *keyword, uint32_t messageNumber, uint32_t remoteWnd, int size,
                                      const IconParts &parts, size_t pieceBytes) {
  if (pieceBytes == 0) pieceBytes = 1;
  std::vector<std::string> out;
  char number[16], sizeText[16];
  std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(messageNumber));
  const std::string wnd = HexId(remoteWnd);
  std::snprintf(sizeText, sizeof sizeText, "%d", size);
  auto add = [&](int kind, std::string_view bytes) {
    std::string kindText = std::to_string(kind);
    out.push_back(Message({keyword, number, wnd, kindText, sizeText, sizeText, sizeText, PackPayload(bytes)}));
  };
  add(0, parts.header);
  // A bitmap goes as a first piece, further pieces and a last piece; a bitmap that fits one piece
  // goes as a first piece that carries it all and an empty last piece.
  auto addBits = [&](int firstKind, const std::string &bits) {
    size_t pieces = bits.empty() ? 1 : (bits.size() + pieceBytes - 1) / pieceBytes;
    for (size_t i = 0; i < pieces; ++i) {
      std::string_view piece = std::string_view(bits).substr(std::min(bits.size(), i * pieceBytes), pieceBytes);
      if (i == 0)
        add(firstKind, piece);
      else if (i + 1 < pieces)
        add(firstKind + 1, piece);
      else
        add(firstKind + 2, piece);
    }
    if (pieces == 1) add(firstKind + 2, std::string_view());
  };
  addBits(1, parts.mask);
  addBits(11, parts.color);
  return out;
}

namespace {

// A zero-terminated text field of the record: characters characters, the last one always zero.
void PutText(std::string &out, std::u16string_view text, size_t characters, bool wide) {
  std::string field;
  for (size_t i = 0; i < text.size() && i + 1 < characters; ++i) {
    const char16_t c = text[i];
    if (wide)
      PutU16(field, c);
    else
      field.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  field.resize(wide ? 2 * characters : characters, '\0');
  out += field;
}

}  // namespace

std::string NotifyRecordBytes(const NotifyRecord &record) {
  const bool wide = record.charType == 'W';
  const uint32_t fullSize = wide ? 956 : 508;
  const uint32_t cbSize = record.cbSize ? record.cbSize : fullSize;
  std::string full;
  PutU32(full, cbSize);
  PutU32(full, record.hWnd);
  PutU32(full, record.uID);
  PutU32(full, record.uFlags);
  PutU32(full, record.uCallbackMessage);
  PutU32(full, record.hIcon);
  PutText(full, record.tip, 128, wide);
  PutU32(full, record.dwState);
  PutU32(full, record.dwStateMask);
  PutText(full, record.info, 256, wide);
  PutU32(full, record.uVersion);
  PutText(full, record.infoTitle, 64, wide);
  PutU32(full, record.dwInfoFlags);
  full.append(reinterpret_cast<const char *>(record.guidItem), sizeof record.guidItem);
  PutU32(full, record.hBalloonIcon);
  full.resize(std::max(fullSize, cbSize), '\0');
  full.resize(cbSize);

  std::string out;
  out.push_back(record.charType);
  PutU32(out, record.dwMessage);
  out += full;
  return out;
}

namespace {

template <typename Fields>
std::string JoinFields(const Fields &fields) {
  std::string out;
  bool first = true;
  for (std::string_view f : fields) {
    if (!first) out.push_back(',');
    out.append(f);
    first = false;
  }
  return out;
}

}  // namespace

std::string Message(std::initializer_list<std::string_view> fields) { return JoinFields(fields); }
std::string Message(const std::vector<std::string> &fields) { return JoinFields(fields); }

}  // namespace testkit
