// Packed payloads: base64 text of a 4-byte little-endian uncompressed size and a zlib stream.
#include "appearance/payload.h"

#include "common/bytes.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <new>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <immintrin.h>
#endif

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

// For the fast path: per position in a group of four, the digit value already shifted to its
// place in the group's 24 bits, or kNotDigit for every byte that is not a digit (zero and "="
// included), so one OR of four entries tells whether the group is clean.
constexpr uint32_t kNotDigit = 0x80000000u;
using ShiftedTable = std::array<std::array<uint32_t, 256>, 4>;
constexpr ShiftedTable MakeShiftedTable() {
  ShiftedTable table{};
  for (int position = 0; position < 4; ++position)
    for (int c = 0; c < 256; ++c)
      table[position][c] =
          kDecodeTable[c] < 0 ? kNotDigit : static_cast<uint32_t>(kDecodeTable[c]) << (18 - 6 * position);
  return table;
}
constexpr ShiftedTable kShifted = MakeShiftedTable();

inline uint32_t Group(const unsigned char *p) {
  return kShifted[0][p[0]] | kShifted[1][p[1]] | kShifted[2][p[2]] | kShifted[3][p[3]];
}

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define QUORV_BASE64_SSSE3 1

bool HasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

// Sixteen digits at a time while all sixteen bytes are digits; returns the bytes written and leaves
// *i at the first block that is not clean (or that does not fit before end). Each block's 16-byte
// store reaches 4 bytes past its 12 decoded bytes: the caller's buffer has room, since at most 3
// bytes are written for every 4 bytes read and the buffer is one byte longer than the text.
__attribute__((target("ssse3"))) size_t DecodeCleanBlocks(const unsigned char *in, size_t *i, size_t end,
                                                          unsigned char *out) {
  // A byte is a digit when its low nibble's entry and its high nibble's entry share no bit: each
  // high nibble has one bit, set in the entries of the low nibbles that are no digit under it
  // (0x01: no digit at all, high nibbles 0, 1 and 8 to F; 0x02: 2, only B "+" and F "/"; 0x04: 3,
  // 0 to 9; 0x08: 4 and 6, 1 to F; 0x10: 5 and 7, 0 to A).
  const __m128i invalidForLow =
      _mm_setr_epi8(0x0B, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x07, 0x15, 0x17, 0x17, 0x17, 0x15);
  const __m128i classOfHigh =
      _mm_setr_epi8(0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x08, 0x10, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01);
  // What turns a digit byte into its value, by high nibble; "/" (0x2F) takes the entry below
  // that of "+" (0x2B).
  const __m128i offsetForHigh = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i lowNibble = _mm_set1_epi8(0x0F);
  const __m128i slash = _mm_set1_epi8(0x2F);
  // Per group: the 24 bits of four 6-bit values, then its three bytes in order.
  const __m128i pairs = _mm_set1_epi32(0x01400140);
  const __m128i quads = _mm_set1_epi32(0x00011000);
  const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);

  size_t at = *i;
  unsigned char *o = out;
  while (end - at >= 16) {
    const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + at));
    const __m128i high = _mm_and_si128(_mm_srli_epi32(text, 4), lowNibble);
    const __m128i low = _mm_and_si128(text, lowNibble);
    const __m128i bad = _mm_and_si128(_mm_shuffle_epi8(invalidForLow, low), _mm_shuffle_epi8(classOfHigh, high));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(bad, _mm_setzero_si128())) != 0xFFFF) break;
    const __m128i index = _mm_add_epi8(high, _mm_cmpeq_epi8(text, slash));
    const __m128i values = _mm_add_epi8(text, _mm_shuffle_epi8(offsetForHigh, index));
    const __m128i bits = _mm_madd_epi16(_mm_maddubs_epi16(values, pairs), quads);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_shuffle_epi8(bits, order));
    o += 12;
    at += 16;
  }
  *i = at;
  return static_cast<size_t>(o - out);
}
#endif

// Decodes whole groups of four digits from in[*i] on, while they are all digits and fit before
// end. Returns the bytes written; *i is left at the first group that is not clean.
size_t DecodeCleanGroups(const unsigned char *in, size_t *i, size_t end, unsigned char *out) {
  unsigned char *o = out;
#ifdef QUORV_BASE64_SSSE3
  if (HasSsse3()) o += DecodeCleanBlocks(in, i, end, o);
#endif
  size_t at = *i;
  while (end - at >= 4) {
    const uint32_t g = Group(in + at);
    if (g & kNotDigit) break;
    o[0] = static_cast<unsigned char>(g >> 16);
    o[1] = static_cast<unsigned char>(g >> 8);
    o[2] = static_cast<unsigned char>(g);
    o += 3;
    at += 4;
  }
  *i = at;
  return static_cast<size_t>(o - out);
}

