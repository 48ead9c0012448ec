// The server end of the static virtual channel, through the public Remote Desktop Services calls
// of wtsapi32.dll. They are looked up when the channel is opened: where the library or a call is
// missing, the agent says so instead of failing to start.
#include <windows.h>

#include "transport.h"

#include <atomic>

namespace agent {

namespace {

using ChannelOpenCall = HANDLE(WINAPI *)(HANDLE server, DWORD session, LPSTR name);
using ChannelReadCall = BOOL(WINAPI *)(HANDLE channel, ULONG timeoutMs, PCHAR buffer, ULONG size, PULONG read);
using ChannelWriteCall = BOOL(WINAPI *)(HANDLE channel, PCHAR buffer, ULONG length, PULONG written);
using ChannelCloseCall = BOOL(WINAPI *)(HANDLE channel);

// WTS_CURRENT_SERVER_HANDLE and WTS_CURRENT_SESSION: this server, this session.
const HANDLE kThisServer = nullptr;
const DWORD kThisSession = static_cast<DWORD>(-1);

template <typename Call>
bool Find(HMODULE library, const char *name, Call *call, std::string *error) {
  *call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
  if (!*call) *error = std::string("wtsapi32.dll has no ") + name + ": this system offers no virtual channels";
  return *call != nullptr;
}

class ChannelTransport : public Transport {
 public:
  explicit ChannelTransport(std::string name) : name_(std::move(name)) {}
  ~ChannelTransport() override {
    Release();
    if (library_) FreeLibrary(library_);
  }

  bool Open(std::string *error) override {
    Release();
    if (!library_) {
      library_ = LoadLibraryW(L"wtsapi32.dll");
      if (!library_)
        return *error = "wtsapi32.dll cannot be loaded (error " + std::to_string(GetLastError()) + ")", false;
    }
    if (!Find(library_, "WTSVirtualChannelOpen", &open_, error) ||
        !Find(library_, "WTSVirtualChannelRead", &read_, error) ||
        !Find(library_, "WTSVirtualChannelWrite", &write_, error) ||
        !Find(library_, "WTSVirtualChannelClose", &close_, error))
      return false;
    HANDLE channel = open_(kThisServer, kThisSession, name_.data());
    if (!channel) {
      return *error = "cannot open the virtual channel \"" + name_ + "\" (error " + std::to_string(GetLastError()) +
                      "): not in a remote session, or the client has no add-in for it",
             false;
    }
    channel_ = channel;
    closed_ = false;
    return true;
  }

  bool Send(std::string_view message) override {
    if (!channel_ || closed_) return false;
    // One write is one message for the add-in: the client hands it over with its total length.
    std::string copy(message);
    ULONG written = 0;
    return write_(channel_, copy.data(), static_cast<ULONG>(copy.size()), &written) && written == copy.size();
  }

  int Receive(char *buffer, size_t size, unsigned timeoutMs) override {
    if (!channel_ || closed_) return -1;
    ULONG read = 0;
    if (!read_(channel_, timeoutMs, buffer, static_cast<ULONG>(size), &read)) {
      const DWORD error = GetLastError();
      return error == ERROR_IO_INCOMPLETE || error == WAIT_TIMEOUT || error == ERROR_TIMEOUT ? 0 : -1;
    }
    return static_cast<int>(read);
  }

  // A waiting Receive returns within its timeout; the handle goes at the next Open or with the
  // transport, when nothing reads from it any more.
  void Close() override { closed_ = true; }

  bool CarriesHostDirectives() const override { return false; }
  bool Reopens() const override { return true; }
  std::string Describe() const override { return "the virtual channel \"" + name_ + "\""; }

 private:
  void Release() {
    if (channel_ && close_) close_(channel_);
    channel_ = nullptr;
  }

  std::string name_;
  HMODULE library_ = nullptr;
  ChannelOpenCall open_ = nullptr;
  ChannelReadCall read_ = nullptr;
  ChannelWriteCall write_ = nullptr;
  ChannelCloseCall close_ = nullptr;
  HANDLE channel_ = nullptr;
  std::atomic<bool> closed_{false};
};

}  // namespace

std::unique_ptr<Transport> MakeChannelTransport(const std::string &channelName) {
  return std::make_unique<ChannelTransport>(channelName);
}

}  // namespace agent
