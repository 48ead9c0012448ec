#include "protocol/dispatch.h"

#include "channel/debug_log.h"
#include "protocol/handlers.h"
#include "session/settings.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Largest message collected: room for a packed payload of the largest unpacked size (64 MiB of
// incompressible data is about 86 MiB of base64) and its fields. A longer one is skipped whole.
constexpr UINT32 kMaxMessageSize = 96u * 1024 * 1024;

// A buffer up to this size is always kept for the next message.
constexpr size_t kKeptBufferSize = 64 * 1024;

std::string g_accumulator;
// The field search of the message being collected, made as each chunk arrives.
FieldScan g_scan;
// Bytes of an oversized message still to skip, counted against the total the client announced.
UINT32 g_skipped = 0;
bool g_skipping = false;

struct CommandInfo {
  const char *keyword;
  Command command;
  unsigned minFields;  // the keyword included
};

// In the order keywords are compared.
const CommandInfo kCommands[] = {
    {"ACK", Command::kAck, 3},
    {"CREATE", Command::kCreate, 6},
    {"DESTROY", Command::kDestroy, 4},
    {"SHOWWINDOW", Command::kShowWindow, 4},
    {"DESTROYGRP", Command::kDestroyGroup, 4},
    {"HELLO", Command::kHello, 3},
    {"SETICON", Command::kSetIcon, 8},
    {"SYNCBEGIN", Command::kSyncBegin, 1},
    {"SYNCEND", Command::kSyncEnd, 1},
    {"TITLE", Command::kTitle, 5},
    {"ZCHANGE", Command::kZChange, 5},
    {"SYSTRAY", Command::kSysTray, 8},
    {"UPDATERGN", Command::kUpdateRgn, 3},
    {"HEARTBEAT", Command::kHeartbeat, 1},
};

// Base-0 conversions exactly as the C runtime does them; the field is copied so that conversion
// stops at its end.
UINT32 Unsigned(std::string_view field) {
  std::string text(field);
  return static_cast<UINT32>(strtoul(text.c_str(), nullptr, 0));
}

INT32 Signed(std::string_view field) {
  std::string text(field);
  return static_cast<INT32>(strtol(text.c_str(), nullptr, 0));
}

// Drops what was collected of the current message and skips the rest of it as it arrives.
void SkipMessage(size_t have, UINT32 length, UINT32 totalLength) {
  std::string().swap(g_accumulator);
  const uint64_t seen = static_cast<uint64_t>(have) + length;
  g_skipping = seen < totalLength;
  g_skipped = g_skipping ? static_cast<UINT32>(seen) : 0;
}

void Dispatch(std::string &message, const FieldScan &scan) {
  LogDebug("%s", message.c_str());
  LogDebug("\n\n");
  DecodedMessage decoded = DecodeMessage(message, scan);
  RouteMessage(decoded);
}

}  // namespace

void FieldScan::Continue(std::string_view message) {
  while (commas < kMaxCommas && searched < message.size()) {
    const void *hit = memchr(message.data() + searched, ',', message.size() - searched);
    if (!hit) {
      searched = message.size();
      return;
    }
    const size_t at = static_cast<size_t>(static_cast<const char *>(hit) - message.data());
    comma[commas++] = at;
    searched = at + 1;
  }
}

std::string_view FieldScan::Field(std::string_view message, unsigned i) const {
  const size_t start = i == 0 ? 0 : comma[i - 1] + 1;
  const size_t end = i < commas ? comma[i] : message.size();
  return message.substr(start, end - start);
}

DecodedMessage DecodeMessage(std::string_view message, FieldScan scan) {
  DecodedMessage d;
  scan.Continue(message);  // whatever the collector has not searched yet
  const unsigned fieldCount = scan.FieldCount();
  const auto f = [&](unsigned i) { return scan.Field(message, i); };
  const std::string_view keyword = f(0);
  const CommandInfo *info = nullptr;
  for (const CommandInfo &c : kCommands) {
    if (keyword == c.keyword) {
      info = &c;
      break;
    }
  }
  if (!info) return d;
  if (fieldCount < info->minFields) {
    LogDebug("Message %s has %u fields, %u needed: dropped\n", info->keyword, fieldCount, info->minFields);
    return d;
  }
  d.command = info->command;
  switch (d.command) {
    case Command::kAck:
      d.u[0] = Unsigned(f(1));
      d.s = Signed(f(2));
      break;
    case Command::kCreate:
      for (int i = 0; i < 5; ++i) d.u[i] = Unsigned(f(1 + i));
      break;
    case Command::kDestroy:
    case Command::kShowWindow:
    case Command::kDestroyGroup:
      for (int i = 0; i < 3; ++i) d.u[i] = Unsigned(f(1 + i));
      break;
    case Command::kHello:
      d.u[0] = Unsigned(f(2));
      break;
    case Command::kSetIcon:
    case Command::kSysTray:
      d.u[0] = Unsigned(f(1));
      d.u[1] = Unsigned(f(2));
      d.s = Signed(f(3));
      d.large = Signed(f(6)) == 32;
      d.text = f(7);
      break;
    case Command::kTitle:
      d.u[0] = Unsigned(f(1));
      d.u[1] = Unsigned(f(2));
      d.text = f(3);
      d.s = Signed(f(4));
      break;
    case Command::kUpdateRgn:
      d.u[0] = Unsigned(f(1));
      d.text = f(2);
      break;
    default:
      break;
  }
  return d;
}

