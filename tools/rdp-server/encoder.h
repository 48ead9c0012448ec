// Sends changed tiles as Remote Desktop bitmap updates: planar at 32 bits a pixel, interleaved
// RLE at 16 (for a client that asked for less than 32), each update below the client's largest
// fast-path message.
#pragma once

#include <freerdp/codec/interleaved.h>
#include <freerdp/codec/planar.h>
#include <freerdp/freerdp.h>

#include <vector>

#include "tiles.h"

namespace rdpserver {

class BitmapEncoder {
 public:
  BitmapEncoder() = default;
  ~BitmapEncoder();
  BitmapEncoder(const BitmapEncoder &) = delete;
  BitmapEncoder &operator=(const BitmapEncoder &) = delete;
  // False when the update could not be sent (the connection is failing).
  bool Send(rdpContext *context, const Picture &picture, const std::vector<Tile> &tiles);
  size_t bytesSent() const { return bytesSent_; }

 private:
  bool Prepare(bool planar);
  BITMAP_PLANAR_CONTEXT *planar_ = nullptr;
  BITMAP_INTERLEAVED_CONTEXT *interleaved_ = nullptr;
  size_t bytesSent_ = 0;
  bool tooBigSaid_ = false;
};

}  // namespace rdpserver
