#include "inbound.h"

#include <cstdio>

namespace agent {

void LineSplitter::Add(std::string_view bytes, std::vector<std::string> *lines) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!skipping_) {
      if (pending_.size() + piece.size() > maxLine_ + 1) {  // + 1: room for a carriage return
        skipping_ = true;
        pending_.clear();
        pending_.shrink_to_fit();
      } else {
        pending_.append(piece);
      }
    }
    if (end == std::string_view::npos) return;
    if (skipping_) {
      ++dropped_;
      skipping_ = false;
    } else {
      if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
      if (pending_.size() <= maxLine_)
        lines->push_back(pending_);
      else
        ++dropped_;
      pending_.clear();
    }
    bytes.remove_prefix(end + 1);
  }
}

size_t LineSplitter::TakeDropped() {
  const size_t n = dropped_;
  dropped_ = 0;
  return n;
}

bool ParseU32(std::string_view text, uint32_t *value) {
  uint64_t v = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    for (char c : text) {
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return false;
      v = v * 16 + static_cast<uint64_t>(digit);
      if (v > 0xFFFFFFFFu) return false;
    }
  } else {
    if (text.empty()) return false;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<uint64_t>(c - '0');
      if (v > 0xFFFFFFFFu) return false;
    }
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

std::string Printable(std::string_view text, size_t maxLength) {
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= maxLength) {
      out += "...";
      break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

namespace {

std::vector<std::string_view> Split(std::string_view text) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t comma = text.find(',');
    fields.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) return fields;
    text.remove_prefix(comma + 1);
  }
}

// Reads the payload's fields as numbers: exactly as many as there are targets.
bool Numbers(std::string_view payload, std::initializer_list<uint32_t *> targets, std::string *problem) {
  const std::vector<std::string_view> fields = Split(payload);
  if (fields.size() != targets.size()) {
    *problem = std::to_string(targets.size()) + " fields expected after the counter, " + std::to_string(fields.size()) +
               " found";
    return false;
  }
  size_t i = 0;
  for (uint32_t *target : targets) {
    if (!ParseU32(fields[i], target)) {
      *problem = "field " + std::to_string(i + 2) + " '" + Printable(fields[i], 24) + "' is not a 32-bit number";
      return false;
    }
    ++i;
  }
  return true;
}

}  // namespace

Command ParseCommand(std::string_view line) {
  Command c;
  const size_t first = line.find(',');
  const std::string_view keyword = line.substr(0, first);
  c.keyword = Printable(keyword, 32);
  if (keyword == "FOCUS")
    c.kind = CommandKind::kFocus;
  else if (keyword == "WNDMSG")
    c.kind = CommandKind::kWindowMessage;
  else if (keyword == "SETCURSORPOS")
    c.kind = CommandKind::kCursor;
  else if (keyword == "StartProg")
    c.kind = CommandKind::kStartProgram;
  else if (keyword == "IME")
    c.kind = CommandKind::kIme;
  else {
    c.kind = CommandKind::kUnknown;
    return c;
  }
  auto malformed = [&c](std::string problem) {
    c.kind = CommandKind::kMalformed;
    c.problem = std::move(problem);
    return c;
  };
  if (first == std::string_view::npos) return malformed("no message counter");
  const std::string_view rest = line.substr(first + 1);
  const size_t second = rest.find(',');
  uint32_t counter = 0;
  if (!ParseU32(rest.substr(0, second), &counter)) return malformed("the message counter is not a number");
  if (second == std::string_view::npos) return malformed("no payload");
  const std::string_view payload = rest.substr(second + 1);

  std::string problem;
  uint32_t x = 0, y = 0;
  switch (c.kind) {
    case CommandKind::kFocus:
      if (!Numbers(payload, {&c.window}, &problem)) return malformed(problem);
      break;
    case CommandKind::kWindowMessage:
      if (!Numbers(payload, {&c.window, &c.message, &c.wParam, &c.lParam}, &problem)) return malformed(problem);
      break;
    case CommandKind::kCursor:
      if (!Numbers(payload, {&c.window, &x, &y}, &problem)) return malformed(problem);
      c.x = static_cast<int32_t>(x);
      c.y = static_cast<int32_t>(y);
      break;
    case CommandKind::kIme:
      if (!Numbers(payload, {&c.window, &c.character}, &problem)) return malformed(problem);
      break;
    case CommandKind::kStartProgram:
      // The program text is the rest of the line, commas included.
      if (payload.empty()) return malformed("no program text");
      c.text = std::string(payload);
      break;
    default:
      break;
  }
  return c;
}

}  // namespace agent
