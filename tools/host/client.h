// The host's Remote Desktop client: loads the add-in and plays the client's side of the published
// virtual channel interface. Events and data are delivered on the thread that calls the methods
// (the host's client thread); write completions are reported later, from a thread of their own.
#pragma once

#include <windows.h>
#include <cchannel.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace host {

class ChannelClient {
 public:
  static ChannelClient &Get();  // one per process: the channel functions are plain functions

  // LoadLibraryA(path) and GetProcAddress("VirtualChannelEntry"), then the entry call. False
  // with a reason in *error.
  bool Load(const std::string &path, std::string *error);
  void Unload();  // FreeLibrary, on the calling thread

  // Init events, as the client raises them.
  void Initialized();
  void Connect();
  void Disconnect();
  // Waits until every write the add-in made has been reported, then raises TERMINATED.
  void Terminate();
  bool open() const { return openHandle_ != 0; }
  bool terminated() const { return terminated_; }

  // One agent message: chunks of at most chunkSize (<= CHANNEL_CHUNK_LENGTH) bytes, each with the
  // total length and the first/last flags.
  void Deliver(std::string_view message, size_t chunkSize = CHANNEL_CHUNK_LENGTH);

  // Called for every write the add-in makes, on the add-in's thread, with the text as written and
  // whether the client took it (a write while disconnected is refused).
  std::function<void(std::string_view, bool)> onWrite;
  // Delay before a write is reported complete.
  DWORD completionDelayMs = 5;
  unsigned writesCompleted() const { return completed_; }

 private:
  ChannelClient() = default;
  static UINT VCAPITYPE Init(LPVOID *initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                             PCHANNEL_INIT_EVENT_FN proc);
  static UINT VCAPITYPE Open(LPVOID initHandle, LPDWORD openHandle, PCHAR name, PCHANNEL_OPEN_EVENT_FN proc);
  static UINT VCAPITYPE Close(DWORD openHandle);
  static UINT VCAPITYPE Write(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);
  void InitEvent(UINT event, const char *data);
  void CompletionLoop();
  void WaitForCompletions();

  HMODULE module_ = nullptr;
  char initHandleStorage_ = 0;
  PCHANNEL_INIT_EVENT_FN initProc_ = nullptr;
  PCHANNEL_OPEN_EVENT_FN openProc_ = nullptr;
  volatile DWORD openHandle_ = 0;
  DWORD nextOpenHandle_ = 0x1001;
  bool registered_ = false;
  bool terminated_ = false;

  // Writes waiting to be reported: (due tick, user data).
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::pair<ULONGLONG, LPVOID>> pending_;
  unsigned inFlight_ = 0;
  unsigned completed_ = 0;
  bool stop_ = false;
  std::thread completer_;
};

}  // namespace host
