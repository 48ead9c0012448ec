// Incoming messages: chunks reassembled into whole messages, split into fields, converted and
// routed by keyword to the command handlers.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

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

// Splits the message at every comma; the last field runs to the end of the message.
std::vector<std::string_view> SplitFields(std::string_view message);
DecodedMessage DecodeMessage(std::string_view message);
// Calls the handler of a decoded message.
void RouteMessage(const DecodedMessage &message);
