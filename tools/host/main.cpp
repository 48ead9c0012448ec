// quorv-host: a stand-in host application for the add-in. It owns the host frame window, loads
// quorv.dll as the Remote Desktop client does, and plays the agent: from a script, from a
// diagnostic log, or from an agent connected over TCP on this machine.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "client.h"
#include "desktop.h"
#include "listen.h"
#include "replay.h"
#include "runner.h"
#include "script.h"
#include "transcript.h"
#include "ui.h"

namespace {

using namespace host;

const char kUsage[] =
    "usage: quorv-host [options] SCRIPT.agent\n"
    "       quorv-host [options] --replay LOGFILE\n"
    "       quorv-host [options] --listen PORT\n"
    "options:\n"
    "  --transcript FILE  write the transcript there (default: standard output)\n"
    "  --echo             also print the transcript when it goes to a file\n"
    "  --addin FILE       the add-in to load (default: quorv.dll beside quorv-host.exe)\n"
    "  --shots DIR        where 'shot' directives ask for screenshots (see docs/agent-scripts.md)\n"
    "  --no-pace          do not start each delivery or action that may move the focus in a\n"
    "                     calendar second of its own (the add-in reports focus changes of a\n"
    "                     window at most once a second; pacing makes transcripts repeatable)\n"
    "  --hold MS          keep the windows up this long after the last step\n"
    "  --all-sessions     replay every session in the log, not just the last one\n"
    "  --once             listen: end when the first agent disconnects\n";

// The add-in's own default title of the host frame window: "tamberlyn" and three characters
// in code page 936.
const char kDefaultAppName[] = "tamberlyn\xBF\xCD\xBB\xA7\xB6\xCB";

struct Options {
  std::string script, replay, transcript, addin, shots;
  int listenPort = -1;
  bool echo = false, noPace = false, allSessions = false, once = false;
  DWORD holdMs = 0;
};

std::string DirectoryOf(const std::string &path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool ParseOptions(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string *out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string number;
    if (a == "--transcript") { if (!value(&o->transcript)) return false; }
    else if (a == "--addin") { if (!value(&o->addin)) return false; }
    else if (a == "--shots") { if (!value(&o->shots)) return false; }
    else if (a == "--replay") { if (!value(&o->replay)) return false; }
    else if (a == "--listen" || a == "--hold") {
      if (!value(&number)) return false;
      char *end = nullptr;
      long v = strtol(number.c_str(), &end, 10);
      if (*end || v < 0 || (a == "--listen" && v > 65535) || v > 3600000) return false;
      if (a == "--listen") o->listenPort = static_cast<int>(v);
      else o->holdMs = static_cast<DWORD>(v);
    }
    else if (a == "--echo") o->echo = true;
    else if (a == "--no-pace") o->noPace = true;
    else if (a == "--all-sessions") o->allSessions = true;
    else if (a == "--once") o->once = true;
    else if (!a.empty() && a[0] == '-') return false;
    else if (o->script.empty()) o->script = a;
    else return false;
  }
  const int modes = !o->script.empty() + !o->replay.empty() + (o->listenPort >= 0);
  return modes == 1;
}

struct Session {
  Options options;
  std::vector<Step> steps;
  ReplayPlan replay;
  Transcript transcript;
  int exitCode = 0;
};

void Report(Session &s, int code, const std::string &message) {
  fprintf(stderr, "quorv-host: %s\n", message.c_str());
  s.transcript.Line('#', message);
  if (s.exitCode == 0) s.exitCode = code;
}

// Runs the listening loop until the agent is gone (--once) or the user closes the frame.
void Listen(Session &s, Runner &runner, Listener &listener) {
  uint32_t agentNumber = 1;
  int lineNumber = 0;
  for (;;) {
    std::deque<std::string> lines;
    bool ended = false;
    listener.Take(&lines, 200, &ended);
    for (const std::string &line : lines) {
      ++lineNumber;
      std::vector<Step> steps;
      if (line.rfind("#!", 0) == 0) {
        ScriptError error;
        if (!ParseScriptLine(line.substr(2), lineNumber, ".", &agentNumber, &steps, &error)) {
          Report(s, 0, "agent line " + std::to_string(lineNumber) + ": " + error.reason);
          continue;
        }
      } else {
        Step step;
        step.kind = StepKind::kDeliver;
        step.line = lineNumber;
        step.messages.push_back(line);  // verbatim: the agent's own bytes
        steps.push_back(step);
      }
      for (const Step &step : steps)
        if (!runner.Run(step)) Report(s, 0, "agent line " + runner.failure());
    }
    if (ended || HostUi::Get().closedByUser()) return;
  }
}

void ClientThread(Session &s) {
  HostUi &ui = HostUi::Get();
  ChannelClient &client = ChannelClient::Get();
  // A live agent is never paced: its messages go on as they come.
  Runner runner(s.transcript, RunOptions{s.options.shots, !s.options.noPace && s.options.listenPort < 0});
  Listener listener;
  client.onWrite = [&](std::string_view text, bool accepted) {
    runner.OnWrite(text, accepted);
    if (accepted && s.options.listenPort >= 0) listener.Send(text);
  };
  ui.onTaskbarClick = [&](HWND hwnd, HostUi::Click click) {
    // A user at the desk: a taskbar button activates its window, a right click asks for its
    // system menu, a middle click closes it as a taskbar's "Close window" does. Runs on the UI
    // thread.
    static const char *const kNames[] = {"click ", "right-click ", "middle-click "};
    s.transcript.Line('*', std::string("taskbar ") + kNames[static_cast<int>(click)] + runner.WindowName(hwnd));
    if (click == HostUi::Click::kRight) {
      SendMessageW(hwnd, 0x0313, 0, 0);
    } else if (click == HostUi::Click::kMiddle) {
      PostMessageW(hwnd, WM_CLOSE, 0, 0);
    } else {
      SetForegroundWindow(hwnd);
    }
  };
  std::string error;
  const std::string addin = s.options.addin.empty() ? testkit::ExecutableDirectory() + "\\quorv.dll" : s.options.addin;
  if (!client.Load(addin, &error)) {
    Report(s, 3, error);
    ui.Quit();
    return;
  }
  s.transcript.Line('!', "loaded the add-in; initialized");
  client.Initialized();
  s.transcript.Line('!', "connect");
  client.Connect();
  runner.Settle();

  if (s.options.listenPort >= 0) {
    if (!listener.Start(s.options.listenPort, s.options.once, &error)) {
      Report(s, 3, error);
    } else {
      printf("quorv-host: listening on 127.0.0.1:%d\n", listener.port());
      fflush(stdout);
      Listen(s, runner, listener);
    }
  } else {
    for (const Step &step : s.steps) {
      if (ui.closedByUser()) {
        Report(s, 1, "the host frame window was closed before the end");
        break;
      }
      if (!runner.Run(step)) {
        Report(s, 1, (s.options.script.empty() ? s.options.replay : s.options.script) + ":" +
                         runner.failure().substr(5));
        break;
      }
    }
    for (const std::string &cut : s.replay.cut) Report(s, 4, "not replayed: " + cut);
  }
  runner.WriteFinalState();
  if (s.options.holdMs) WaitPumping(nullptr, s.options.holdMs);
  listener.Stop();
  // The session ends as the client ends it, unless the script did so already.
  if (client.open()) {
    s.transcript.Line('!', "disconnect");
    client.Disconnect();
  }
  if (!client.terminated()) {
    s.transcript.Line('!', "terminate");
    client.Terminate();
  }
  runner.Settle();
  client.Unload();  // on this thread, which owns the local windows
  s.transcript.Line('#', "writes completed: " + std::to_string(client.writesCompleted()));
  ui.Quit();
}

}  // namespace

