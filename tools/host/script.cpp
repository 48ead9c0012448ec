#include "script.h"

#include "encode.h"
#include "expand.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace host {

namespace {

struct Context {
  int line;
  const std::string &baseDir;
  uint32_t *agentNumber;
  ScriptError *error;

  bool Fail(const std::string &reason) {
    error->line = line;
    error->reason = reason;
    return false;
  }
};

bool ParseWindow(const std::string &text, uint32_t *id) {
  if (text == "placeholder") return *id = 0, true;
  long v = 0;
  if (!ParseNumber(text, &v)) return false;
  *id = static_cast<uint32_t>(v);
  return true;
}

bool ParsePoint(const std::string &text, long *x, long *y) {
  size_t comma = text.find(',');
  return comma != std::string::npos && ParseNumber(text.substr(0, comma), x) && ParseNumber(text.substr(comma + 1), y);
}

// An agent message line: {directives} expanded, "#" in field 1 replaced by the running number.
bool ParseMessage(Context &ctx, const std::string &line, std::string *message) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '}') return ctx.Fail("'}' without '{'");
    if (line[i] != '{') {
      out.push_back(line[i]);
      continue;
    }
    const size_t close = line.find('}', i);
    if (close == std::string::npos) return ctx.Fail("'{' without '}'");
    std::string expanded, problem;
    if (!ExpandDirective(line.substr(i + 1, close - i - 1), &expanded, &problem)) return ctx.Fail(problem);
    out += expanded;
    i = close;
  }
  const size_t first = out.find(',');
  if (first != std::string::npos) {
    const size_t second = out.find(',', first + 1);
    const size_t end = second == std::string::npos ? out.size() : second;
    if (out.compare(first + 1, end - first - 1, "#") == 0)
      out.replace(first + 1, 1, std::to_string((*ctx.agentNumber)++));
  }
  *message = out;
  return true;
}

// icon KEYWORD WINDOW SIZE FILE [pieces N]
bool ParseIcon(Context &ctx, const std::vector<std::string> &w, std::vector<Step> *steps) {
  uint32_t window = 0;
  long size = 0, pieces = 512;
  if (w.size() != 5 && !(w.size() == 7 && w[5] == "pieces"))
    return ctx.Fail("usage: icon SETICON|SYSTRAY WINDOW SIZE FILE [pieces BYTES]");
  if (w[1] != "SETICON" && w[1] != "SYSTRAY") return ctx.Fail("icon messages are SETICON or SYSTRAY");
  if (!ParseWindow(w[2], &window)) return ctx.Fail("'" + w[2] + "' is not a window id");
  if (!ParseNumber(w[3], &size) || size <= 0 || size > 256) return ctx.Fail("icon size must be 1 to 256");
  if (w.size() == 7 && (!ParseNumber(w[6], &pieces) || pieces <= 0 || pieces > 65536))
    return ctx.Fail("pieces must be 1 to 65536 bytes");
  std::string path = w[4];
  if (!(path.size() > 1 && (path[0] == '/' || path[0] == '\\' || path[1] == ':')) && !ctx.baseDir.empty())
    path = ctx.baseDir + "\\" + path;
  testkit::Image image;
  std::string problem;
  if (!testkit::LoadImageFile(path, static_cast<int>(size), &image, &problem))
    return ctx.Fail("icon " + w[4] + ": " + problem);
  Step step;
  step.kind = StepKind::kDeliver;
  step.line = ctx.line;
  step.messages = testkit::IconMessages(w[1].c_str(), (*ctx.agentNumber)++, window, static_cast<int>(size),
                                        testkit::IconPartsFromImage(image), static_cast<size_t>(pieces));
  steps->push_back(step);
  return true;
}

