#include "replay.h"

#include <cctype>

namespace host {

namespace {

// The length of a record prefix "HH:MM:SS ms: " at p (at least one digit of milliseconds, at
// most three), or 0.
size_t PrefixAt(const std::string &s, size_t p) {
  auto digit = [&](size_t i) { return i < s.size() && isdigit(static_cast<unsigned char>(s[i])); };
  if (!(digit(p) && digit(p + 1) && p + 2 < s.size() && s[p + 2] == ':' && digit(p + 3) && digit(p + 4) &&
        p + 5 < s.size() && s[p + 5] == ':' && digit(p + 6) && digit(p + 7) && p + 8 < s.size() && s[p + 8] == ' '))
    return 0;
  size_t i = p + 9, digits = 0;
  while (digit(i) && digits < 3) ++i, ++digits;
  if (digits == 0 || i + 1 >= s.size() || s[i] != ':' || s[i + 1] != ' ') return 0;
  return i + 2 - p;
}

int LineOf(const std::string &s, size_t position, size_t *cursor, int *line) {
  for (; *cursor < position && *cursor < s.size(); ++*cursor)
    if (s[*cursor] == '\n') ++*line;
  return *line;
}

// The add-in writes its log in text mode: on Windows every "\n" it logs is "\r\n" in the file.
// When every line end of the file is one, they are turned back.
std::string UndoTextMode(const std::string &file) {
  size_t lineEnds = 0, crlf = 0;
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] != '\n') continue;
    ++lineEnds;
    if (i > 0 && file[i - 1] == '\r') ++crlf;
  }
  if (lineEnds == 0 || crlf != lineEnds) return file;
  std::string out;
  out.reserve(file.size());
  for (size_t i = 0; i < file.size(); ++i)
    if (!(file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')) out.push_back(file[i]);
  return out;
}

}  // namespace

ReplayPlan ParseLog(const std::string &file, bool allSessions) {
  const std::string log = UndoTextMode(file);
  // The log's records start at line starts, except the record that ends a message: the message
  // text carries no line end of its own, so "HH:MM:SS ms: \n\n" follows it on the same line.
  constexpr size_t kLongestRecord = 1023;
  ReplayPlan plan;
  size_t lineCursor = 0;
  int line = 1;
  size_t lastStart = std::string::npos;  // the latest record that began at a line start
  size_t lastLength = 0;
  for (size_t p = 0; p < log.size(); ++p) {
    const bool lineStart = p == 0 || log[p - 1] == '\n';
    const size_t prefix = PrefixAt(log, p);
    if (!prefix) continue;
    const bool marker = log.compare(p + prefix, 2, "\n\n") == 0;
    if (marker && lastStart != std::string::npos && lastStart < p) {
      const std::string message = log.substr(lastStart + lastLength, p - lastStart - lastLength);
      const int at = LineOf(log, lastStart, &lineCursor, &line);
      if (message.size() >= kLongestRecord) {
        plan.cut.push_back("line " + std::to_string(at) + ": a message of " + std::to_string(message.size()) +
                           " characters or more was cut in the log (" + message.substr(0, 40) + "...)");
      } else {
        Step step;
        step.kind = StepKind::kDeliver;
        step.line = at;
        step.messages.push_back(message);
        plan.steps.push_back(step);
      }
      lastStart = std::string::npos;
      p += prefix + 1;
      continue;
    }
    if (lineStart) {
      lastStart = p;
      lastLength = prefix;
      if (log.compare(p + prefix, 10, "ATTACH!!!\n") == 0) {
        ++plan.sessions;
        if (!allSessions) {
          plan.steps.clear();
          plan.cut.clear();
        }
      }
    }
  }
  return plan;
}

}  // namespace host
