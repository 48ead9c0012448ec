// How the agent's messages reach the add-in and the add-in's come back. Two ways: the server end of
// the static virtual channel "_quorv_" in a real remote session, and a TCP connection to the
// stand-in host's listen mode for development and the demo.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace agent {

class Transport {
 public:
  virtual ~Transport() = default;
  // Opens the way to the add-in. False with a reason.
  virtual bool Open(std::string *error) = 0;
  // One message to the add-in, framed as this transport frames messages. Called from one thread.
  virtual bool Send(std::string_view message) = 0;
  // Waits up to timeoutMs for bytes from the add-in (its messages are lines). Returns the count
  // (0 when none came in time), or -1 when the way is closed. Called from one other thread.
  virtual int Receive(char *buffer, size_t size, unsigned timeoutMs) = 0;
  virtual void Close() = 0;
  // Lines that are host directives ("#!...") reach their peer: only the stand-in host has them.
  virtual bool CarriesHostDirectives() const = 0;
  // After the way closes, try to open it again (a remote session that was disconnected comes
  // back); otherwise the agent ends.
  virtual bool Reopens() const = 0;
  virtual std::string Describe() const = 0;
};

// TCP to 127.0.0.1 (or another IPv4 address) and port; messages are lines.
std::unique_ptr<Transport> MakeTcpTransport(const std::string &address, unsigned short port);
// The server end of the static virtual channel of this session; one write per message.
std::unique_ptr<Transport> MakeChannelTransport(const std::string &channelName);

}  // namespace agent