bool ParseExpect(Context &ctx, const std::string &rest, const std::vector<std::string> &w, Step *step) {
  if (w.size() < 2) return ctx.Fail("expect what? (sent, nothing-sent, host, window, frame, windows)");
  const std::string &what = w[1];
  if (what == "sent") {
    // The pattern is the rest of the line as written, blanks inside included.
    const size_t at = rest.find_first_not_of(" \t", rest.find("sent") + 4);
    step->kind = StepKind::kExpectSent;
    step->text = at == std::string::npos ? std::string() : rest.substr(at);
    if (step->text.empty()) return ctx.Fail("expect sent needs a pattern");
    return true;
  }
  if (what == "nothing-sent") {
    if (w.size() != 2) return ctx.Fail("expect nothing-sent takes nothing more");
    step->kind = StepKind::kExpectNothingSent;
    return true;
  }
  if (what == "host") {
    static const char *const kNames[] = {"WM_USER_ACTIVE_WINDOW", "WM_USER_START_PROG_ACK", "WM_USER_WINDOWS_CHANGED",
                                         "WM_USER_PLACEHOLDER_WINDOW"};
    if (w.size() < 3 || w.size() > 4) return ctx.Fail("usage: expect host MESSAGE [WINDOW]");
    bool known = false;
    for (const char *name : kNames) known |= w[2] == name;
    if (!known) return ctx.Fail("unknown host message '" + w[2] + "'");
    step->kind = StepKind::kExpectHost;
    step->word = w[2];
    if (w.size() == 4) {
      uint32_t id = 0;
      if (!ParseWindow(w[3], &id)) return ctx.Fail("'" + w[3] + "' is not a window id");
      step->text = w[3] == "placeholder" ? "placeholder" : "x";
      step->window = id;
    }
    return true;
  }
  if (what == "windows") {
    if (w.size() != 3 || !ParseNumber(w[2], &step->number)) return ctx.Fail("usage: expect windows COUNT");
    step->kind = StepKind::kExpectWindows;
    return true;
  }
  const bool window = what == "window";
  if (!window && what != "frame") return ctx.Fail("unknown expectation '" + what + "'");
  size_t i = 2;
  if (window) {
    if (w.size() < 4 || !ParseWindow(w[2], &step->window)) return ctx.Fail("usage: expect window WINDOW STATE...");
    i = 3;
  } else if (w.size() < 3) {
    return ctx.Fail("usage: expect frame STATE...");
  }
  step->kind = window ? StepKind::kExpectWindow : StepKind::kExpectFrame;
  static const char *const kWindowStates[] = {"exists", "gone",   "visible",  "hidden",
                                              "tool",   "notool", "icon-big", "icon-small"};
  static const char *const kFrameStates[] = {"visible", "hidden", "caption", "nocaption", "tool", "notool", "empty"};
  for (; i < w.size(); ++i) {
    const std::string &s = w[i];
    if (window && s == "title") {
      if (i + 1 >= w.size()) return ctx.Fail("title needs the expected text");
      step->words.push_back(s);
      step->text = w[++i];
      continue;
    }
    if (!window && (s == "inside" || s == "outside")) {
      long x, y;
      if (i + 1 >= w.size() || !ParsePoint(w[i + 1], &x, &y)) return ctx.Fail(s + " needs a point X,Y");
      step->words.push_back(s + " " + w[++i]);
      continue;
    }
    bool known = false;
    if (window) {
      for (const char *name : kWindowStates) known |= s == name;
    } else {
      for (const char *name : kFrameStates) known |= s == name;
    }
    if (!known) return ctx.Fail("unknown " + what + " state '" + s + "'");
    step->words.push_back(s);
  }
  return true;
}

