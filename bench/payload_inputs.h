// The payloads the decoder benchmarks time, the same on winsim and in the Windows programs: 1 MiB
// of base64 (without line ends, and in 76-character CRLF lines) and a packed region payload of
// about 1 MiB of text.
#pragma once

#include <cstddef>
#include <string>

namespace quorvbench {

// The random bytes the two base64 texts carry.
const std::string &CleanBytes();
// 1 MiB of base64 without a line end.
const std::string &CleanText();
// The same text in lines of 76 characters, each ended by CR LF, as mail-style encoders write it.
const std::string &LinedText();

// A region of many small rectangles in bands, packed as the agent sends UPDATERGN.
struct RegionPayload {
  std::string text;
  std::string block;  // the decoded packed block: size field and zlib stream
  size_t unpackedSize = 0;
};
const RegionPayload &Region();

}  // namespace quorvbench
