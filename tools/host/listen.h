// Listen mode: an agent under development connects to 127.0.0.1:PORT, sends agent messages one
// per line and gets the add-in's messages back the same way. Lines that begin with "#!" are host
// directives (user actions, expectations), as in scripts.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace host {

// What came from the agent: a line, or the end of its connection.
struct AgentInput {
  std::string line;
  bool disconnected = false;
};

class Listener {
 public:
  ~Listener();
  // Binds 127.0.0.1:port and starts accepting. False with the reason in words.
  bool Start(int port, bool once, std::string *error);
  // Sends one of the add-in's messages to the connected agent, if any.
  void Send(std::string_view frame);
  // Waits (pumping) up to timeoutMs for input. After a disconnection the connection stays open
  // for the add-in's answers until ClosePeer, so an agent that shuts down its sending side after
  // its last line still gets them; then the next agent is accepted (unless once).
  void Take(std::deque<AgentInput> *input, DWORD timeoutMs);
  void ClosePeer();
  // No more input will come (once, after the first agent; or after Stop).
  bool finished();
  void Stop();
  int port() const { return port_; }

 private:
  void Loop();

  uintptr_t listenSocket_ = ~uintptr_t{0};
  uintptr_t peer_ = ~uintptr_t{0};
  int port_ = 0;
  bool once_ = false;
  HANDLE ready_ = nullptr;     // input is waiting
  HANDLE peerDone_ = nullptr;  // ClosePeer or Stop was called
  std::mutex lock_;
  std::deque<AgentInput> input_;
  bool finished_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace host
