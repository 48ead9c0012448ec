// winsock2.h must come before windows.h.
#include <winsock2.h>

#include "listen.h"

#include "ui.h"

namespace host {

namespace {
const SOCKET kNoSocket = INVALID_SOCKET;
constexpr size_t kLongestLine = 16 * 1024 * 1024;  // a line beyond this is dropped whole
}  // namespace

Listener::~Listener() { Stop(); }

bool Listener::Start(int port, bool once, std::string *error) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return *error = "cannot start Winsock", false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) return *error = "cannot create a socket", false;
  BOOL reuse = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse), sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // only this machine
  address.sin_port = htons(static_cast<u_short>(port));
  if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(s, 1) != 0) {
    closesocket(s);
    return *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (error " +
                    std::to_string(WSAGetLastError()) + ")", false;
  }
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
  port_ = ntohs(address.sin_port);
  listenSocket_ = s;
  once_ = once;
  ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void Listener::Loop() {
  for (;;) {
    SOCKET peer = accept(static_cast<SOCKET>(listenSocket_), nullptr, nullptr);
    if (peer == kNoSocket) break;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stop_) {
        closesocket(peer);
        break;
      }
      peer_ = peer;
    }
    std::string pending;
    bool dropping = false;
    char buffer[4096];
    for (;;) {
      int n = recv(peer, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      std::lock_guard<std::mutex> guard(lock_);
      for (int i = 0; i < n; ++i) {
        if (buffer[i] == '\n') {
          if (!pending.empty() && pending.back() == '\r') pending.pop_back();
          if (!dropping) lines_.push_back(pending);
          pending.clear();
          dropping = false;
        } else if (pending.size() < kLongestLine) {
          pending.push_back(buffer[i]);
        } else {
          dropping = true;
          pending.clear();
        }
      }
      SetEvent(ready_);
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      peer_ = ~uintptr_t{0};
      closesocket(peer);
      if (once_) ended_ = true;
    }
    SetEvent(ready_);
    if (once_) break;
  }
  std::lock_guard<std::mutex> guard(lock_);
  ended_ = true;
  SetEvent(ready_);
}

void Listener::Send(std::string_view frame) {
  std::lock_guard<std::mutex> guard(lock_);
  if (peer_ == ~uintptr_t{0}) return;
  size_t sent = 0;
  while (sent < frame.size()) {
    int n = send(static_cast<SOCKET>(peer_), frame.data() + sent, static_cast<int>(frame.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

bool Listener::Take(std::deque<std::string> *lines, DWORD timeoutMs, bool *ended) {
  WaitPumping(ready_, timeoutMs);
  std::lock_guard<std::mutex> guard(lock_);
  lines->swap(lines_);
  lines_.clear();
  *ended = ended_ && lines->empty();
  return !lines->empty();
}

void Listener::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
    if (listenSocket_ != ~uintptr_t{0}) closesocket(static_cast<SOCKET>(listenSocket_));
    listenSocket_ = ~uintptr_t{0};
    if (peer_ != ~uintptr_t{0}) shutdown(static_cast<SOCKET>(peer_), SD_BOTH);
  }
  if (thread_.joinable()) thread_.join();
  if (ready_) CloseHandle(ready_);
  ready_ = nullptr;
}

}  // namespace host