// The decoded block of a packed text and its declared unpacked size, or null when the text does
// not decode to a size field the unpacker accepts.
std::unique_ptr<unsigned char[]> DecodeBlock(const char *text, INT32 length, UINT32 *decodedLength, UINT32 *size) {
  if (text == nullptr || length <= 0) return nullptr;
  std::unique_ptr<unsigned char[]> decoded(Base64Decode(text, length, decodedLength));
  if (!decoded || *decodedLength < 4) return nullptr;  // no complete size field
  *size = ReadU32(decoded.get());
  if (*size == 0 || *size > kMaxUnpackedSize) return nullptr;
  return decoded;
}

// Inflates the block's stream into dest (size bytes); the length inflated, or -1.
long long Inflate(const unsigned char *decoded, UINT32 decodedLength, unsigned char *dest, UINT32 size) {
  uLongf destLength = size;
  if (uncompress(dest, &destLength, decoded + 4, decodedLength - 4) != Z_OK) return -1;
  return static_cast<long long>(destLength);
}

// The unpacked data of a packed text, or null; *unpackedLength is set only on success. The text is
// decoded into one buffer and inflated straight from it: no other pass or copy.
std::unique_ptr<unsigned char[]> Unpack(const char *text, INT32 length, UINT32 *unpackedLength) {
  UINT32 decodedLength = 0, size = 0;
  std::unique_ptr<unsigned char[]> decoded = DecodeBlock(text, length, &decodedLength, &size);
  if (!decoded) return nullptr;
  std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[size]);
  if (!data) return nullptr;
  const long long inflated = Inflate(decoded.get(), decodedLength, data.get(), size);
  if (inflated < 0) return nullptr;
  *unpackedLength = static_cast<UINT32>(inflated);
  return data;
}

}  // namespace

unsigned char *Base64Decode(const char *text, INT32 length, UINT32 *decodedLength) {
  if (text == nullptr || length < 0) return nullptr;
  unsigned char *out = new (std::nothrow) unsigned char[static_cast<size_t>(length) + 1];
  if (out == nullptr) return nullptr;

  const unsigned char *in = reinterpret_cast<const unsigned char *>(text);
  const size_t end = static_cast<size_t>(length);
  size_t i = 0;
  UINT32 digits = 0;  // accepted digits so far
  size_t written = 0;
  bool stoppedAtPad = false;
  while (i < end) {
    // At a group boundary, clean groups go four digits at a time; the first byte that is not a
    // digit (or a group cut by the end) is left to the byte-at-a-time rules below.
    if (digits % 4 == 0 && end - i >= 4) {
      const size_t before = i;
      written += DecodeCleanGroups(in, &i, end, out + written);
      digits += static_cast<UINT32>(i - before);
      if (i == end) break;
    }
    const unsigned char c = in[i++];
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
  if (decodedLength != nullptr) *decodedLength = static_cast<UINT32>(written);
  return out;
}

unsigned char *UnpackPayload(const char *text, INT32 length, UINT32 *unpackedLength) {
  if (unpackedLength == nullptr) return nullptr;
  return Unpack(text, length, unpackedLength).release();
}

std::unique_ptr<unsigned char[]> UnpackPayload(std::string_view payload, UINT32 *unpackedLength) {
  // A payload longer than a signed 32-bit count cannot be described to the decoder.
  if (payload.size() > 0x7FFFFFFFu) return nullptr;
  return Unpack(payload.data(), static_cast<INT32>(payload.size()), unpackedLength);
}

std::string UnpackPayloadString(std::string_view payload) {
  if (payload.size() > 0x7FFFFFFFu) return std::string();
  UINT32 decodedLength = 0, size = 0;
  std::unique_ptr<unsigned char[]> decoded =
      DecodeBlock(payload.data(), static_cast<INT32>(payload.size()), &decodedLength, &size);
  if (!decoded) return std::string();
  // Inflated straight into the string: the unpacked bytes are never copied.
  std::string data;
  try {
    data.resize(size);
  } catch (const std::bad_alloc &) {
    return std::string();  // no memory for the destination is a failure like any other
  }
  const long long inflated =
      Inflate(decoded.get(), decodedLength, reinterpret_cast<unsigned char *>(data.data()), size);
  if (inflated < 0) return std::string();
  data.resize(static_cast<size_t>(inflated));
  return data;
}
