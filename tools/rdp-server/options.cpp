#include "options.h"

#include <cerrno>
#include <cstdlib>

namespace rdpserver {

const char kUsage[] =
    "usage: quorv-rdp-server --display :N [options]\n"
    "Serves the X display :N as a Remote Desktop session on 127.0.0.1 and relays the static\n"
    "virtual channel \"_quorv_\" to the agent (quorv-agent.exe --connect 127.0.0.1:AGENT-PORT),\n"
    "one message a line, or plays a script of agent lines to the client instead.\n"
    "options:\n"
    "  --display :N          the X display to serve (required)\n"
    "  --port N              RDP port on 127.0.0.1 (default 3389; 0: any free port, printed)\n"
    "  --agent-port N        where the agent connects, on 127.0.0.1 (default 47100; 0: any free port)\n"
    "  --script FILE         play FILE's agent lines to the client instead of a live agent\n"
    "                        (blank lines and lines starting with '#' are skipped; '#!wait MS' pauses;\n"
    "                        '#!cut': the client gets only the first part of the next line, about two\n"
    "                        chunks of it, then its connection is shut; the lines after it go to the\n"
    "                        next client (with --clients 2): a connection lost with a message in flight)\n"
    "  --linger SECONDS      --script: wait this long for answers after the last line (default 3)\n"
    "  --log FILE            write the channel's lines and the server's events there (appended)\n"
    "  --time-limit SECONDS  end after this long\n"
    "  --once                end when the first client disconnects (--clients 1)\n"
    "  --clients N           end when the Nth client disconnects\n"
    "  --user NAME           accept only this user name (default: any credentials)\n"
    "  --password TEXT       and this password\n"
    "  --cert-dir DIR        make the TLS certificate and key there (default: a temporary folder)\n"
    "  --help                this text\n"
    "exit status: 0 the channel joined and the add-in answered; 1 the server could not start;\n"
    "  2 usage error (also a bad script); 3 the channel \"_quorv_\" never joined (no client, or a client without the\n"
    "  add-in); 4 the channel joined but the add-in never answered\n";

namespace {

bool Number(const std::string &text, unsigned long low, unsigned long high, unsigned long *value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char *end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (*end || errno || v < low || v > high) return false;
  *value = v;
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string> &args, Options *o, std::string *error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    const bool hasValue = i + 1 < args.size();
    auto value = [&](std::string *out, const char *what) {
      if (!hasValue) return *error = a + " needs " + what, false;
      *out = args[++i];
      if (out->empty()) return *error = a + " needs " + what + ", not an empty text", false;
      return true;
    };
    auto number = [&](unsigned long low, unsigned long high, const char *what, unsigned long *out) {
      if (!hasValue) return *error = a + " needs " + what, false;
      const std::string &v = args[++i];
      if (!Number(v, low, high, out)) return *error = a + ": '" + v + "' is not " + what, false;
      return true;
    };
    unsigned long n = 0;
    if (a == "--help" || a == "-h") {
      o->help = true;
      return true;
    } else if (a == "--display") {
      if (!value(&o->display, "an X display such as :5")) return false;
    } else if (a == "--port") {
      if (!number(0, 65535, "a port (0 to 65535)", &n)) return false;
      o->port = static_cast<int>(n);
    } else if (a == "--agent-port") {
      if (!number(0, 65535, "a port (0 to 65535)", &n)) return false;
      o->agentPort = static_cast<int>(n);
    } else if (a == "--script") {
      if (!value(&o->scriptFile, "a file of agent lines")) return false;
    } else if (a == "--linger") {
      if (!number(0, 3600, "seconds (0 to 3600)", &n)) return false;
      o->lingerSeconds = static_cast<unsigned>(n);
    } else if (a == "--log") {
      if (!value(&o->logFile, "a file")) return false;
    } else if (a == "--time-limit") {
      if (!number(1, 7 * 86400, "seconds (1 to 604800)", &n)) return false;
      o->timeLimitSeconds = static_cast<unsigned>(n);
    } else if (a == "--once") {
      o->clients = 1;
    } else if (a == "--clients") {
      if (!number(1, 1000000, "a count (1 to 1000000)", &n)) return false;
      o->clients = static_cast<unsigned>(n);
    } else if (a == "--user") {
      if (!value(&o->user, "a user name")) return false;
    } else if (a == "--password") {
      if (!hasValue) return *error = "--password needs a text", false;
      o->password = args[++i];
    } else if (a == "--cert-dir") {
      if (!value(&o->certDir, "a folder")) return false;
    } else {
      return *error = "unknown option '" + a + "'", false;
    }
  }
  if (o->display.empty()) return *error = "--display :N is required", false;
  if (o->port != 0 && o->port == o->agentPort && o->scriptFile.empty())
    return *error = "--port and --agent-port must differ", false;
  if (!o->password.empty() && o->user.empty()) return *error = "--password needs --user", false;
  return true;
}

}  // namespace rdpserver
