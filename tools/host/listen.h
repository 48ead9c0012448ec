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

class Listener {
 public:
  ~Listener();
  // Binds 127.0.0.1:port and starts accepting. False with a reason.
  bool Start(int port, bool once, std::string *error);
  // Sends one of the add-in's messages to the connected agent, if any.
  void Send(std::string_view frame);
  // Waits (pumping) up to timeoutMs for received lines. ended: no more will come.
  bool Take(std::deque<std::string> *lines, DWORD timeoutMs, bool *ended);
  void Stop();
  int port() const { return port_; }

 private:
  void Loop();

  uintptr_t listenSocket_ = ~uintptr_t{0};
  uintptr_t peer_ = ~uintptr_t{0};
  int port_ = 0;
  bool once_ = false;
  HANDLE ready_ = nullptr;
  std::mutex lock_;
  std::deque<std::string> lines_;
  bool ended_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace host
