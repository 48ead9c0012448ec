// The server's log: events go to standard error and the log file, the channel's lines to the file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace rdpserver {

bool OpenLog(const std::string &file, std::string *error);
void CloseLog();
// One event, printf style; a line feed is added.
void LogEvent(const char *format, ...) __attribute__((format(printf, 1, 2)));
// One channel line: `direction` is "agent>" (to the add-in) or "addin>" (to the agent).
void LogLine(const char *direction, std::string_view line);

}  // namespace rdpserver
