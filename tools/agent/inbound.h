// What the add-in sends the agent: lines of text, each "KEYWORD,COUNTER,PAYLOAD". The bytes come
// from the client machine and are untrusted: lines are bounded, every field is checked, and a
// line that is not exactly one of the known forms is refused with a reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace agent {

// Cuts a byte stream into lines at line feeds (a carriage return before one is dropped). A line
// longer than maxLine is dropped whole, and counted; memory never exceeds maxLine plus the lines
// of one call.
class LineSplitter {
 public:
  explicit LineSplitter(size_t maxLine) : maxLine_(maxLine) {}
  // Appends bytes; complete lines go to *lines.
  void Add(std::string_view bytes, std::vector<std::string> *lines);
  // Lines dropped for their length since the last call.
  size_t TakeDropped();

 private:
  size_t maxLine_;
  std::string pending_;
  bool skipping_ = false;
  size_t dropped_ = 0;
};

enum class CommandKind {
  kFocus,          // FOCUS,n,window
  kWindowMessage,  // WNDMSG,n,window,message,wParam,lParam
  kCursor,         // SETCURSORPOS,n,window,x,y
  kStartProgram,   // StartProg,n,text
  kIme,            // IME,n,0x00000000,character
  kUnknown,        // a keyword the agent does not know
  kMalformed,      // a known keyword with fields that do not fit
};

struct Command {
  CommandKind kind = CommandKind::kMalformed;
  std::string keyword;  // as received, for the log (printable, bounded)
  uint32_t window = 0;
  uint32_t message = 0;
  uint32_t wParam = 0;
  uint32_t lParam = 0;
  int32_t x = 0, y = 0;    // screen coordinates: the add-in prints them as unsigned 32-bit values
  uint32_t character = 0;  // IME
  std::string text;        // StartProg: the program text, bytes as sent (the client's ANSI code page)
  std::string problem;     // kMalformed: why
};

Command ParseCommand(std::string_view line);

// A number as the add-in writes them: "0x" and hex digits, or decimal digits, at most 32 bits; no
// sign, blank or anything after the digits.
bool ParseU32(std::string_view text, uint32_t *value);

// Text from the wire made safe for a log line: printable ASCII kept, other bytes as \xNN, cut to
// maxLength characters with "..." after.
std::string Printable(std::string_view text, size_t maxLength = 120);

}  // namespace agent
