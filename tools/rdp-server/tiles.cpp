#include "tiles.h"

#include <cstring>

namespace rdpserver {

std::vector<Tile> ChangedTiles(const Picture &now, uint8_t *sent, bool all) {
  std::vector<Tile> changed;
  for (int y = 0; y < now.height; y += kTile) {
    const int h = now.height - y < kTile ? now.height - y : kTile;
    for (int x = 0; x < now.width; x += kTile) {
      const int w = now.width - x < kTile ? now.width - x : kTile;
      const size_t offset = static_cast<size_t>(y) * now.stride + static_cast<size_t>(x) * 4;
      bool differs = all;
      for (int row = 0; row < h && !differs; ++row)
        differs = std::memcmp(now.pixels + offset + static_cast<size_t>(row) * now.stride,
                              sent + offset + static_cast<size_t>(row) * now.stride, static_cast<size_t>(w) * 4) != 0;
      if (!differs) continue;
      for (int row = 0; row < h; ++row)
        std::memcpy(sent + offset + static_cast<size_t>(row) * now.stride,
                    now.pixels + offset + static_cast<size_t>(row) * now.stride, static_cast<size_t>(w) * 4);
      changed.push_back(Tile{x, y, w, h});
    }
  }
  return changed;
}

void PadTile(const Picture &picture, const Tile &tile, uint8_t *out, int *paddedWidth, int *paddedHeight) {
  const int pw = (tile.width + 3) & ~3;
  const int ph = (tile.height + 3) & ~3;
  for (int row = 0; row < ph; ++row) {
    const int sourceRow = row < tile.height ? row : tile.height - 1;
    const uint8_t *source =
        picture.pixels + static_cast<size_t>(tile.y + sourceRow) * picture.stride + static_cast<size_t>(tile.x) * 4;
    uint8_t *target = out + static_cast<size_t>(row) * kTile * 4;
    std::memcpy(target, source, static_cast<size_t>(tile.width) * 4);
    for (int column = tile.width; column < pw; ++column)
      std::memcpy(target + column * 4, source + (tile.width - 1) * 4, 4);
  }
  *paddedWidth = pw;
  *paddedHeight = ph;
}

}  // namespace rdpserver