int main(int argc, char **argv) {
  Session s;
  Options &o = s.options;
  if (!ParseOptions(argc, argv, &o)) {
    fputs(kUsage, stderr);
    return 2;
  }
  if (!o.script.empty()) {
    std::string text;
    if (!ReadFile(o.script, &text)) {
      fprintf(stderr, "quorv-host: cannot read %s\n", o.script.c_str());
      return 2;
    }
    ScriptError error;
    if (!ParseScript(text, DirectoryOf(o.script), &s.steps, &error)) {
      fprintf(stderr, "quorv-host: %s:%d: %s\n", o.script.c_str(), error.line, error.reason.c_str());
      return 2;
    }
  } else if (!o.replay.empty()) {
    std::string log;
    if (!ReadFile(o.replay, &log)) {
      fprintf(stderr, "quorv-host: cannot read %s\n", o.replay.c_str());
      return 2;
    }
    s.replay = ParseLog(log, o.allSessions);
    s.steps = s.replay.steps;
    if (s.steps.empty() && s.replay.cut.empty()) {
      fprintf(stderr, "quorv-host: %s holds no received messages\n", o.replay.c_str());
      return 2;
    }
  }
  if (!s.transcript.Open(o.transcript, o.echo || o.transcript.empty())) {
    fprintf(stderr, "quorv-host: cannot write %s\n", o.transcript.c_str());
    return 2;
  }
  s.transcript.Line('#', "quorv-host " + (o.script.empty() ? (o.replay.empty() ? "listen" : "replay " + o.replay)
                                                           : "script " + o.script));

  // The title the add-in looks for, from the same Language.ini beside the executable.
  char title[256] = {};
  const std::string ini = testkit::ExecutableDirectory() + "\\Language.ini";
  GetPrivateProfileStringA("GLOBAL", "AppName", kDefaultAppName, title, sizeof title, ini.c_str());
  HostUi &ui = HostUi::Get();
  std::string error;
  if (!ui.Create(title, &error)) {
    fprintf(stderr, "quorv-host: %s\n", error.c_str());
    return 3;
  }
  std::thread client([&s] { ClientThread(s); });
  ui.RunLoop();
  client.join();
  s.transcript.Close();
  return s.exitCode;
}
