#include "cut.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>

namespace rdpserver {
namespace {
// Only the server's own thread sends; the atomics keep a stray thread of the library safe anyway.
std::atomic<int> g_fd{-1};
std::atomic<size_t> g_left{0};
std::atomic<bool> g_cut{false};
}  // namespace

void ArmCut(int fd, size_t budget) {
  g_cut = false;
  g_left = budget;
  g_fd = fd;
}

bool DisarmCut() {
  g_fd = -1;
  return g_cut.exchange(false);
}

bool CutWorks() {
  // The library's send() is found through the global scope, where an exported send() of this
  // program comes first.
  using SendFunction = ssize_t (*)(int, const void *, size_t, int);
  void *found = dlsym(RTLD_DEFAULT, "send");
  return found && reinterpret_cast<SendFunction>(found) == static_cast<SendFunction>(&::send);
}

}  // namespace rdpserver

// In place of the C library's send() (which is sendto() without an address).
extern "C" ssize_t send(int fd, const void *buffer, size_t length, int flags) {
  using namespace rdpserver;
  if (fd < 0 || fd != g_fd.load()) return sendto(fd, buffer, length, flags, nullptr, 0);
  if (g_cut.load()) {
    errno = EPIPE;
    return -1;
  }
  const size_t left = g_left.load();
  const ssize_t sent = sendto(fd, buffer, length < left ? length : left, flags, nullptr, 0);
  if (sent > 0) g_left = left - static_cast<size_t>(sent);
  if (g_left.load() == 0) {
    // What went is delivered before the end of the stream.
    shutdown(fd, SHUT_RDWR);
    g_cut = true;
  }
  return sent;
}
