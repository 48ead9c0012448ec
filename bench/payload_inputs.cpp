#include "payload_inputs.h"

#include <memory>
#include <random>
#include <vector>

#include "appearance/payload.h"
#include "encode.h"

namespace quorvbench {
namespace {

constexpr size_t kTextSize = 1 << 20;  // 1 MiB of base64

std::string RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string bytes(count, '\0');
  for (char &c : bytes) c = static_cast<char>(rng());
  return bytes;
}

}  // namespace

const std::string &CleanBytes() {
  static const std::string bytes = RandomBytes(kTextSize / 4 * 3, 1);
  return bytes;
}

const std::string &CleanText() {
  static const std::string text = testkit::Base64Encode(CleanBytes());
  return text;
}

const std::string &LinedText() {
  static const std::string text = [] {
    const std::string &clean = CleanText();
    std::string lined;
    lined.reserve(clean.size() + clean.size() / 76 * 2 + 2);
    for (size_t at = 0; at < clean.size(); at += 76) {
      lined.append(clean, at, 76);
      lined += "\r\n";
    }
    return lined;
  }();
  return text;
}

const RegionPayload &Region() {
  static const RegionPayload payload = [] {
    RegionPayload p;
    std::mt19937 rng(7);
    std::vector<testkit::Rect> rects;
    LONG top = 0;
    while (p.text.size() < kTextSize) {
      // A band of rectangles with irregular edges, as the outline of overlapping windows gives.
      for (int band = 0; band < 256; ++band, top += 1 + static_cast<LONG>(rng() % 3)) {
        const LONG bottom = top + 1 + static_cast<LONG>(rng() % 4);
        LONG left = static_cast<LONG>(rng() % 64);
        for (int i = 0; i < 16; ++i) {
          const LONG right = left + 1 + static_cast<LONG>(rng() % 200);
          rects.push_back({left, top, right, bottom});
          left = right + 1 + static_cast<LONG>(rng() % 50);
        }
        top = bottom;
      }
      const std::string data = testkit::RegionData(rects);
      p.text = testkit::PackPayload(data);
      p.unpackedSize = data.size();
    }
    UINT32 length = 0;
    std::unique_ptr<unsigned char[]> block(Base64Decode(p.text.data(), static_cast<INT32>(p.text.size()), &length));
    p.block.assign(reinterpret_cast<const char *>(block.get()), length);
    return p;
  }();
  return payload;
}

}  // namespace quorvbench
