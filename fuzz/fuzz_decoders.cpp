// The decoders on their own: base64 and unpacking, hex titles, the icon assembly, notification
// records and the field splitter. Where the agent-side encoder can make the input, the decoder
// must give back exactly what was encoded; everywhere it must stay inside its buffers.
//
// Input: one byte choosing the decoder, then that decoder's bytes.
#include <windows.h>

#include <inspect.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "appearance/icon.h"
#include "appearance/payload.h"
#include "appearance/tray.h"
#include "encode.h"
#include "fuzz_session.h"
#include "mirror/title.h"
#include "protocol/dispatch.h"

namespace {

void Check(bool condition, const char *what) {
  if (condition) return;
  fprintf(stderr, "==quorv== %s\n", what);
  abort();
}

uint32_t Le32(std::string_view b) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4 && i < b.size(); ++i)
    v |= static_cast<uint32_t>(static_cast<unsigned char>(b[i])) << (8 * i);
  return v;
}

void FuzzBase64(std::string_view in) {
  // Exactly length bytes may be read: the text gets a buffer of its own, without terminator.
  std::unique_ptr<char[]> text(new char[in.size() ? in.size() : 1]);
  std::copy(in.begin(), in.end(), text.get());
  UINT32 length = 0;
  std::unique_ptr<unsigned char[]> decoded(Base64Decode(text.get(), static_cast<INT32>(in.size()), &length));
  if (decoded) Check(length <= in.size() * 3 / 4 && decoded[length] == 0, "decoded length or terminator wrong");
  // What the encoder makes decodes to the bytes it was made from.
  const std::string encoded = testkit::Base64Encode(in);
  std::unique_ptr<unsigned char[]> back(Base64Decode(encoded.data(), static_cast<INT32>(encoded.size()), &length));
  Check(back && std::string_view(reinterpret_cast<char *>(back.get()), length) == in, "base64 round trip differs");
}

void FuzzUnpack(std::string_view in) {
  std::unique_ptr<char[]> text(new char[in.size() ? in.size() : 1]);
  std::copy(in.begin(), in.end(), text.get());
  UINT32 length = 0;
  std::unique_ptr<unsigned char[]> data(UnpackPayload(text.get(), static_cast<INT32>(in.size()), &length));
  const std::string asString = UnpackPayloadString(std::string_view(text.get(), in.size()));
  if (data)
    Check(std::string_view(reinterpret_cast<char *>(data.get()), length) == asString, "the two unpack forms differ");
  else
    Check(asString.empty(), "the string form unpacked what the buffer form refused");
}

// Bytes packed by the agent-side encoder with any size field: the unpacker gives them back
// exactly when the size field is non-zero, within the cap and not smaller than the data.
void FuzzPackRoundTrip(std::string_view in) {
  if (in.size() < 4) return;
  const uint32_t declared = Le32(in);
  const std::string_view bytes = in.substr(4);
  const std::string packed = testkit::PackPayloadWithSize(bytes, declared);
  const std::string unpacked = UnpackPayloadString(packed);
  const bool fits = declared != 0 && declared <= kMaxUnpackedSize && declared >= bytes.size();
  Check(fits ? unpacked == bytes : unpacked.empty(), "pack and unpack disagree");
}

