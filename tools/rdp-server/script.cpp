#include "script.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace rdpserver {

bool ReadScript(const std::string &file, std::vector<ScriptStep> *steps, std::string *error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return *error = "cannot read the script " + file, false;
  std::string line;
  unsigned number = 0;
  unsigned cutAt = 0;  // the line of a "#!cut" still waiting for its agent line
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = file + ":" + std::to_string(number) + ": ";
    if (line.rfind("#!", 0) == 0) {
      const std::string directive = line.substr(2);
      if (cutAt) return *error = where + "'#!cut' must be followed by an agent line, not a directive", false;
      if (directive == "cut") {
        cutAt = number;
        continue;
      }
      if (directive.rfind("wait ", 0) != 0)
        return *error = where + "unknown directive '" + directive + "' (only '#!wait MS' and '#!cut')", false;
      const std::string ms = directive.substr(5);
      char *end = nullptr;
      errno = 0;
      const unsigned long v = std::strtoul(ms.c_str(), &end, 10);
      if (ms.empty() || ms[0] < '0' || ms[0] > '9' || *end || errno || v > 600000)
        return *error = where + "'#!wait " + ms + "': milliseconds from 0 to 600000 expected", false;
      steps->push_back(ScriptStep{"", static_cast<unsigned>(v)});
    } else if (line.empty() || line[0] == '#') {
      continue;
    } else {
      steps->push_back(ScriptStep{line, 0, cutAt != 0});
      cutAt = 0;
    }
  }
  if (in.bad()) return *error = "cannot read the script " + file, false;
  if (cutAt)
    return *error = file + ":" + std::to_string(cutAt) + ": '#!cut' must be followed by an agent line", false;
  return true;
}

}  // namespace rdpserver
