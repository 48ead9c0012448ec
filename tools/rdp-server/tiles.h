// The picture is sent in tiles of 64 x 64 pixels: only tiles whose pixels changed since they were
// last sent go to the client.
#pragma once

#include <cstdint>
#include <vector>

namespace rdpserver {

constexpr int kTile = 64;

struct Tile {
  int x, y, width, height;  // inside the screen; width and height 1 to 64
};

// 32-bit pixels, `stride` bytes a row.
struct Picture {
  const uint8_t *pixels;
  int width, height, stride;
};

// Compares `now` with `sent` (the same size and stride) tile by tile and returns the tiles that
// differ, or every tile when `all`; each returned tile is copied into `sent`.
std::vector<Tile> ChangedTiles(const Picture &now, uint8_t *sent, bool all);

// Copies a tile into `out` (kTile * kTile pixels, kTile * 4 bytes a row) with its width and height
// rounded up to a multiple of 4, as the bitmap codecs want: the extra columns and rows repeat the
// tile's last ones. Returns the padded width and height.
void PadTile(const Picture &picture, const Tile &tile, uint8_t *out, int *paddedWidth, int *paddedHeight);

}  // namespace rdpserver
