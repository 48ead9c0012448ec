// --script: a fixed list of agent lines played to the client in place of a live agent.
#pragma once

#include <string>
#include <vector>

namespace rdpserver {

struct ScriptStep {
  std::string line;     // an agent message, sent as it stands
  unsigned waitMs = 0;  // or, when line is empty, a pause
  bool cut = false;     // the connection is dropped while this line is on its way (#!cut)
};

// Reads FILE: every line is an agent message, except blank lines, lines starting with '#'
// (comments), "#!wait MS" and "#!cut", which marks the next agent line: the client gets only its
// first part before the connection is dropped. False with "FILE:LINE: what is wrong" in *error.
bool ReadScript(const std::string &file, std::vector<ScriptStep> *steps, std::string *error);

}  // namespace rdpserver
