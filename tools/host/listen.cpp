// winsock2.h must come before windows.h.
#include <winsock2.h>

#include "listen.h"

#include "ui.h"

namespace host {

namespace {
const SOCKET kNoSocket = INVALID_SOCKET;
const uintptr_t kNone = ~uintptr_t{0};
constexpr size_t kLongestLine = 16 * 1024 * 1024;  // a line beyond this is dropped whole

std::string ListenError(int port, int code) {
  const std::string where = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": ";
  switch (code) {
    case WSAEADDRINUSE:
    case WSAEACCES:  // what an exclusively held port gives
      return where + "the port is in use by another program (choose another, or 0 for any free port)";
    case WSAEADDRNOTAVAIL:
      return where + "the address is not available on this machine";
    default:
      return where + "Winsock error " + std::to_string(code);
  }
}
}  // namespace

Listener::~Listener() { Stop(); }

bool Listener::Start(int port, bool once, std::string *error) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return *error = "cannot start Winsock", false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) return *error = "cannot create a socket", false;
  // Not SO_REUSEADDR: on Windows it would let the host take over a port another program uses.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&exclusive), sizeof exclusive);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // only this machine
  address.sin_port = htons(static_cast<u_short>(port));
  if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(s, 1) != 0) {
    const int code = WSAGetLastError();
    closesocket(s);
    return *error = ListenError(port, code), false;
  }
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
  port_ = ntohs(address.sin_port);
  listenSocket_ = s;
  once_ = once;
  ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  peerDone_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
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
          if (!dropping) input_.push_back(AgentInput{pending, false});
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
      input_.push_back(AgentInput{"", true});
    }
    SetEvent(ready_);
    // The answers to the agent's last lines still go out; the client thread says when it is done.
    WaitForSingleObject(peerDone_, INFINITE);
    bool stop;
    {
      std::lock_guard<std::mutex> guard(lock_);
      peer_ = kNone;
      closesocket(peer);
      stop = stop_;
    }
    if (once_ || stop) break;
  }
  std::lock_guard<std::mutex> guard(lock_);
  finished_ = true;
  SetEvent(ready_);
}

void Listener::Send(std::string_view frame) {
  std::lock_guard<std::mutex> guard(lock_);
  if (peer_ == kNone) return;
  size_t sent = 0;
  while (sent < frame.size()) {
    int n = send(static_cast<SOCKET>(peer_), frame.data() + sent, static_cast<int>(frame.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

void Listener::Take(std::deque<AgentInput> *input, DWORD timeoutMs) {
  WaitPumping(ready_, timeoutMs);
  std::lock_guard<std::mutex> guard(lock_);
  input->swap(input_);
  input_.clear();
}

void Listener::ClosePeer() {
  if (peerDone_) SetEvent(peerDone_);
}

bool Listener::finished() {
  std::lock_guard<std::mutex> guard(lock_);
  return finished_ && input_.empty();
}

void Listener::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
    if (listenSocket_ != kNone) closesocket(static_cast<SOCKET>(listenSocket_));
    listenSocket_ = kNone;
    if (peer_ != kNone) shutdown(static_cast<SOCKET>(peer_), SD_BOTH);
  }
  if (peerDone_) SetEvent(peerDone_);
  if (thread_.joinable()) thread_.join();
  for (HANDLE *h : {&ready_, &peerDone_}) {
    if (*h) CloseHandle(*h);
    *h = nullptr;
  }
}

}  // namespace host
