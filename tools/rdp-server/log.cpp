#include "log.h"

#include <cstdarg>
#include <ctime>
#include <sys/time.h>

namespace rdpserver {

namespace {
FILE *g_file = nullptr;

std::string Stamp() {
  timeval now;
  gettimeofday(&now, nullptr);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(now.tv_usec / 1000));
  return text;
}
}  // namespace

bool OpenLog(const std::string &file, std::string *error) {
  if (file.empty()) return true;
  g_file = std::fopen(file.c_str(), "a");
  if (!g_file) return *error = "cannot write the log " + file, false;
  return true;
}

void CloseLog() {
  if (g_file) std::fclose(g_file);
  g_file = nullptr;
}

void LogEvent(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const std::string stamp = Stamp();
  std::fprintf(stderr, "quorv-rdp-server: %s%s\n", stamp.c_str(), text);
  if (g_file) {
    std::fprintf(g_file, "%s%s\n", stamp.c_str(), text);
    std::fflush(g_file);
  }
}

void LogLine(const char *direction, std::string_view line) {
  if (!g_file) return;
  const std::string stamp = Stamp();
  // Icon payloads make lines of many kilobytes: their beginning and size say enough.
  constexpr size_t kShown = 4096;
  if (line.size() <= kShown)
    std::fprintf(g_file, "%s%s %.*s\n", stamp.c_str(), direction, static_cast<int>(line.size()), line.data());
  else
    std::fprintf(g_file, "%s%s %.*s ... (%zu bytes)\n", stamp.c_str(), direction, static_cast<int>(kShown), line.data(),
                 line.size());
  std::fflush(g_file);
}

}  // namespace rdpserver
