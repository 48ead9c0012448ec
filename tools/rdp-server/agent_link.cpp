#include "agent_link.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace rdpserver {

namespace {
// The add-in's messages are short; this much waiting for an agent that does not read is plenty,
// and while it is full the relay stops taking the client's channel data instead of dropping it.
constexpr size_t kAgentQueueLimit = 1024 * 1024;
}  // namespace

double NowSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

AgentLink::AgentLink() : out_(kAgentQueueLimit) {}

AgentLink::~AgentLink() {
  Close();
  if (listen_ >= 0) close(listen_);
}

bool AgentLink::Listen(int port, std::string *error) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return *error = std::string("cannot create a socket: ") + std::strerror(errno), false;
  int on = 1;
  setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // only this machine
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(listen_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listen_, 1) != 0)
    return *error = "cannot listen for the agent on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno),
           false;
  socklen_t length = sizeof address;
  getsockname(listen_, reinterpret_cast<sockaddr *>(&address), &length);
  port_ = ntohs(address.sin_port);
  return true;
}

bool AgentLink::Accept() {
  if (peer_ >= 0) return false;
  const int s = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) return false;
  int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  peer_ = s;
  waitingSince_ = 0;
  return true;
}

long AgentLink::Read(char *buffer, size_t size) {
  if (peer_ < 0) return -1;
  const ssize_t n = recv(peer_, buffer, size, 0);
  if (n > 0) return n;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  return -1;
}

bool AgentLink::Flush() {
  if (peer_ < 0) return false;
  while (!out_.Empty()) {
    const ssize_t n = send(peer_, out_.Front(), out_.Size(), MSG_NOSIGNAL);
    if (n > 0) {
      out_.Consume(static_cast<size_t>(n));
      waitingSince_ = 0;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (waitingSince_ == 0) waitingSince_ = NowSeconds();
      return true;
    }
    return false;
  }
  waitingSince_ = 0;
  return true;
}

bool AgentLink::Drain(double seconds) {
  const double until = NowSeconds() + seconds;
  while (Flush() && !out_.Empty()) {
    const double left = until - NowSeconds();
    if (left <= 0) return false;
    pollfd writable{peer_, POLLOUT, 0};
    poll(&writable, 1, static_cast<int>(left * 1000) + 1);
  }
  return out_.Empty();
}

double AgentLink::StalledSeconds() const { return waitingSince_ == 0 ? 0 : NowSeconds() - waitingSince_; }

void AgentLink::Close() {
  if (peer_ >= 0) close(peer_);
  peer_ = -1;
  out_.Clear();
  waitingSince_ = 0;
}

}  // namespace rdpserver
