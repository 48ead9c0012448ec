// quorv-host: a stand-in host application for the add-in. It owns the host frame window, loads
// quorv.dll as the Remote Desktop client does, and plays the agent: from a script, from a
// diagnostic log, or from an agent connected over TCP on this machine.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <deque>
#include <string>
#include <thread>

#include "client.h"
#include "common/host_interface.h"
#include "desktop.h"
#include "installed.h"
#include "listen.h"
#include "replay.h"
#include "runner.h"
#include "script.h"
#include "transcript.h"
#include "ui.h"

namespace {

using namespace host;

const char kUsage[] =
    "usage: quorv-host [options] SCRIPT.agent       play an agent script\n"
    "       quorv-host [options] --replay LOGFILE   play what a diagnostic log recorded\n"
    "       quorv-host [options] --listen PORT      take an agent's messages over TCP on 127.0.0.1\n"
    "       quorv-host --expand SCRIPT.agent        print the agent messages the script delivers\n"
    "       quorv-host --help | --version\n"
    "options:\n"
    "  --transcript FILE  write the transcript there (default: standard output)\n"
    "  --echo             also print the transcript when it goes to a file\n"
    "  --addin FILE       the add-in to load (default: quorv.dll beside quorv-host.exe)\n"
    "  --installed        load the add-in registered for the standard client (the Name of each\n"
    "                     subkey of Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\n"
    "                     in HKLM and HKCU, in this program's registry view) instead\n"
    "  --shots DIR        where 'shot' directives ask for screenshots (see docs/agent-scripts.md);\n"
    "                     implies --local-desktop\n"
    "  --local-desktop    show the client's own desktop behind the frame (a background and a\n"
    "                     local program's window), so that screenshots show where it is cut\n"
    "  --no-pace          do not start each delivery or action that may move the focus in a\n"
    "                     calendar second of its own (the add-in reports focus changes of a\n"
    "                     window at most once a second; pacing makes transcripts repeatable, and\n"
    "                     scripts that expect a FOCUS after every such step need it)\n"
    "  --hold MS          keep the windows up this long after the last step\n"
    "  --timing FILE      a line per delivered message: microseconds since 1970 when its delivery\n"
    "                     began, its keyword, the microseconds to the add-in's first window call\n"
    "                     ('-': none) and to the end of the delivery\n"
    "  --all-sessions     replay every session in the log, not just the last one\n"
    "  --once             listen: end when the first agent disconnects (otherwise: when the frame\n"
    "                     window is closed, or on Ctrl-C or a termination request)\n"
    "exit status: 0 every expectation held; 1 an expectation failed or the frame window was\n"
    "closed early; 2 a malformed script or a usage error; 3 the add-in could not be loaded;\n"
    "4 a replay skipped messages that were cut in the log; 5 the port could not be listened on\n";

// The add-in's own default title of the host frame window: "tamberlyn" and three characters
// in code page 936.
const char kDefaultAppName[] = "tamberlyn\xBF\xCD\xBB\xA7\xB6\xCB";

struct Options {
  std::string script, replay, transcript, addin, shots, timing;
  bool localDesktop = false;
  int listenPort = -1;
  bool echo = false, noPace = false, allSessions = false, once = false, help = false, version = false;
  bool installed = false, expand = false;
  DWORD holdMs = 0;
};

std::string DirectoryOf(const std::string &path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Parses the command line. False with a one-line reason that names the wrong option.
bool ParseOptions(int argc, char **argv, Options *o, std::string *error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string *out) {
      if (i + 1 >= argc) return *error = a + " needs a value", false;
      *out = argv[++i];
      return true;
    };
    auto number = [&](long highest, const char *what, long *out) {
      std::string text;
      if (!value(&text)) return false;
      char *end = nullptr;
      errno = 0;
      const long v = strtol(text.c_str(), &end, 10);
      if (text.empty() || *end || errno || v < 0 || v > highest)
        return *error = a + ": '" + text + "' is not " + what, false;
      *out = v;
      return true;
    };
    long n = 0;
    if (a == "--transcript") {
      if (!value(&o->transcript)) return false;
    } else if (a == "--addin") {
      if (!value(&o->addin)) return false;
    } else if (a == "--timing") {
      if (!value(&o->timing)) return false;
    } else if (a == "--shots") {
      if (!value(&o->shots)) return false;
    } else if (a == "--replay") {
      if (!value(&o->replay)) return false;
    } else if (a == "--listen") {
      if (!number(65535, "a port (0 to 65535; 0: any free port)", &n)) return false;
      o->listenPort = static_cast<int>(n);
    } else if (a == "--hold") {
      if (!number(3600000, "a number of milliseconds (0 to 3600000)", &n)) return false;
      o->holdMs = static_cast<DWORD>(n);
    } else if (a == "--echo")
      o->echo = true;
    else if (a == "--no-pace")
      o->noPace = true;
    else if (a == "--all-sessions")
      o->allSessions = true;
    else if (a == "--once")
      o->once = true;
    else if (a == "--installed")
      o->installed = true;
    else if (a == "--expand")
      o->expand = true;
    else if (a == "--local-desktop")
      o->localDesktop = true;
    else if (a == "--help" || a == "-h")
      o->help = true;
    else if (a == "--version")
      o->version = true;
    else if (!a.empty() && a[0] == '-')
      return *error = "unknown option " + a, false;
    else if (o->script.empty())
      o->script = a;
    else
      return *error = "one script at a time ('" + o->script + "' and '" + a + "')", false;
  }
  if (o->help || o->version) return true;
  const int modes = !o->script.empty() + !o->replay.empty() + (o->listenPort >= 0);
  if (modes == 0) return *error = "nothing to play: give SCRIPT.agent, --replay LOGFILE or --listen PORT", false;
  if (modes > 1) return *error = "give one of SCRIPT.agent, --replay LOGFILE and --listen PORT", false;
  if (o->expand && o->script.empty()) return *error = "--expand goes with SCRIPT.agent", false;
  if (o->once && o->listenPort < 0) return *error = "--once goes with --listen", false;
  if (o->allSessions && o->replay.empty()) return *error = "--all-sessions goes with --replay", false;
  if (o->installed && !o->addin.empty()) return *error = "give --addin FILE or --installed, not both", false;
  return true;
}

