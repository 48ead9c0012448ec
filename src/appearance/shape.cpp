// UPDATERGN: the agent's shape changes, combined into the accumulated shape region, cut the host
// frame window down to the remote windows.
#include "appearance/shape.h"

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "appearance/payload.h"
#include "common/bytes.h"
#include "common/debug_log.h"
#include "common/handles.h"
#include "common/host_frame.h"
#include "common/host_interface.h"
#include "common/settings.h"

namespace {

constexpr UINT32 kRegionHeaderSize = 32;  // RGNDATAHEADER
constexpr UINT32 kRectangleSize = 16;     // RECT
constexpr UINT32 kRectanglesType = 1;     // RDH_RECTANGLES
// Most rectangles the accumulated shape may come to (4 MiB of region data). Regions are kept as
// bands of rectangles, and a union or exclusive-or multiplies bands: a few thousand thin
// horizontal strips and as many vertical ones, some kilobytes packed, would make a region of
// hundreds of megabytes. A change whose result could pass this is refused before it is made.
constexpr size_t kMaxShapeRectangles = size_t{1} << 18;

// Null until the first session start; never given to a window, only copies of it.
HRGN g_accumulatedShape = nullptr;

// ExtCreateRegion reads as many rectangles as the header counts, whatever size it is given, so
// the block must be checked to hold them all before it gets there.
bool IsWholeRegionData(const unsigned char *block, UINT32 length) {
  if (length < kRegionHeaderSize) return false;
  if (ReadU32(block) != kRegionHeaderSize || ReadU32(block + 4) != kRectanglesType) return false;
  return ReadU32(block + 8) <= (length - kRegionHeaderSize) / kRectangleSize;
}

// The region's data as GetRegionData gives it, and where its rectangles are; null when it cannot
// be read.
std::unique_ptr<unsigned char[]> ReadRegionData(HRGN region, std::span<const RECT> *rects) {
  const DWORD size = GetRegionData(region, 0, nullptr);
  if (size < kRegionHeaderSize) return nullptr;
  std::unique_ptr<unsigned char[]> data(new unsigned char[size]);
  if (GetRegionData(region, size, reinterpret_cast<RGNDATA *>(data.get())) != size) return nullptr;
  const UINT32 count = std::min<UINT32>(ReadU32(data.get() + 8), (size - kRegionHeaderSize) / kRectangleSize);
  *rects = std::span<const RECT>(reinterpret_cast<const RECT *>(data.get() + kRegionHeaderSize), count);
  return data;
}

// Whether combining the change's rectangles into the accumulated shape stays within the cap.
// Cut at every top and bottom edge of both, the plane falls into elementary bands; in each, the
// union or exclusive-or has at most as many rectangles as there are rectangles across that band.
// Summing those counts bounds the result without making it. Both lists are read where they lie.
bool ChangeFitsTheShape(HRGN accumulated, const unsigned char *block) {
  const UINT32 count = ReadU32(block + 8);
  if (count > kMaxShapeRectangles) return false;
  std::span<const RECT> shape;
  std::unique_ptr<unsigned char[]> shapeData;
  if (accumulated && !(shapeData = ReadRegionData(accumulated, &shape))) return false;
  const std::span<const RECT> lists[] = {
      shape, std::span<const RECT>(reinterpret_cast<const RECT *>(block + kRegionHeaderSize), count)};
  std::vector<LONG> edges;
  edges.reserve((shape.size() + count) * 2);
  for (const auto &list : lists)
    for (const RECT &r : list) {
      edges.push_back(r.top);
      edges.push_back(r.bottom);
    }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  size_t bound = 0;
  for (const auto &list : lists)
    for (const RECT &r : list) {
      if (r.left >= r.right || r.top >= r.bottom) continue;  // empty: adds nothing
      const auto top = std::lower_bound(edges.begin(), edges.end(), r.top);
      const auto bottom = std::lower_bound(top, edges.end(), r.bottom);
      bound += static_cast<size_t>(bottom - top);
      if (bound > kMaxShapeRectangles) return false;
    }
  return true;
}

// The region the block describes, or null when the block is not a whole rectangle list, could
// make the accumulated shape too complex, or ExtCreateRegion refuses it.
HRGN RegionFromChange(std::string_view packedChange, HRGN accumulated) {
  UINT32 length = 0;
  std::unique_ptr<unsigned char[]> block = UnpackPayload(packedChange, &length);
  if (!block || !IsWholeRegionData(block.get(), length)) return nullptr;
  if (!ChangeFitsTheShape(accumulated, block.get())) {
    LogDebug("Shape change of %u rectangles is too complex: ignored\n",
             static_cast<unsigned>(ReadU32(block.get() + 8)));
    return nullptr;
  }
  // new[] storage is aligned for any structure, so the block is read in place.
  return ExtCreateRegion(nullptr, length, reinterpret_cast<const RGNDATA *>(block.get()));
}

}  // namespace

int OnUpdateRgn(std::string_view packedChange) {
  const HWND host = GetHostFrameWindow();
  // Before the first session start there is no host frame window: nothing is posted, redrawn
  // or shown (a null window would mean the thread's queue or the whole desktop).
  if (host != nullptr) PostMessageA(host, WM_USER_WINDOWS_CHANGED, 0, 0);
  if (GetDisplayMode() != DisplayMode::kShaped) return 1;

  const HRGN accumulated = g_accumulatedShape;
  {
    UniqueRegion change(RegionFromChange(packedChange, accumulated));
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

void ReapplyShape() {
  if (GetHostFrameWindow() != nullptr) OnUpdateRgn(std::string_view());
}

void ResetShapeRegion() {
  DeleteShapeRegion();
  g_accumulatedShape = CreateRectRgn(0, 0, 0, 0);
}

void DeleteShapeRegion() {
  if (g_accumulatedShape) DeleteObject(g_accumulatedShape);
  g_accumulatedShape = nullptr;
}

HRGN AccumulatedShapeRegion() { return g_accumulatedShape; }