bool ParseDirective(Context &ctx, const std::string &line, std::vector<Step> *steps) {
  std::vector<std::string> w;
  std::string problem;
  if (!Tokenize(line, &w, &problem)) return ctx.Fail(problem);
  const std::string &d = w[0];
  Step step;
  step.line = ctx.line;
  auto simple = [&](StepKind kind) {
    if (w.size() != 1) return ctx.Fail(d + " takes nothing more");
    step.kind = kind;
    steps->push_back(step);
    return true;
  };
  if (d == "icon") return ParseIcon(ctx, w, steps);
  if (d == "connect") return simple(StepKind::kConnect);
  if (d == "disconnect") return simple(StepKind::kDisconnect);
  if (d == "terminate") return simple(StepKind::kTerminate);
  if (d == "pause" || d == "chunks") {
    const bool pause = d == "pause";
    if (w.size() != 2 || !ParseNumber(w[1], &step.number) || step.number < (pause ? 0 : 1) ||
        step.number > (pause ? 600000 : 1600))
      return ctx.Fail(pause ? "usage: pause MILLISECONDS (0 to 600000)" : "usage: chunks BYTES (1 to 1600)");
    step.kind = pause ? StepKind::kPause : StepKind::kChunks;
  } else if (d == "focus") {
    if (w.size() < 2 || w.size() > 3 || !ParseWindow(w[1], &step.window))
      return ctx.Fail("usage: focus WINDOW [activate|setfocus|foreground]");
    step.word = w.size() == 3 ? w[2] : "activate";
    if (step.word != "activate" && step.word != "setfocus" && step.word != "foreground")
      return ctx.Fail("focus is given by activate, setfocus or foreground");
    step.kind = StepKind::kFocus;
  } else if (d == "sysmenu") {
    if ((w.size() != 2 && w.size() != 3) || !ParseWindow(w[1], &step.window) ||
        (w.size() == 3 && !ParsePoint(w[2], &step.x, &step.y)))
      return ctx.Fail("usage: sysmenu WINDOW [X,Y]");
    step.kind = StepKind::kSysMenu;
  } else if (d == "click-tray") {
    // click-tray OWNER UID [MESSAGE] [at X,Y]
    step.word = "lbuttonup";
    step.x = 1200, step.y = 1000;
    size_t i = 3;
    if (w.size() < 3 || !ParseWindow(w[1], &step.window) || !ParseNumber(w[2], &step.number))
      return ctx.Fail("usage: click-tray OWNER UID [MESSAGE] [at X,Y]");
    if (i < w.size() && w[i] != "at") step.word = w[i++];
    if (i < w.size() && (w[i] != "at" || i + 2 != w.size() || !ParsePoint(w[i + 1], &step.x, &step.y)))
      return ctx.Fail("usage: click-tray OWNER UID [MESSAGE] [at X,Y]");
    long message = 0;
    if (!Lookup(kMouseMessages, kMouseMessageCount, step.word, &message))
      return ctx.Fail("unknown mouse message '" + step.word + "'");
    step.rect.left = message;
    step.kind = StepKind::kTrayClick;
  } else if (d == "start-program") {
    if (w.size() != 3 || !ParseWindow(w[1], &step.window)) return ctx.Fail("usage: start-program WINDOW \"TEXT\"");
    if (w[2].size() > 1023) return ctx.Fail("program text longer than 1023 bytes");
    step.text = w[2];
    step.kind = StepKind::kStartProgram;
  } else if (d == "desktop") {
    if (w.size() >= 2 && !ParseWindow(w[1], &step.window)) return ctx.Fail("'" + w[1] + "' is not a window id");
    step.kind = StepKind::kDesktop;
    if (w.size() == 3 && w[2] == "remove") {
      step.word = "remove";
    } else {
      if (w.size() < 4 || w.size() > 5 || !ParseRect(w[2], &step.rect))
        return ctx.Fail("usage: desktop WINDOW LEFT,TOP,RIGHT,BOTTOM \"TITLE\" [#RRGGBB] | desktop WINDOW remove");
      step.text = w[3];
      step.number = 0xC0C0C0;
      if (w.size() == 5) {
        if (w[4].size() != 7 || w[4][0] != '#' || !ParseNumber("0x" + w[4].substr(1), &step.number))
          return ctx.Fail("colour must be #RRGGBB");
      }
    }
  } else if (d == "shot") {
    if (w.size() < 2 || w.size() > 3 ||
        w[1].find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_") != std::string::npos ||
        (w.size() == 3 && w[2].find_first_of("\r\n") != std::string::npos))
      return ctx.Fail("usage: shot NAME [\"CAPTION\"] (NAME: lower-case letters, digits, - and _)");
    step.kind = StepKind::kShot;
    step.text = w[1];
    if (w.size() == 3) step.caption = w[2];
  } else if (d == "expect") {
    if (!ParseExpect(ctx, line, w, &step)) return false;
  } else {
    return ctx.Fail("unknown directive '" + d + "'");
  }
  steps->push_back(step);
  return true;
}

}  // namespace

bool ParseScriptLine(const std::string &rawLine, int lineNumber, const std::string &baseDir, uint32_t *agentNumber,
                     std::vector<Step> *steps, ScriptError *error) {
  Context ctx{lineNumber, baseDir, agentNumber, error};
  std::string line = rawLine;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] == '#') return true;
  if (start == 0 && line[0] >= 'A' && line[0] <= 'Z') {
    Step step;
    step.kind = StepKind::kDeliver;
    step.line = lineNumber;
    std::string message;
    if (!ParseMessage(ctx, line, &message)) return false;
    step.messages.push_back(message);
    steps->push_back(step);
    return true;
  }
  if (line.compare(start, 4, "raw ") == 0) {
    Step step;
    step.kind = StepKind::kDeliver;
    step.line = lineNumber;
    step.messages.push_back(line.substr(start + 4));
    steps->push_back(step);
    return true;
  }
  return ParseDirective(ctx, line.substr(start), steps);
}

bool ParseScript(const std::string &text, const std::string &baseDir, std::vector<Step> *steps, ScriptError *error) {
  std::stringstream lines(text);
  std::string line;
  uint32_t agentNumber = 1;
  for (int number = 1; std::getline(lines, line); ++number)
    if (!ParseScriptLine(line, number, baseDir, &agentNumber, steps, error)) return false;
  return true;
}

bool ReadFile(const std::string &path, std::string *content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace host
