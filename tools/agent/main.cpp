// quorv-agent: runs in the remote session, reports its windows to the quorv add-in on the client
// and carries out what the add-in asks. See docs/agent.md.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent.h"

namespace {

const char kUsage[] =
    "usage: quorv-agent [options]\n"
    "       quorv-agent --help | --version\n"
    "  In a remote session: talks to the add-in over the virtual channel \"_quorv_\".\n"
    "options:\n"
    "  --connect ADDRESS:PORT  talk to the stand-in host's --listen mode over TCP instead\n"
    "  --allow-start           let the add-in start programs (StartProg); off by default\n"
    "  --interval MS           the periodic comparison of all windows (default 1000, 50 to 60000)\n"
    "  --paint-desktop         --connect only: the host draws the reported windows in its picture\n"
    "  --no-tray               no notification icon of the agent's own\n"
    "  --log FILE              log there instead of to standard error\n"
    "  --stats SECONDS         log memory and handle counts this often\n"
    "  --verbose               log every message in both directions\n";

bool Number(const char *text, unsigned long low, unsigned long high, unsigned long *value) {
  char *end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (!*text || *end || v < low || v > high) return false;
  *value = v;
  return true;
}

// A usage error: the problem and the usage on standard error, exit 2. Asked for (--help): the
// usage on standard output, exit 0, as every other tool of the project.
int Usage(const char *problem) {
  if (!problem) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fprintf(stderr, "quorv-agent: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  // One kind of line end on standard output, as the host's.
  _setmode(_fileno(stdout), _O_BINARY);
  agent::AgentOptions options;
  std::string connect, logFile;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
    unsigned long n = 0;
    if (a == "--connect") {
      const char *v = value();
      if (!v) return Usage("--connect needs ADDRESS:PORT");
      connect = v;
    } else if (a == "--allow-start") {
      options.allowStart = true;
    } else if (a == "--interval") {
      const char *v = value();
      if (!v || !Number(v, 50, 60000, &n)) return Usage("--interval needs milliseconds from 50 to 60000");
      options.intervalMs = static_cast<unsigned>(n);
    } else if (a == "--paint-desktop") {
      options.paintDesktop = true;
    } else if (a == "--no-tray") {
      options.tray = false;
    } else if (a == "--log") {
      const char *v = value();
      if (!v) return Usage("--log needs a file");
      logFile = v;
    } else if (a == "--stats") {
      const char *v = value();
      if (!v || !Number(v, 1, 86400, &n)) return Usage("--stats needs seconds from 1 to 86400");
      options.statsSeconds = static_cast<unsigned>(n);
    } else if (a == "--verbose") {
      options.verbose = true;
    } else if (a == "--help" || a == "-h" || a == "/?") {
      return Usage(nullptr);
    } else if (a == "--version") {
      std::printf("quorv-agent %s\n", QUORV_VERSION);
      return 0;
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (!agent::OpenLog(logFile)) {
    std::fprintf(stderr, "quorv-agent: cannot write the log %s\n", logFile.c_str());
    return 2;
  }

  std::unique_ptr<agent::Transport> transport;
  if (!connect.empty()) {
    const size_t colon = connect.rfind(':');
    unsigned long port = 0;
    if (colon == std::string::npos || !Number(connect.c_str() + colon + 1, 1, 65535, &port))
      return Usage("--connect needs ADDRESS:PORT, for example 127.0.0.1:47100");
    transport = agent::MakeTcpTransport(connect.substr(0, colon), static_cast<unsigned short>(port));
  } else {
    if (options.paintDesktop) return Usage("--paint-desktop is for --connect to the stand-in host");
    transport = agent::MakeChannelTransport("_quorv_");
  }
  agent::Log(
      "quorv-agent starting: %s%s", transport->Describe().c_str(),
      options.allowStart ? "; programs may be started by the client (--allow-start)" : "; starting programs is off");
  agent::Agent a(std::move(transport), options);
  return a.Run();
}
