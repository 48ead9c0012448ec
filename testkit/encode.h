// The encoders the tests, fuzzers, benchmarks and the stand-in host use: the agent's own (wire/),
// under the names these programs have always used, and what only they need: image files and
// comparisons of what an icon shows.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "encoders.h"
#include "icon_pixels.h"

namespace testkit {

using wire::Base64Encode;
using wire::HexId;
using wire::HexTitle;
using wire::IconMessages;
using wire::IconParts;
using wire::IconPartsFromImage;
using wire::IconPixels;
using wire::Image;
using wire::Message;
using wire::NotifyRecord;
using wire::NotifyRecordBytes;
using wire::PackPayload;
using wire::PackPayloadWithSize;
using wire::ReadBitmapPixels;
using wire::ReadIconPixels;
using wire::Rect;
using wire::RegionData;
using wire::SetU32;
using wire::Utf8ToUtf16;

// Reads a .ico (the BMP-format entry closest to the wanted size: 32 bpp with alpha, or 1, 4, 8, 16,
// 24 bpp shaped by the AND mask; PNG entries are skipped) or a .bmp file (BI_RGB or BI_BITFIELDS).
// Returns false with a reason in *error.
bool LoadImageFile(const std::string &path, int wantedSize, Image *image, std::string *error);

// The pixels differ from what the image says (a transparent pixel is one with alpha 0): a
// description of the first few differences, or empty.
std::string CompareIconPixels(const IconPixels &shown, const Image &sent);

// A file of the source tree (e.g. "examples/icons/folder.ico") by a name the C runtime opens.
std::string SourceTreePath(std::string_view relative);

}  // namespace testkit