void RouteMessage(const DecodedMessage &d) {
  switch (d.command) {
    case Command::kAck:
      LogDebug("client_do_ack:%0x,%0x\n", static_cast<unsigned>(d.u[0]), static_cast<unsigned>(d.s));
      break;
    case Command::kCreate:
      OnCreate(d.u[0], d.u[1], d.u[2], d.u[3], d.u[4]);
      break;
    case Command::kDestroy:
      OnDestroy(d.u[0], d.u[1], d.u[2]);
      break;
    case Command::kShowWindow:
      OnShowWindow(d.u[0], d.u[1], d.u[2]);
      break;
    case Command::kDestroyGroup:
      OnDestroyGroup(d.u[0], d.u[1], d.u[2]);
      break;
    case Command::kHello:
      if (d.u[0] == 3) SetDisplayMode(1);
      OnHello();
      break;
    case Command::kSetIcon:
      OnSetIcon(d.u[0], d.u[1], d.s, d.large, d.text);
      break;
    case Command::kTitle:
      OnTitle(d.u[0], d.u[1], std::string(d.text).c_str(), d.s);
      break;
    case Command::kSysTray:
      OnSysTray(d.u[0], d.u[1], d.s, d.large, d.text);
      break;
    case Command::kUpdateRgn:
      OnUpdateRgn(d.text);
      break;
    default:  // unknown, SYNCBEGIN, SYNCEND, ZCHANGE, HEARTBEAT: nothing to do
      break;
  }
}

void OnChannelData(const void *data, UINT32 length, UINT32 totalLength) {
  if (g_skipping) {
    g_skipped = length > UINT32_MAX - g_skipped ? UINT32_MAX : g_skipped + length;
    if (g_skipped >= totalLength) {
      g_skipping = false;
      g_skipped = 0;
    }
    return;
  }
  const size_t have = g_accumulator.size();
  if (totalLength > kMaxMessageSize || have + length > kMaxMessageSize) {
    LogDebug("Message of %u bytes is too long: skipped\n", static_cast<unsigned>(totalLength));
    SkipMessage(have, length, totalLength);
    return;
  }
  try {
    // The first chunk announces the total: take it at once, so a large message is copied once.
    // A buffer kept from the last message is used again when the new one needs at least half of
    // it (fresh pages cost more than the copy itself); otherwise it is given back first.
    if (have == 0 && (totalLength > g_accumulator.capacity() ||
                      (g_accumulator.capacity() > kKeptBufferSize && totalLength < g_accumulator.capacity() / 2))) {
      std::string().swap(g_accumulator);
      g_accumulator.reserve(totalLength);
    }
    if (have == 0) g_scan = FieldScan();
    if (length) g_accumulator.append(static_cast<const char *>(data), length);
  } catch (const std::bad_alloc &) {
    LogDebug("Memory cannot be obtained for a message of %u bytes: skipped\n", static_cast<unsigned>(totalLength));
    SkipMessage(have, length, totalLength);
    return;
  }
  g_scan.Continue(g_accumulator);
  if (g_accumulator.size() < totalLength) return;
  std::string message;
  message.swap(g_accumulator);
  Dispatch(message, g_scan);  // decoding takes its own copy; the next message starts anew
  // Keep the buffer for the next message, which gives a large one back unless it is as large.
  if (g_accumulator.empty()) {
    message.clear();
    g_accumulator.swap(message);
  }
}

void ResetMessageAssembly() {
  std::string().swap(g_accumulator);
  g_scan = FieldScan();
  g_skipping = false;
  g_skipped = 0;
}