struct Session {
  Options options;
  Listener listener;  // listen mode: opened before anything else, so a port in use ends at once
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

// Set by Ctrl-C, Ctrl-Break, closing the console or a termination request (under Wine: SIGINT;
// scripts/host turns SIGTERM into one): the session then ends as when the frame is closed.
std::atomic<bool> g_stopRequested{false};

BOOL WINAPI OnConsoleControl(DWORD) {
  g_stopRequested = true;
  return TRUE;
}

// Runs the listening loop until the agent is gone (--once), the user closes the frame, or a stop
// is requested.
void Listen(Session &s, Runner &runner, Listener &listener) {
  uint32_t agentNumber = 1;
  int lineNumber = 0;
  for (;;) {
    std::deque<AgentInput> input;
    listener.Take(&input, 200);
    for (const AgentInput &in : input) {
      if (in.disconnected) {
        runner.Settle();
        s.transcript.Line('#', "the agent disconnected");
        listener.ClosePeer();
        continue;
      }
      ++lineNumber;
      std::vector<Step> steps;
      if (in.line.rfind("#!", 0) == 0) {
        ScriptError error;
        if (!ParseScriptLine(in.line.substr(2), lineNumber, ".", &agentNumber, &steps, &error)) {
          Report(s, 2, "agent line " + std::to_string(lineNumber) + ": " + error.reason);
          continue;
        }
      } else {
        Step step;
        step.kind = StepKind::kDeliver;
        step.line = lineNumber;
        step.messages.push_back(in.line);  // verbatim: the agent's own bytes
        steps.push_back(step);
      }
      for (const Step &step : steps)
        if (!runner.Run(step)) Report(s, 1, "agent " + runner.failure());
    }
    if (listener.finished()) return;
    if (HostUi::Get().closedByUser()) return;
    if (g_stopRequested) {
      s.transcript.Line('#', "stop requested");
      return;
    }
  }
}

// "H held, F failed" and, for a script, how many were not reached.
std::string CountExpectations(const std::vector<Step> &steps, const Runner &runner) {
  int total = 0;
  for (const Step &step : steps) total += IsExpectation(step.kind);
  std::string text = std::to_string(runner.held()) + " held, " + std::to_string(runner.failed()) + " failed";
  const int notRun = total - runner.held() - runner.failed();
  if (notRun > 0) text += ", " + std::to_string(notRun) + " not reached";
  return text;
}

void ClientThread(Session &s) {
  HostUi &ui = HostUi::Get();
  ChannelClient &client = ChannelClient::Get();
  // A live agent is never paced: its messages go on as they come.
  Runner runner(s.transcript, RunOptions{s.options.shots, !s.options.noPace && s.options.listenPort < 0, s.options.timing});
  Listener &listener = s.listener;
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
      SendMessageW(hwnd, WM_SYSMENU_REQUEST, 0, 0);
    } else if (click == HostUi::Click::kMiddle) {
      PostMessageW(hwnd, WM_CLOSE, 0, 0);
    } else {
      SetForegroundWindow(hwnd);
    }
  };
  ui.onTrayClick = [&](HWND owner, UINT id, HostUi::Click click) {
    // The shell tells a notification icon's owner of a click with the icon's callback message,
    // which the add-in set to WM_TRAYMESSAGE: the uID and the mouse message.
    const UINT mouse = click == HostUi::Click::kRight    ? WM_RBUTTONUP
                       : click == HostUi::Click::kMiddle ? WM_MBUTTONUP
                                                         : WM_LBUTTONUP;
    s.transcript.Line('*', "tray click " + runner.WindowName(owner) + " uID " + std::to_string(id));
    SendMessageW(owner, WM_TRAYMESSAGE, id, mouse);
  };
  std::string error;
  std::string addin = s.options.addin.empty() ? testkit::ExecutableDirectory() + "\\quorv.dll" : s.options.addin;
  if (s.options.installed) {
    std::vector<std::string> notes;
    const std::vector<Registration> registered = ReadRegisteredAddins(&notes);
    const bool found = ChooseInstalledAddin(registered, &addin, &notes, &error);
    for (const std::string &note : notes) s.transcript.Line('#', "registered add-in " + note);
    if (!found) {
      Report(s, 3, error);
      ui.Quit();
      return;
    }
  }
  if (!client.Load(addin, &error)) {
    Report(s, 3, error);
    ui.Quit();
    return;
  }
  s.transcript.Line('!', "loaded the add-in; initialized");
  client.Initialized();
  s.transcript.Line('!', "connect");
  client.Connect();
  ui.SetConnected(true);
  runner.Settle();

  if (s.options.listenPort >= 0) {
    Listen(s, runner, listener);
  } else {
    for (const Step &step : s.steps) {
      if (ui.closedByUser()) {
        Report(s, 1, "the host frame window was closed before the end");
        break;
      }
      if (g_stopRequested) {
        Report(s, 1, "stopped on request before the end");
        break;
      }
      if (!runner.Run(step)) {
        Report(s, 1,
               (s.options.script.empty() ? s.options.replay : s.options.script) + ":" + runner.failure().substr(5));
        break;
      }
    }
    for (const std::string &cut : s.replay.cut) Report(s, 4, "not replayed: " + cut);
  }
  s.transcript.Line('#', "expectations: " + CountExpectations(s.steps, runner));
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
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  // One kind of line end on standard output and in a transcript file.
  _setmode(_fileno(stdout), _O_BINARY);
  std::string usageError;
  if (!ParseOptions(argc, argv, &o, &usageError)) {
    fprintf(stderr, "quorv-host: %s (see quorv-host --help)\n", usageError.c_str());
    return 2;
  }
  if (o.help) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (o.version) {
    printf("quorv-host %s\n", QUORV_VERSION);
    return 0;
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
    // The messages whole, one a line, as another peer (an RDP server's script) plays them; the
    // script's other steps are the stand-in host's own and are left out.
    if (o.expand) {
      for (const Step &step : s.steps)
        if (step.kind == StepKind::kDeliver)
          for (const std::string &message : step.messages) printf("%s\n", message.c_str());
      return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
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
  if (o.listenPort >= 0) {
    std::string error;
    if (!s.listener.Start(o.listenPort, o.once, &error)) {
      fprintf(stderr, "quorv-host: %s\n", error.c_str());
      return 5;
    }
  }
  if (!s.transcript.Open(o.transcript, o.echo || o.transcript.empty())) {
    fprintf(stderr, "quorv-host: cannot write %s\n", o.transcript.c_str());
    return 2;
  }
  if (o.listenPort >= 0) {
    // On standard output: a note of the transcript when that goes there, a line of its own
    // otherwise, so that standard output never mixes the two.
    const std::string listening = "listening on 127.0.0.1:" + std::to_string(s.listener.port());
    if (!o.echo && !o.transcript.empty()) {
      printf("quorv-host: %s\n", listening.c_str());
      fflush(stdout);
    }
    s.transcript.Line('#', listening);
  }
  s.transcript.Line('#', "quorv-host " + (o.script.empty() ? (o.replay.empty() ? "listen" : "replay " + o.replay)
                                                           : "script " + o.script));

  // The title the add-in looks for, from the same Language.ini beside the executable.
  char title[256] = {};
  const std::string ini = testkit::ExecutableDirectory() + "\\Language.ini";
  GetPrivateProfileStringA("GLOBAL", "AppName", kDefaultAppName, title, sizeof title, ini.c_str());
  HostUi &ui = HostUi::Get();
  std::string error;
  if (!ui.Create(title, o.localDesktop || !o.shots.empty(), &error)) {
    fprintf(stderr, "quorv-host: %s\n", error.c_str());
    return 3;
  }
  std::thread client([&s] { ClientThread(s); });
  ui.RunLoop();
  client.join();
  s.transcript.Close();
  return s.exitCode;
}
