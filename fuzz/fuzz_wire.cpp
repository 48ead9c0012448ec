// The whole wire: agent messages cut into chunks of fuzzer-chosen lengths and handed to the
// channel's open-event procedure as the client does, after a greeting, so that every command
// acts on a live session.
//
// Input: one byte choosing the display mode, then records. A record is a control byte and the
// message text up to the next line feed (or the end). The control byte's low three bits choose
// the chunk length; the next three how the total length relates to the text (mostly exact; also
// longer, so the next record's bytes join the message, or shorter, so chunks close messages
// early); with the value 7 a text is announced as too long to collect, and an empty text stands
// for a channel event instead (reconnect, termination, a stray write completion).
#include <cstdint>
#include <string_view>

#include "fuzz_session.h"

namespace {

const size_t kChunkLengths[8] = {0, 1, 2, 3, 7, 64, 1600, 5};  // 0: the whole text in one chunk

void ChannelEvent(unsigned which) {
  testkit::StandInClient &client = quorvfuzz::Client();
  static UINT32 strayUserData = 0;
  switch (which % 5) {
    case 0:
      client.Disconnect();
      client.Connect();
      break;
    case 1:
      client.Terminate();
      client.Connect();
      break;
    case 2:
      client.OpenEvent(CHANNEL_EVENT_WRITE_COMPLETE, &strayUserData, 0, 0, 0);
      break;
    case 3:
      client.OpenEvent(CHANNEL_EVENT_WRITE_CANCELLED, nullptr, 0, 0, 0);
      break;
    default:
      client.DeliverChunk("", 0, 0, CHANNEL_FLAG_ONLY);
      break;
  }
}

void DeliverRecord(unsigned control, std::string_view text) {
  testkit::StandInClient &client = quorvfuzz::Client();
  const size_t chunk = kChunkLengths[control & 7] ? kChunkLengths[control & 7] : (text.empty() ? 1 : text.size());
  const unsigned totalMode = (control >> 3) & 7;
  UINT32 total = static_cast<UINT32>(text.size());
  if (totalMode == 5) total += 1 + static_cast<UINT32>(control >> 6);
  if (totalMode == 6) total /= 2;
  if (totalMode == 7) {
    if (text.empty()) return ChannelEvent(control & 7);
    total = (control & 0x40) ? 0xFFFFFFFFu : 96u * 1024 * 1024 + 1;
  }
  // Each chunk in a buffer of its own, so reading past it is caught.
  client.Deliver(text, chunk, total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  quorvfuzz::BeginInput(data[0] % 3);
  std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  while (!rest.empty()) {
    const unsigned control = static_cast<unsigned char>(rest[0]);
    rest.remove_prefix(1);
    const size_t end = rest.find('\n');
    std::string_view text = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    DeliverRecord(control, text);
  }
  quorvfuzz::Pump();
  quorvfuzz::EndInput();
  return 0;
}
