// UPDATERGN: the agent's shape changes, combined into the accumulated shape region, cut the host
// frame window down to the remote windows.
#include <windows.h>

#include <memory>

#include "appearance/gdi_handles.h"
#include "appearance/payload.h"
#include "channel/debug_log.h"
#include "mirror/window_data.h"
#include "protocol/handlers.h"
#include "session/hello.h"
#include "session/host_messages.h"
#include "session/settings.h"

namespace {

constexpr UINT32 kRegionHeaderSize = 32;  // RGNDATAHEADER
constexpr UINT32 kRectangleSize = 16;     // RECT
constexpr UINT32 kRectanglesType = 1;     // RDH_RECTANGLES

UINT32 ReadU32(const unsigned char *p) {
  return static_cast<UINT32>(p[0]) | (static_cast<UINT32>(p[1]) << 8) | (static_cast<UINT32>(p[2]) << 16) |
         (static_cast<UINT32>(p[3]) << 24);
}

// ExtCreateRegion reads as many rectangles as the header counts, whatever size it is given, so
// the block must be checked to hold them all before it gets there.
bool IsWholeRegionData(const unsigned char *block, UINT32 length) {
  if (length < kRegionHeaderSize) return false;
  if (ReadU32(block) != kRegionHeaderSize || ReadU32(block + 4) != kRectanglesType) return false;
  return ReadU32(block + 8) <= (length - kRegionHeaderSize) / kRectangleSize;
}

// The region the block describes, or null when the block is not a whole rectangle list or
// ExtCreateRegion refuses it.
HRGN RegionFromChange(std::string_view packedChange) {
  if (packedChange.empty() || packedChange.size() > 0x7FFFFFFFu) return nullptr;
  UINT32 length = 0;
  std::unique_ptr<unsigned char[]> block(
      UnpackPayload(packedChange.data(), static_cast<INT32>(packedChange.size()), &length));
  if (!block || !IsWholeRegionData(block.get(), length)) return nullptr;
  // new[] storage is aligned for any structure, so the block is read in place.
  return ExtCreateRegion(nullptr, length, reinterpret_cast<const RGNDATA *>(block.get()));
}

}  // namespace

int OnUpdateRgn(std::string_view packedChange) {
  const HWND host = GetHostFrameWindow();
  // Before the first session start there is no host frame window: nothing is posted, redrawn
  // or shown (a null window would mean the thread's queue or the whole desktop).
  if (host != nullptr) PostMessageA(host, WM_USER_WINDOWS_CHANGED, 0, 0);
  if (GetDisplayMode() != 0) return 1;

  const HRGN accumulated = AccumulatedShapeRegion();
  {
    UniqueRegion change(RegionFromChange(packedChange));
    if (change && CombineRgn(accumulated, accumulated, change.get(), RGN_XOR) == ERROR)
      LogDebug("CombineRgn RGN_XOR failed, last error:%u!\n", static_cast<unsigned>(GetLastError()));

    UniqueRegion copy(CreateRectRgn(0, 0, 0, 0));
    if (CombineRgn(copy.get(), accumulated, nullptr, RGN_COPY) == ERROR)
      LogDebug("CombineRgn RGN_COPY failed, last error:%u!\n", static_cast<unsigned>(GetLastError()));
    // The window owns the copy once it took it; when it did not, the copy is still ours.
    if (host != nullptr && copy && SetWindowRgn(host, copy.get(), TRUE)) copy.release();
    if (host != nullptr) RedrawWindow(host, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  if (host != nullptr && !IsWindowVisible(host)) ShowWindow(host, SW_SHOW);
  return 1;
}
