// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "transport.h"

#include <atomic>

namespace agent {

namespace {

class TcpTransport : public Transport {
 public:
  TcpTransport(std::string address, unsigned short port) : address_(std::move(address)), port_(port) {}
  ~TcpTransport() override {
    Close();
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    if (started_) WSACleanup();
  }

  bool Open(std::string *error) override {
    WSADATA data;
    if (!started_) {
      if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return *error = "cannot start Winsock", false;
      started_ = true;
    }
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port_);
    if (inet_pton(AF_INET, address_.c_str(), &peer.sin_addr) != 1)
      return *error = "'" + address_ + "' is not an IPv4 address", false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return *error = "cannot create a socket", false;
    if (connect(s, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
      *error = "cannot connect to " + Describe() + " (error " + std::to_string(WSAGetLastError()) + ")";
      closesocket(s);
      return false;
    }
    // Messages are small and each one is a whole step: send them at once. A peer that stops
    // reading must not stall the agent for good: a send that waits this long ends the connection.
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof noDelay);
    DWORD sendTimeoutMs = 10000;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&sendTimeoutMs), sizeof sendTimeoutMs);
    socket_ = s;
    closed_ = false;
    return true;
  }

  bool Send(std::string_view message) override {
    if (socket_ == INVALID_SOCKET || closed_) return false;
    std::string line(message);
    line += '\n';  // the host's listen mode takes one message per line
    size_t sent = 0;
    while (sent < line.size()) {
      const int n = send(socket_, line.data() + sent, static_cast<int>(line.size() - sent), 0);
      if (n <= 0) {
        Close();  // the reader sees the connection end, and the agent stops
        return false;
      }
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  int Receive(char *buffer, size_t size, unsigned timeoutMs) override {
    if (socket_ == INVALID_SOCKET || closed_) return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval wait = {static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready == 0) return 0;
    if (ready < 0) return -1;
    const int n = recv(socket_, buffer, static_cast<int>(size), 0);
    return n > 0 ? n : -1;
  }

  void Close() override {
    // Wakes a waiting Receive; the socket itself goes with the transport.
    if (socket_ != INVALID_SOCKET && !closed_.exchange(true)) shutdown(socket_, SD_BOTH);
  }

  bool CarriesHostDirectives() const override { return true; }
  bool Reopens() const override { return false; }
  std::string Describe() const override { return address_ + ":" + std::to_string(port_); }

 private:
  std::string address_;
  unsigned short port_;
  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  std::atomic<bool> closed_{false};
};

}  // namespace

std::unique_ptr<Transport> MakeTcpTransport(const std::string &address, unsigned short port) {
  return std::make_unique<TcpTransport>(address, port);
}

}  // namespace agent
