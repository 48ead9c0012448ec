// Agent-side encoders. They build the bytes byte by byte, little-endian, instead of through the
// platform's structures, so they behave the same against winsim and the real headers and never
// depend on what a structure happens to contain.
#include "encoders.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace wire {

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

std::vector<IconPiece> IconPieces(const IconParts &parts, size_t pieceBytes) {
  if (pieceBytes == 0) pieceBytes = 1;
  std::vector<IconPiece> out;
  out.push_back(IconPiece{0, parts.header});
  // A bitmap goes as a first piece, further pieces and a last piece; a bitmap that fits one piece
  // goes as a first piece that carries it all and an empty last piece.
  auto addBits = [&](int firstKind, const std::string &bits) {
    size_t pieces = bits.empty() ? 1 : (bits.size() + pieceBytes - 1) / pieceBytes;
    for (size_t i = 0; i < pieces; ++i) {
      std::string piece = bits.substr(std::min(bits.size(), i * pieceBytes), pieceBytes);
      const int kind = i == 0 ? firstKind : i + 1 < pieces ? firstKind + 1 : firstKind + 2;
      out.push_back(IconPiece{kind, std::move(piece)});
    }
    if (pieces == 1) out.push_back(IconPiece{firstKind + 2, std::string()});
  };
  addBits(1, parts.mask);
  addBits(11, parts.color);
  return out;
}

std::vector<std::string> IconMessages(const char *keyword, uint32_t messageNumber, uint32_t remoteWnd, int size,
                                      const IconParts &parts, size_t pieceBytes) {
  std::vector<std::string> out;
  const std::string number = std::to_string(messageNumber);
  const std::string wnd = HexId(remoteWnd);
  const std::string sizeText = std::to_string(size);
  for (const IconPiece &piece : IconPieces(parts, pieceBytes))
    out.push_back(Message(
        {keyword, number, wnd, std::to_string(piece.kind), sizeText, sizeText, sizeText, PackPayload(piece.bytes)}));
  return out;
}

namespace {

// A zero-terminated text field of the record, `characters` long, the last one always zero; the
// ANSI form keeps ASCII and writes '?' for the rest.
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

}  // namespace wire
