// Icon assembly: the parts of one icon (bitmap header, mask bits, colour bits) collected from
// several messages, and the icon built from them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

struct IconAssembly {
  unsigned char header[44] = {};  // BITMAPINFOHEADER as sent, then one zero colour-table entry
  std::string maskBits;
  std::string colorBits;
  INT32 completedParts = 0;
};

// Applies one part; true when three parts have completed since the counter was last reset.
bool AddIconPart(IconAssembly &assembly, INT32 partKind, std::string_view payload);
// A new icon from the assembly, or null (also when the header or the buffers cannot make one).
HICON BuildIcon(const IconAssembly &assembly);

// SETICON: one part of a window icon. When the part completes a set, the icon is built and given
// to the window named in this message (large: the big icon). 1 when a complete set met a
// registered window, else 0.
int OnSetIcon(UINT32 messageNumber, UINT32 remoteWnd, INT32 partKind, bool large, std::string_view payload);
