#include "common/debug_log.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

enum LogState { kUndecided, kOff, kOn };
// Decided once per process, at the first call: later changes to the marker file change nothing.
std::atomic<int> g_logState{kUndecided};

const char kMarkerFile[] = "C:\\QVX_EnableDebug";
const char kLogFile[] = "c:\\vozuda.log";

}  // namespace

void LogDebug(const char *format, ...) {
  int state = g_logState.load(std::memory_order_relaxed);
  if (state == kUndecided) {
    FILE *marker = fopen(kMarkerFile, "r");
    if (!marker) {
      g_logState.store(kOff, std::memory_order_relaxed);
      return;
    }
    fclose(marker);
    g_logState.store(kOn, std::memory_order_relaxed);
    state = kOn;
  }
  if (state != kOn) return;

  char line[1024];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0) return;
  if (length > static_cast<int>(sizeof line) - 1) length = sizeof line - 1;

  FILE *log = fopen(kLogFile, "a+");
  // A log that cannot be opened loses this record; the host keeps running and the next call
  // tries again.
  if (!log) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  fprintf(log, "%.2u:%.2u:%.2u %u: ", static_cast<unsigned>(now.wHour), static_cast<unsigned>(now.wMinute),
          static_cast<unsigned>(now.wSecond), static_cast<unsigned>(now.wMilliseconds));
  fwrite(line, 1, static_cast<size_t>(length), log);
  fflush(log);
  fclose(log);
}
