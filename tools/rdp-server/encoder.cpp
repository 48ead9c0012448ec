#include "encoder.h"

#include <freerdp/codec/color.h>
#include <freerdp/settings.h>

#include <cstring>

#include "log.h"

namespace rdpserver {

namespace {
// A planar tile is at most its four planes and a header; interleaved RLE stays below raw 16-bit.
constexpr size_t kTileBufferSize = kTile * kTile * 4 * 2;
// What a bitmap update adds to its tiles' data: the update header, and per tile its rectangle,
// sizes and flags.
constexpr size_t kUpdateOverhead = 64;
constexpr size_t kPerTileOverhead = 32;
}  // namespace

BitmapEncoder::~BitmapEncoder() {
  if (planar_) freerdp_bitmap_planar_context_free(planar_);
  if (interleaved_) bitmap_interleaved_context_free(interleaved_);
}

bool BitmapEncoder::Prepare(bool planar) {
  if (planar && !planar_)
    planar_ = freerdp_bitmap_planar_context_new(PLANAR_FORMAT_HEADER_NA | PLANAR_FORMAT_HEADER_RLE, kTile, kTile);
  if (!planar && !interleaved_) interleaved_ = bitmap_interleaved_context_new(TRUE);
  return planar ? planar_ != nullptr : interleaved_ != nullptr;
}

bool BitmapEncoder::Send(rdpContext *context, const Picture &picture, const std::vector<Tile> &tiles) {
  if (tiles.empty()) return true;
  rdpSettings *settings = context->settings;
  const bool planar = settings->ColorDepth == 32;
  if (!Prepare(planar)) return false;
  // The client reassembles a fast-path update in a buffer of this size; an update beyond it ends
  // the connection.
  const size_t limit = settings->MultifragMaxRequestSize;

  std::vector<uint8_t> padded(static_cast<size_t>(kTile) * kTile * 4);
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<BITMAP_DATA> batch;
  size_t batchSize = kUpdateOverhead;

  auto flush = [&]() -> bool {
    if (batch.empty()) return true;
    BITMAP_UPDATE update = {};
    update.count = update.number = static_cast<UINT32>(batch.size());
    update.rectangles = batch.data();
    const BOOL sent = context->update->BitmapUpdate(context, &update);
    bytesSent_ += batchSize;
    batch.clear();
    buffers.clear();
    batchSize = kUpdateOverhead;
    return sent;
  };

  for (const Tile &tile : tiles) {
    int width = 0, height = 0;
    PadTile(picture, tile, padded.data(), &width, &height);
    std::vector<uint8_t> out(kTileBufferSize);
    UINT32 size = static_cast<UINT32>(out.size());
    BITMAP_DATA bitmap = {};
    if (planar) {
      if (!freerdp_bitmap_compress_planar(planar_, padded.data(), PIXEL_FORMAT_BGRX32, static_cast<UINT32>(width),
                                          static_cast<UINT32>(height), kTile * 4, out.data(), &size))
        continue;
      bitmap.bitsPerPixel = 32;
    } else {
      if (!interleaved_compress(interleaved_, out.data(), &size, static_cast<UINT32>(width),
                                static_cast<UINT32>(height), padded.data(), PIXEL_FORMAT_BGRX32, kTile * 4, 0, 0,
                                nullptr, settings->ColorDepth))
        continue;
      bitmap.bitsPerPixel = settings->ColorDepth;  // 15 or 16, two bytes a pixel either way
    }
    if (kUpdateOverhead + kPerTileOverhead + size > limit) {  // cannot reach this client at all
      if (!tooBigSaid_)
        LogEvent("a tile of %u bytes is beyond the client's largest update (%zu bytes): such tiles are left out", size,
                 limit);
      tooBigSaid_ = true;
      continue;
    }
    if (batchSize + kPerTileOverhead + size > limit && !flush()) return false;
    bitmap.destLeft = static_cast<UINT32>(tile.x);
    bitmap.destTop = static_cast<UINT32>(tile.y);
    // The padded columns and rows are decoded but not painted: the destination is the tile.
    bitmap.destRight = static_cast<UINT32>(tile.x + tile.width - 1);
    bitmap.destBottom = static_cast<UINT32>(tile.y + tile.height - 1);
    bitmap.width = static_cast<UINT32>(width);
    bitmap.height = static_cast<UINT32>(height);
    bitmap.compressed = TRUE;
    bitmap.bitmapLength = size;
    bitmap.cbCompMainBodySize = size;
    bitmap.cbScanWidth = static_cast<UINT32>(width) * ((bitmap.bitsPerPixel + 7) / 8);
    bitmap.cbUncompressedSize = bitmap.cbScanWidth * static_cast<UINT32>(height);
    out.resize(size);
    buffers.push_back(std::move(out));
    bitmap.bitmapDataStream = buffers.back().data();
    batch.push_back(bitmap);
    batchSize += kPerTileOverhead + size;
  }
  return flush();
}

}  // namespace rdpserver
