// The agent's log: one line per event, "HH:MM:SS.mmm text", to standard error or a file. Safe to
// call from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace agent {

// Empty path: standard error. False when the file cannot be opened (the log stays on standard
// error).
bool OpenLog(const std::string &path);
void Log(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Lines about what arrived from the channel: a hostile peer must not be able to fill the disk. At
// most burst lines per period; the rest are counted, and the count is logged when lines are
// allowed again.
class InputLogLimit {
 public:
  InputLogLimit(unsigned burst, uint64_t periodMs) : burst_(burst), periodMs_(periodMs) {}
  // True when a line may be logged now (nowMs: a monotonic clock).
  bool Allow(uint64_t nowMs);
  // Logs the count of lines not logged, if any (when the agent stops).
  void Flush();

 private:
  unsigned burst_;
  uint64_t periodMs_;
  uint64_t periodStart_ = 0;
  unsigned used_ = 0;
  uint64_t suppressed_ = 0;
  bool started_ = false;
};

}  // namespace agent
