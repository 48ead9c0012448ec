// Incoming messages: chunks reassembled into whole messages, split into fields, and acted on by
// the row of the command table that the keyword names (dispatch.cpp).
#pragma once

#include <windows.h>

#include <string_view>

// The channel's data handler: one call per received chunk.
void OnChannelData(const void *data, UINT32 length, UINT32 totalLength);

// The channel (re)connected or terminated, or the library is unloaded: drops a message still
// being collected, so the next chunk starts a new one.
void ResetMessageAssembly();

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

// The fields of one whole message, converted as the command table asks: numbers with strtoul
// (U) or strtol (S) in base 0, exactly as the C runtime converts them; text as it stands.
class MessageFields {
 public:
  MessageFields(std::string_view message, const FieldScan &scan) : m_message(message), m_scan(scan) {
    m_scan.Continue(message);  // whatever the collector has not searched yet
  }
  explicit MessageFields(std::string_view message) : MessageFields(message, FieldScan()) {}

  unsigned Count() const { return m_scan.FieldCount(); }
  std::string_view Text(unsigned i) const { return m_scan.Field(m_message, i); }
  UINT32 U(unsigned i) const;
  INT32 S(unsigned i) const;

 private:
  std::string_view m_message;
  FieldScan m_scan;
};

// One row of the command table: the keyword, the fields the command needs (keyword included), and
// what it does with them (null: nothing).
struct CommandRow {
  const char *keyword;
  unsigned fieldsNeeded;
  void (*act)(const MessageFields &fields);
};

// The row whose keyword is exactly field 0 (same length, same bytes), or null.
const CommandRow *FindCommand(std::string_view keyword);