void FuzzHexTitle(std::string_view in) {
  std::basic_string<WCHAR> text;
  for (size_t i = 0; i + 1 < in.size(); i += 2)
    text.push_back(
        static_cast<WCHAR>(static_cast<unsigned char>(in[i]) | (static_cast<unsigned char>(in[i + 1]) << 8)));
  const std::basic_string<WCHAR> decoded = DecodeHexText(text);
  Check(decoded.size() == (text.size() % 4 ? 0 : text.size() / 4), "hex title of the wrong length");
  const bool upperHex =
      std::all_of(text.begin(), text.end(), [](WCHAR c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
  if (upperHex && text.size() % 4 == 0) {
    const std::string again = testkit::HexTitle(std::u16string(decoded.begin(), decoded.end()));
    Check(std::equal(again.begin(), again.end(), text.begin(), text.end()), "hex title round trip differs");
  }
}

// Parts: kind selector, two length bytes, the part's raw bytes (packed here, as the agent does).
void FuzzIconAssembly(std::string_view in) {
  static const INT32 kKinds[] = {0, 1, 2, 3, 11, 12, 13, 4, -1};
  const size_t bitmaps = winsim::LiveObjectCount(winsim::ObjectKind::Bitmap);
  const size_t icons = winsim::LiveObjectCount(winsim::ObjectKind::Icon);
  const size_t dcs = winsim::LiveObjectCount(winsim::ObjectKind::DeviceContext);
  IconAssembly assembly;
  while (in.size() >= 3) {
    const INT32 kind = kKinds[static_cast<unsigned char>(in[0]) % (sizeof kKinds / sizeof kKinds[0])];
    const size_t length = std::min<size_t>(Le32(in.substr(1, 2)) & 0xFFFF, in.size() - 3);
    const std::string_view bytes = in.substr(3, length);
    in.remove_prefix(3 + length);
    if (!AddIconPart(assembly, kind, testkit::PackPayload(bytes))) continue;
    assembly.completedParts = 0;
    if (HICON icon = BuildIcon(assembly)) {
      ICONINFO info = {};
      Check(GetIconInfo(icon, &info) != FALSE, "a built icon cannot be read");
      DeleteObject(info.hbmMask);
      DeleteObject(info.hbmColor);
      DestroyIcon(icon);
    }
  }
  Check(winsim::LiveObjectCount(winsim::ObjectKind::Bitmap) == bitmaps &&
            winsim::LiveObjectCount(winsim::ObjectKind::Icon) == icons &&
            winsim::LiveObjectCount(winsim::ObjectKind::DeviceContext) == dcs,
        "building icons left objects behind");
}

// A notification record (raw bytes, packed here), then icon parts for it as in FuzzIconAssembly.
void FuzzNotifyRecord(std::string_view in) {
  if (in.empty()) return;
  const size_t length = std::min<size_t>(static_cast<unsigned char>(in[0]) * 4u, in.size() - 1);
  OnSysTray(1, 0x500, -1, in.size() & 1, testkit::PackPayload(std::string(in.substr(1, length))).c_str());
  in.remove_prefix(1 + length);
  static const INT32 kKinds[] = {0, 1, 3, 11, 13, 2, 12, -1};
  while (in.size() >= 2) {
    const INT32 kind = kKinds[static_cast<unsigned char>(in[0]) % (sizeof kKinds / sizeof kKinds[0])];
    const size_t n = std::min<size_t>(static_cast<unsigned char>(in[1]) * 8u, in.size() - 2);
    OnSysTray(2, 0x500, kind, true, testkit::PackPayload(std::string(in.substr(2, n))).c_str());
    in.remove_prefix(2 + n);
  }
  ResetTrayMirror();
  quorvfuzz::ClearNotificationArea();
}

// The field search made chunk by chunk (chunk sizes taken from the input itself) finds what a
// plain split at every comma finds, as far as the search goes.
void FuzzFields(std::string_view in) {
  std::vector<std::string_view> split;
  for (size_t start = 0;;) {
    const size_t comma = in.find(',', start);
    split.push_back(in.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  FieldScan scan;
  for (size_t have = 0; have < in.size();) {
    have = std::min(in.size(), have + 1 + static_cast<unsigned char>(in[have]) % 37);
    scan.Continue(in.substr(0, have));
  }
  const unsigned count = scan.FieldCount();
  Check(count == std::min<size_t>(split.size(), FieldScan::kMaxCommas + 1), "field count differs from the split");
  for (unsigned i = 0; i < count; ++i)
    Check(i + 1 == count && count > FieldScan::kMaxCommas ? scan.Field(in, i).substr(0, split[i].size()) == split[i]
                                                          : scan.Field(in, i) == split[i],
          "a field differs from the split");
  const MessageFields chunked(in, scan), whole(in);
  Check(FindCommand(chunked.Text(0)) == FindCommand(whole.Text(0)), "the chunked search finds another command");
  for (unsigned i = 0; i < chunked.Count(); ++i) {
    const std::string_view text = chunked.Text(i);
    Check(text == whole.Text(i), "the chunked search splits otherwise");
    Check(text.data() >= in.data() && text.data() + text.size() <= in.data() + in.size(),
          "a field points outside its message");
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The notification records' proxy window and record go with the library's detach.
  atexit([] { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const std::string_view in(reinterpret_cast<const char *>(data) + 1, size - 1);
  switch (data[0] % 7) {
    case 0:
      FuzzBase64(in);
      break;
    case 1:
      FuzzUnpack(in);
      break;
    case 2:
      FuzzPackRoundTrip(in);
      break;
    case 3:
      FuzzHexTitle(in);
      break;
    case 4:
      FuzzIconAssembly(in);
      break;
    case 5:
      FuzzNotifyRecord(in);
      break;
    default:
      FuzzFields(in);
      break;
  }
  return 0;
}
