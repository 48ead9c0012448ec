#include "protocol/dispatch.h"

#include "appearance/icon.h"
#include "appearance/shape.h"
#include "appearance/tray.h"
#include "common/debug_log.h"
#include "common/settings.h"
#include "mirror/create.h"
#include "mirror/destroy.h"
#include "mirror/show_window.h"
#include "mirror/title.h"
#include "mirror/window_data.h"
#include "session/hello.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

// The command table, in the order keywords are compared. Each row reads its fields by number and
// calls the command's handler; results of the handlers are not used.
constexpr unsigned kIconSize32 = 32;  // field 6 of SETICON and SYSTRAY: 32 is the large icon

const CommandRow kCommands[] = {
    {"ACK", 3,
     [](const MessageFields &f) {
       LogDebug("client_do_ack:%0x,%0x\n", static_cast<unsigned>(f.U(1)), static_cast<unsigned>(f.S(2)));
     }},
    {"CREATE", 6,
     [](const MessageFields &f) {
       // The host frame was raised over the new window: its shape is applied again (unless the
       // CREATE was dropped whole).
       if (OnCreate(f.U(1), f.U(2), f.U(3), f.U(4), f.U(5))) ReapplyShape();
     }},
    {"DESTROY", 4, [](const MessageFields &f) { OnDestroy(f.U(1), f.U(2), f.U(3)); }},
    {"SHOWWINDOW", 4, [](const MessageFields &f) { OnShowWindow(f.U(1), f.U(2), f.U(3)); }},
    {"DESTROYGRP", 4, [](const MessageFields &f) { OnDestroyGroup(f.U(1), f.U(2), f.U(3)); }},
    {"HELLO", 3,
     [](const MessageFields &f) {
       // Version 3 agents want the host frame whole, without caption, whatever the setting says.
       if (f.U(2) == 3) SetDisplayMode(DisplayMode::kNoCaption);
       OnHello();
     }},
    {"SETICON", 8, [](const MessageFields &f) { OnSetIcon(f.U(1), f.U(2), f.S(3), f.S(6) == kIconSize32, f.Text(7)); }},
    {"SYNCBEGIN", 1, nullptr},
    {"SYNCEND", 1, nullptr},
    {"TITLE", 5, [](const MessageFields &f) { OnTitle(f.U(1), f.U(2), f.Text(3), f.S(4)); }},
    {"ZCHANGE", 5, nullptr},  // the z-order is the remote session's own: nothing to do
    {"SYSTRAY", 8, [](const MessageFields &f) { OnSysTray(f.U(1), f.U(2), f.S(3), f.S(6) == kIconSize32, f.Text(7)); }},
    {"UPDATERGN", 3, [](const MessageFields &f) { OnUpdateRgn(f.Text(2)); }},
    {"HEARTBEAT", 1, nullptr},
};

// Largest message collected: the largest legitimate message is an incompressible 4 MiB payload in
// base64 (about 5.6 MiB) with its fields. A longer one is skipped whole.
constexpr UINT32 kMaxMessageSize = 8u * 1024 * 1024;

// A buffer up to this size is always kept for the next message.
constexpr size_t kKeptBufferSize = 64 * 1024;

std::string g_accumulator;
// The field search of the message being collected, made as each chunk arrives.
FieldScan g_scan;
// Bytes of an oversized message still to skip, counted against the total the client announced.
UINT32 g_skipped = 0;
bool g_skipping = false;

// Drops what was collected of the current message and skips the rest of it as it arrives.
void SkipMessage(size_t have, UINT32 length, UINT32 totalLength) {
  std::string().swap(g_accumulator);
  const uint64_t seen = static_cast<uint64_t>(have) + length;
  g_skipping = seen < totalLength;
  g_skipped = g_skipping ? static_cast<UINT32>(seen) : 0;
}

// Acts on one whole message. A handler that cannot obtain memory throws std::bad_alloc: the rest
// of that command is dropped here, with one log line, as everywhere in the add-in.
void Dispatch(std::string_view message, const FieldScan &scan) {
  LogDebug("%.*s", static_cast<int>(message.size()), message.data());
  LogDebug("\n\n");
  const MessageFields fields(message, scan);
  const CommandRow *row = FindCommand(fields.Text(0));
  if (!row) return;
  if (fields.Count() < row->fieldsNeeded) {
    LogDebug("Message %s has %u fields, %u needed: dropped\n", row->keyword, fields.Count(), row->fieldsNeeded);
    return;
  }
  if (!row->act) return;
  try {
    ForgetDestroyedLocalWindows();  // windows others destroyed since the last message
    row->act(fields);
  } catch (const std::bad_alloc &) {
    LogDebug("Memory cannot be obtained for %s: the rest of it is dropped\n", row->keyword);
  }
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

// The field is copied so that conversion stops at its end.
UINT32 MessageFields::U(unsigned i) const {
  const std::string text(Text(i));
  return static_cast<UINT32>(strtoul(text.c_str(), nullptr, 0));
}

INT32 MessageFields::S(unsigned i) const {
  const std::string text(Text(i));
  return static_cast<INT32>(strtol(text.c_str(), nullptr, 0));
}

const CommandRow *FindCommand(std::string_view keyword) {
  for (const CommandRow &row : kCommands)
    if (keyword == row.keyword) return &row;
  return nullptr;
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
  Dispatch(message, g_scan);  // the next message starts anew in g_accumulator
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
