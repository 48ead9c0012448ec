// Icon assembly and SETICON: an icon arrives as a bitmap header, mask pieces and colour pieces,
// each a packed payload of its own message, and is given to the local window when complete.
#include "appearance/icon.h"

#include <cstring>

#include "appearance/payload.h"
#include "common/bytes.h"
#include "common/handles.h"
#include "mirror/window_data.h"

namespace {

// Largest icon side built. 1024 pixels is far beyond any taskbar or task-switcher icon.
constexpr INT32 kMaxIconSide = 1024;
// Most bytes a bitmap of the largest accepted format needs (1024 x 1024 at 32 bpp). Bits beyond
// this can never be read by a build, so they are not kept: repeated pieces cannot grow memory.
constexpr size_t kMaxBitsSize = size_t{kMaxIconSide} * kMaxIconSide * 4;

// Part kinds: the header; the first, a further (2, 12) and the last piece of the mask bits and of
// the colour bits.
constexpr INT32 kHeaderPart = 0;
constexpr INT32 kFirstMaskPart = 1;
constexpr INT32 kLastMaskPart = 3;
constexpr INT32 kFirstColorPart = 11;
constexpr INT32 kLastColorPart = 13;

static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(BITMAPINFO) == 44, "header and one colour entry");

// The assembly of SETICON; the notification mirror has its own.
IconAssembly g_windowIconAssembly;

void AppendBits(std::string &bits, const std::string &piece) {
  if (bits.size() >= kMaxBitsSize) return;
  bits.append(piece, 0, kMaxBitsSize - bits.size());
}

// The byte count one bitmap of the header's format takes, or 0 when the header describes a
// format the assembly cannot carry (only the header and one zero colour entry travel).
size_t RequiredBitsSize(const unsigned char *header) {
  const INT32 size = ReadI32(header);
  const INT32 width = ReadI32(header + 4);
  const INT32 height = ReadI32(header + 8);
  const UINT32 bitCount = static_cast<UINT32>(header[14]) | (static_cast<UINT32>(header[15]) << 8);
  const INT32 compression = ReadI32(header + 16);
  const INT32 colorsUsed = ReadI32(header + 32);
  if (size != 40 || compression != BI_RGB || colorsUsed != 0) return 0;
  if (bitCount != 16 && bitCount != 24 && bitCount != 32) return 0;
  // Bottom-up (positive) and top-down (negative) heights; checked as 64-bit so INT_MIN is refused.
  const long long rows = height < 0 ? -static_cast<long long>(height) : height;
  if (width < 1 || width > kMaxIconSide || rows < 1 || rows > kMaxIconSide) return 0;
  const size_t rowBytes = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
  return rowBytes * static_cast<size_t>(rows);
}

}  // namespace

bool AddIconPart(IconAssembly &assembly, INT32 partKind, std::string_view payload) {
  const bool mask = partKind >= kFirstMaskPart && partKind <= kLastMaskPart;
  const bool color = partKind >= kFirstColorPart && partKind <= kLastColorPart;
  if (partKind != kHeaderPart && !mask && !color) return false;
  const std::string piece = UnpackPayloadString(payload);
  // A piece that cannot be stored acts as an empty one: a last piece still counts.
  bool completed = partKind == kLastMaskPart || partKind == kLastColorPart;
  if (partKind == kHeaderPart) {
    std::memset(assembly.header, 0, sizeof assembly.header);
    if (piece.size() == 40) {
      std::memcpy(assembly.header, piece.data(), 40);
      completed = true;
    }
  } else {
    std::string &bits = mask ? assembly.maskBits : assembly.colorBits;
    if (partKind == kFirstMaskPart || partKind == kFirstColorPart) bits.clear();
    try {
      AppendBits(bits, piece);
    } catch (const std::bad_alloc &) {
      // Memory cannot be obtained: the piece is lost as if it had failed to unpack.
    }
  }
  if (!completed) return false;
  ++assembly.completedParts;
  return assembly.completedParts >= 3;
}

HICON BuildIcon(const IconAssembly &assembly) {
  const size_t required = RequiredBitsSize(assembly.header);
  if (required == 0 || assembly.maskBits.size() < required || assembly.colorBits.size() < required) return nullptr;

  BITMAPINFO info;
  std::memcpy(&info, assembly.header, sizeof info);
  UniqueBitmap mask, color;
  {
    UniqueScreenDC screen(GetDC(nullptr));
    if (!screen) return nullptr;
    mask.reset(
        CreateDIBitmap(screen.get(), &info.bmiHeader, CBM_INIT, assembly.maskBits.data(), &info, DIB_RGB_COLORS));
    color.reset(
        CreateDIBitmap(screen.get(), &info.bmiHeader, CBM_INIT, assembly.colorBits.data(), &info, DIB_RGB_COLORS));
  }
  // Without a colour bitmap CreateIconIndirect would read the mask as a double-height
  // monochrome icon: both bitmaps or no icon.
  if (!mask || !color) return nullptr;
  ICONINFO iconInfo = {};
  iconInfo.fIcon = TRUE;
  iconInfo.hbmMask = mask.get();
  iconInfo.hbmColor = color.get();
  return CreateIconIndirect(&iconInfo);  // the icon has its own copies; the bitmaps go here
}

int OnSetIcon(UINT32 /*messageNumber*/, UINT32 remoteWnd, INT32 partKind, bool large, std::string_view payload) {
  if (!AddIconPart(g_windowIconAssembly, partKind, payload)) return 0;
  g_windowIconAssembly.completedParts = 0;
  CWindowData *record = FindWindowData(remoteWnd);
  if (record == nullptr) return 0;
  HICON icon = BuildIcon(g_windowIconAssembly);
  // A failed build leaves the slot and the window as they are: the window still shows the icon
  // the slot owns, which must not be destroyed under it.
  if (icon == nullptr) return 1;
  // The window takes the new icon first; then the slot drops and destroys the old one.
  if (record->m_hWnd != nullptr)
    SendMessageA(record->m_hWnd, WM_SETICON, large ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  record->SetIcon(large, icon);
  return 1;
}
