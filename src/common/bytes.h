// Little-endian 32-bit fields of the agent's byte data (region blocks, bitmap headers,
// notification records), read and written byte by byte so that no alignment is assumed.
#pragma once

#include <windows.h>

inline UINT32 ReadU32(const unsigned char *p) {
  return static_cast<UINT32>(p[0]) | (static_cast<UINT32>(p[1]) << 8) | (static_cast<UINT32>(p[2]) << 16) |
         (static_cast<UINT32>(p[3]) << 24);
}

inline INT32 ReadI32(const unsigned char *p) { return static_cast<INT32>(ReadU32(p)); }

inline void WriteU32(unsigned char *p, UINT32 value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}
