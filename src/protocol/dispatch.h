// Incoming messages: chunks reassembled into whole messages, split into fields, converted and
// routed by keyword to the command handlers.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The channel's data handler: one call per received chunk.
void OnChannelData(const void *data, UINT32 length, UINT32 totalLength);

// Library unload: drops a message still being collected.
void ResetMessageAssembly();

enum class Command {
  kNone,  // unrecognised keyword, or too few fields for the command
  kAck,
  kCreate,
  kDestroy,
  kShowWindow,
  kDestroyGroup,
  kHello,
  kSetIcon,
  kSyncBegin,
  kSyncEnd,
  kTitle,
  kZChange,
  kSysTray,
  kUpdateRgn,
  kHeartbeat,
};

// One message, decoded: the command, its numeric values in the order the handler takes them, and
// the text field where the command has one.
struct DecodedMessage {
  Command command = Command::kNone;
  UINT32 u[5] = {};  // unsigned values in handler order
  INT32 s = 0;       // the signed value (ACK field 2, SETICON/SYSTRAY part kind, TITLE field 4)
  bool large = false;  // SETICON/SYSTRAY: field 6 equals 32
  std::string_view text;  // points into the message
};

// Where the first fields of a message end. Fields are split at commas, the last one running to
// the end of the message; no command reads past its eighth field or counts more than eight, so the
// search stops at the eighth comma. It may go on chunk by chunk as a message is collected, while
// each chunk is still in the cache, so a long message is not read through once more for it.
struct FieldScan {
  static constexpr unsigned kMaxCommas = 8;

  // Searches what was added to the message since the last call (the message grows, never changes).
  void Continue(std::string_view message);
  // The number of fields, counted up to kMaxCommas + 1, and field i for i below that number, once
  // the whole message has been searched.
  unsigned FieldCount() const { return commas + 1; }
  std::string_view Field(std::string_view message, unsigned i) const;

  size_t comma[kMaxCommas] = {};
  unsigned commas = 0;
  size_t searched = 0;  // bytes of the message searched
};

// Decodes a message; scan, when given, holds the search already made of (part of) it.
DecodedMessage DecodeMessage(std::string_view message, FieldScan scan = {});
// Calls the handler of a decoded message.
void RouteMessage(const DecodedMessage &message);
