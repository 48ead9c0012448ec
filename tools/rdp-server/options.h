// Command line of quorv-rdp-server.
#pragma once

#include <string>
#include <vector>

namespace rdpserver {

struct Options {
  std::string display;            // the X display served, for example ":5"
  int port = 3389;                // RDP, on 127.0.0.1
  int agentPort = 47100;          // the agent's TCP, on 127.0.0.1
  std::string logFile;            // the channel's lines and the server's events
  std::string scriptFile;         // play these agent lines instead of a live agent
  std::string certDir;            // where the certificate and key are made (default: a fresh temporary folder)
  std::string user, password;     // required credentials; empty: any
  unsigned timeLimitSeconds = 0;  // 0: none
  unsigned lingerSeconds = 3;     // script mode: how long to wait for answers after the last line
  unsigned clients = 0;           // end when this many clients have come and gone (0: never)
  bool help = false;
};

extern const char kUsage[];

// Parses argv. False with one line naming the problem in *error.
bool ParseOptions(const std::vector<std::string> &args, Options *options, std::string *error);

}  // namespace rdpserver
