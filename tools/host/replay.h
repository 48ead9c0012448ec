// Reading the add-in's diagnostic log back: every message the add-in received is logged verbatim
// as one record followed by a record "\n\n"; replaying them reproduces the session at a desk.
#pragma once

#include <string>
#include <vector>

#include "script.h"

namespace host {

struct ReplayPlan {
  std::vector<Step> steps;       // one delivery per received message, line = the log's line
  std::vector<std::string> cut;  // messages that were cut in the log and are not replayed
  int sessions = 0;              // library loads ("ATTACH!!!") found in the log
};

// allSessions false: only what follows the last library load.
ReplayPlan ParseLog(const std::string &log, bool allSessions);

}  // namespace host
