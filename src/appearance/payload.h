// Packed payloads: base64 text of a 4-byte little-endian uncompressed size and a zlib stream.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

// Largest uncompressed size accepted: twice the largest legitimate payload (an incompressible
// 4 MiB icon bitmap), and small enough that a hostile size field cannot take the host's memory.
constexpr UINT32 kMaxUnpackedSize = 8u * 1024 * 1024;

// Decodes standard base64, skipping bytes outside the alphabet, stopping at a zero byte, at "=" or
// after length bytes. Returns a new[] buffer of length + 1 bytes (decoded bytes, then a zero) or
// null when "=" follows a lone digit. decodedLength may be null.
unsigned char *Base64Decode(const char *text, INT32 length, UINT32 *decodedLength);
// The buffer form: a new[] buffer with the unpacked bytes, or null.
unsigned char *UnpackPayload(const char *text, INT32 length, UINT32 *unpackedLength);
// The same for a text field, owned.
std::unique_ptr<unsigned char[]> UnpackPayload(std::string_view payload, UINT32 *unpackedLength);
// The string form: the unpacked bytes, or empty on any failure.
std::string UnpackPayloadString(std::string_view payload);
