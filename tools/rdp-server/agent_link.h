// The agent's side of the relay: quorv-agent.exe --connect 127.0.0.1:PORT connects here, sends its
// messages one a line and reads the add-in's the same way. One agent at a time.
#pragma once

#include <string>

#include "lines.h"

namespace rdpserver {

class AgentLink {
 public:
  AgentLink();
  ~AgentLink();
  // Listens on 127.0.0.1:port (0: any free port). False with the reason.
  bool Listen(int port, std::string *error);
  int port() const { return port_; }
  int ListenFd() const { return listen_; }
  int PeerFd() const { return peer_; }
  bool Connected() const { return peer_ >= 0; }
  // Takes a waiting agent; false when none is waiting.
  bool Accept();
  // Reads what the agent sent: the count, 0 when nothing is waiting, -1 when it closed.
  long Read(char *buffer, size_t size);
  // The add-in's lines wait here until the agent takes them.
  ByteQueue &out() { return out_; }
  // Writes what the socket takes now. False when the agent is gone.
  bool Flush();
  // Sends what waits, waiting up to `seconds` for a slow agent. False when not all went.
  bool Drain(double seconds);
  // Seconds since the agent last took bytes while some waited for it.
  double StalledSeconds() const;
  void Close();

 private:
  int listen_ = -1;
  int peer_ = -1;
  int port_ = 0;
  ByteQueue out_;
  double waitingSince_ = 0;
};

double NowSeconds();

}  // namespace rdpserver
