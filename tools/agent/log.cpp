#include "log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace agent {

namespace {
std::mutex g_lock;
FILE *g_file = nullptr;
}  // namespace

bool OpenLog(const std::string &path) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (path.empty()) return true;
  FILE *f = std::fopen(path.c_str(), "a");
  if (!f) return false;
  if (g_file) std::fclose(g_file);
  g_file = f;
  return true;
}

void Log(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::lock_guard<std::mutex> guard(g_lock);
  FILE *out = g_file ? g_file : stderr;
  std::fprintf(out, "%02u:%02u:%02u.%03u %s\n", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
  std::fflush(out);
}

void InputLogLimit::Flush() {
  if (suppressed_)
    Log("(%llu more lines about the channel's input were not logged)", static_cast<unsigned long long>(suppressed_));
  suppressed_ = 0;
}

bool InputLogLimit::Allow(uint64_t nowMs) {
  if (!started_ || nowMs - periodStart_ >= periodMs_) {
    Flush();
    started_ = true;
    periodStart_ = nowMs;
    used_ = 0;
    suppressed_ = 0;
  }
  if (used_ < burst_) {
    ++used_;
    return true;
  }
  ++suppressed_;
  return false;
}

}  // namespace agent
