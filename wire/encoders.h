// The agent's side of the channel: what the agent in the remote session does to put bytes, shapes,
// titles, icons and notification records into message fields. One copy, used by the agent
// (tools/agent), the tests, fuzzers, benchmarks and the stand-in host.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

// Overwrites the 4 bytes at offset with value, little-endian; nothing when they are not all there.
void SetU32(std::string &bytes, size_t offset, uint32_t value);
// "0x%08x" of a value, as the agent and the add-in write window ids.
std::string HexId(uint32_t id);

// Standard base64 (RFC 4648) with padding.
std::string Base64Encode(std::string_view bytes);
// A packed payload: 4-byte little-endian size, zlib's compress() of the bytes, all base64.
std::string PackPayload(std::string_view bytes);
// The same with any value in the size field, as a faulty or hostile agent might send it.
std::string PackPayloadWithSize(std::string_view bytes, uint32_t declaredSize);

struct Rect {
  LONG left, top, right, bottom;
};
// An RGNDATA block (RGNDATAHEADER with dwSize 32, RDH_RECTANGLES, nCount, nRgnSize, rcBound, then
// the rectangles) as ExtCreateRegion takes it.
std::string RegionData(const std::vector<Rect> &rects);

// Four uppercase hex digits per UTF-16 code unit.
std::string HexTitle(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);

// A 32 bpp image, rows top to bottom, pixels 0xAARRGGBB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};
// The three things the agent sends for an icon: a 40-byte BITMAPINFOHEADER (32 bpp, BI_RGB,
// bottom-up), the mask bits and the colour bits in that format (the mask: 0x00FFFFFF where the
// pixel is transparent, 0 where it is opaque).
struct IconParts {
  std::string header;
  std::string mask;
  std::string color;
};
IconParts IconPartsFromImage(const Image &image);

// One message's worth of an icon: its part kind (0 header; 1, 2..., 3 mask; 11, 12..., 13 colour)
// and the raw bytes to pack.
struct IconPiece {
  int kind;
  std::string bytes;
};
// The pieces of one icon in the order they go: header, mask, colour; bits in pieces of at most
// pieceBytes raw bytes. A bitmap that fits one piece goes as a first piece that carries it all and
// an empty last piece.
std::vector<IconPiece> IconPieces(const IconParts &parts, size_t pieceBytes);
// The messages that carry one icon, each piece packed; keyword is "SETICON" or "SYSTRAY", and
// fields 4 to 6 carry size.
std::vector<std::string> IconMessages(const char *keyword, uint32_t messageNumber, uint32_t remoteWnd, int size,
                                      const IconParts &parts, size_t pieceBytes = 4096);

// A notification record as the remote application filled it (32-bit layout, whatever the
// agent's own architecture: the wire carries that layout).
struct NotifyRecord {
  char charType = 'W';     // 'A' or 'W'
  uint32_t dwMessage = 0;  // NIM_ADD 0, NIM_MODIFY 1, NIM_DELETE 2
  uint32_t cbSize = 0;     // 0: the full size of the form (508 or 956)
  uint32_t hWnd = 0;
  uint32_t uID = 0;
  uint32_t uFlags = 0;
  uint32_t uCallbackMessage = 0;
  uint32_t hIcon = 0;
  std::u16string tip;  // at most 127 characters are written
  uint32_t dwState = 0;
  uint32_t dwStateMask = 0;
  std::u16string info;  // at most 255
  uint32_t uVersion = 0;
  std::u16string infoTitle;  // at most 63
  uint32_t dwInfoFlags = 0;
  uint8_t guidItem[16] = {};
  uint32_t hBalloonIcon = 0;
};
// The unpacked payload of a record message: CharType, dwMessage, then cbSize bytes of the record
// (hWnd at 4, hIcon at 20, szTip at 24...). Texts of the ANSI form keep ASCII and have '?' for
// the rest.
std::string NotifyRecordBytes(const NotifyRecord &record);

// "f0,f1,...": one message line from its fields (no line end).
std::string Message(std::initializer_list<std::string_view> fields);
std::string Message(const std::vector<std::string> &fields);

}  // namespace wire
