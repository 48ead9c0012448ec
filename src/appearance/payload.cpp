// Packed payloads: base64 text of a 4-byte little-endian uncompressed size and a zlib stream.
#include "appearance/payload.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

// One entry per byte value: the digit value of the 64 alphabet bytes, -1 for every other byte
// ("=" included; the decoder tests for it before it looks here).
constexpr std::array<int16_t, 256> MakeDecodeTable() {
  std::array<int16_t, 256> table{};
  for (auto &entry : table) entry = -1;
  for (int i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<int16_t>(i);
    table['a' + i] = static_cast<int16_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<int16_t>(52 + i);
  table['+'] = 62;
  table['/'] = 63;
  return table;
}
constexpr std::array<int16_t, 256> kDecodeTable = MakeDecodeTable();

// The unpacked data of a packed text, or null; *unpackedLength is set only on success.
std::unique_ptr<unsigned char[]> Unpack(const char *text, INT32 length, UINT32 *unpackedLength) {
  if (text == nullptr || length <= 0) return nullptr;
  UINT32 decodedLength = 0;
  std::unique_ptr<unsigned char[]> decoded(Base64Decode(text, length, &decodedLength));
  if (!decoded || decodedLength < 4) return nullptr;  // no complete size field
  const UINT32 size = static_cast<UINT32>(decoded[0]) | (static_cast<UINT32>(decoded[1]) << 8) |
                      (static_cast<UINT32>(decoded[2]) << 16) | (static_cast<UINT32>(decoded[3]) << 24);
  if (size == 0 || size > kMaxUnpackedSize) return nullptr;
  std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[size]);
  if (!data) return nullptr;
  uLongf destLength = size;
  if (uncompress(data.get(), &destLength, decoded.get() + 4, decodedLength - 4) != Z_OK) return nullptr;
  *unpackedLength = static_cast<UINT32>(destLength);
  return data;
}

}  // namespace

unsigned char *Base64Decode(const char *text, INT32 length, UINT32 *decodedLength) {
  if (text == nullptr || length < 0) return nullptr;
  unsigned char *out = new (std::nothrow) unsigned char[static_cast<size_t>(length) + 1];
  if (out == nullptr) return nullptr;

  UINT32 digits = 0;  // accepted digits so far
  UINT32 written = 0;
  bool stoppedAtPad = false;
  for (INT32 i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0) break;
    if (c == '=') {
      stoppedAtPad = true;
      break;
    }
    const int16_t value = kDecodeTable[c];
    if (value < 0) continue;  // line ends, spaces and other bytes outside the alphabet
    const unsigned v = static_cast<unsigned>(value);
    switch (digits % 4) {
      case 0:
        out[written] = static_cast<unsigned char>(v << 2);
        break;
      case 1:
        out[written++] |= static_cast<unsigned char>(v >> 4);
        out[written] = static_cast<unsigned char>((v & 0x0F) << 4);
        break;
      case 2:
        out[written++] |= static_cast<unsigned char>(v >> 2);
        out[written] = static_cast<unsigned char>((v & 0x03) << 6);
        break;
      default:
        out[written++] |= static_cast<unsigned char>(v);
        break;
    }
    ++digits;
  }
  if (stoppedAtPad && digits % 4 == 1) {
    delete[] out;
    return nullptr;
  }
  // The bits of an unfinished last byte are dropped. Every started byte lies inside the buffer:
  // digits never exceed length, and digits * 6 / 8 < length + 1.
  out[written] = 0;
  if (decodedLength != nullptr) *decodedLength = written;
  return out;
}

unsigned char *UnpackPayload(const char *text, INT32 length, UINT32 *unpackedLength) {
  if (unpackedLength == nullptr) return nullptr;
  return Unpack(text, length, unpackedLength).release();
}

std::string UnpackPayloadString(std::string_view payload) {
  // A payload longer than a signed 32-bit count cannot be described to the decoder.
  if (payload.empty() || payload.size() > 0x7FFFFFFFu) return std::string();
  UINT32 length = 0;
  std::unique_ptr<unsigned char[]> data = Unpack(payload.data(), static_cast<INT32>(payload.size()), &length);
  if (!data) return std::string();
  try {
    return std::string(reinterpret_cast<const char *>(data.get()), length);
  } catch (const std::bad_alloc &) {
    return std::string();
  }
}
