// Agent scripts: one agent message per line, with directives for what must be packed, pauses,
// simulated user actions on the local windows and expectations on what the add-in sends back.
// The format is described in docs/agent-scripts.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

enum class StepKind {
  kDeliver,  // messages: one or more agent messages (an icon is several)
  kPause,    // number: milliseconds
  kChunks,   // number: chunk size for the following deliveries
  kConnect,
  kDisconnect,
  kTerminate,
  kFocus,         // window, word: activate | setfocus | foreground
  kSysMenu,       // window, x, y
  kTrayClick,     // window (the icon's owner id), number: uID, word: mouse message, x, y
  kStartProgram,  // window, text
  kDesktop,       // window: remote id, rect, text: title, number: colour; word "remove"
  kShot,          // text: name
  kExpectSent,    // text: pattern
  kExpectNothingSent,
  kExpectHost,     // word: message name, text: wParam (a window name) or empty
  kExpectWindow,   // window, words: states ("visible", "title", ...), text: title for "title"
  kExpectFrame,    // words: states, x, y
  kExpectWindows,  // number
  // The expectations are the last kinds: IsExpectation relies on it.
};

inline bool IsExpectation(StepKind kind) { return kind >= StepKind::kExpectSent; }

struct Rect {
  long left = 0, top = 0, right = 0, bottom = 0;
};

struct Step {
  StepKind kind = StepKind::kPause;
  int line = 0;  // of the script, or of the log record being replayed
  std::vector<std::string> messages;
  uint32_t window = 0;
  long number = 0;
  long x = 0, y = 0;
  Rect rect;
  std::string word;
  std::string text;
  std::string caption;  // shot: what the picture shows
  std::vector<std::string> words;
};

struct ScriptError {
  int line = 0;
  std::string reason;
};

// Parses a whole script. baseDir is where icon files are looked up. Returns false at the first
// malformed line with its number and the reason.
bool ParseScript(const std::string &text, const std::string &baseDir, std::vector<Step> *steps, ScriptError *error);

// Parses one line (listen mode's "#!" lines). agentNumber is the running message number that "#"
// in field 1 stands for.
bool ParseScriptLine(const std::string &line, int lineNumber, const std::string &baseDir, uint32_t *agentNumber,
                     std::vector<Step> *steps, ScriptError *error);

// Reads a whole file; false if it cannot be read.
bool ReadFile(const std::string &path, std::string *content);

}  // namespace host
