// The stand-in Remote Desktop client: loads the add-in as the client does and plays the client's
// side of the published virtual channel interface. Written against that interface only, so the
// same code drives the add-in on winsim and under Wine.
#pragma once

#include <windows.h>
#include <cchannel.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testkit {

class StandInClient {
 public:
  // One per process: the channel functions handed to the add-in are plain functions.
  static StandInClient &Get();

  // LoadLibraryA + GetProcAddress("VirtualChannelEntry"). False with a reason in error().
  bool Load(const char *module = "quorv.dll");
  // Drives an add-in linked into the program instead of a loaded module.
  void UseEntry(PVIRTUALCHANNELENTRY entry) { entry_ = entry; }
  void Unload();  // FreeLibrary
  bool loaded() const { return module_ != nullptr; }
  const std::string &error() const { return error_; }
  // Fills the entry points and calls VirtualChannelEntry.
  BOOL CallEntry();
  // CallEntry and, when it returns TRUE, the initialized and connected events: a session starts.
  BOOL CallEntryAndConnect();

  // What the client answers (set before the calls they affect).
  UINT initResult = CHANNEL_RC_OK;
  ULONG optionsOnReturn = CHANNEL_OPTION_INITIALIZED;
  UINT openResult = CHANNEL_RC_OK;
  DWORD openHandleToGive = 0x51;
  UINT writeResult = CHANNEL_RC_OK;
  // As FreeRDP's clients: the channel stays open through a disconnection, and opening it while it
  // is open is refused (CHANNEL_RC_ALREADY_OPEN) until the add-in closes it.
  bool refuseOpenWhileOpen = false;
  // When set, every accepted write is reported complete at once, from inside VirtualChannelWrite.
  bool completeWritesAtOnce = false;
  // How the client calls the add-in. FreeRDP's clients hand over a larger structure that names
  // them (the standard entry points, then a magic number) and leave the options at 0 on return.
  bool presentAsFreeRdp = false;
  // On 32-bit x86, the add-in's entry point and event procedures are called with the stack pointer
  // this many bytes off a 16-byte boundary (0, 4, 8 or 12), as clients built by other compilers may
  // call them. Ignored elsewhere.
  unsigned stackSkew = 0;

  // What the add-in did (written by the add-in's calls).
  struct InitCall {
    std::vector<CHANNEL_DEF> channels;
    INT channelCount = 0;
    ULONG version = 0;
    PCHANNEL_INIT_EVENT_FN initProc = nullptr;
  };
  struct OpenCall {
    LPVOID initHandle;
    std::string name;
    PCHANNEL_OPEN_EVENT_FN openProc;
  };
  struct Write {
    DWORD openHandle;
    std::string bytes;
    LPVOID userData;
  };
  std::vector<InitCall> initCalls;
  std::vector<OpenCall> openCalls;
  std::vector<DWORD> closeCalls;
  // Writes the client accepted and has not yet reported; guarded: writes come from any thread.
  std::vector<Write> Writes();
  std::vector<Write> Outstanding();
  // The texts of every accepted write, in order, with the line end removed.
  std::vector<std::string> Sent();
  void ClearWrites();

  // The init handle the client gives the add-in.
  LPVOID initHandle() const { return const_cast<char *>(&initHandleStorage_); }

  // Events to the add-in.
  void Initialized();
  void Connect();
  void Disconnect();
  void Terminate();
  void InitEvent(UINT event);
  // Delivers one agent message in chunks of at most chunkSize bytes (0: CHANNEL_CHUNK_LENGTH),
  // each announcing the total length: the message's own unless another total is given, as a
  // faulty client might announce it.
  void Deliver(std::string_view message, size_t chunkSize = CHANNEL_CHUNK_LENGTH,
               std::optional<UINT32> total = std::nullopt);
  void DeliverChunk(const void *data, UINT32 length, UINT32 totalLength, UINT32 flags);
  void OpenEvent(UINT event, LPVOID data, UINT32 length, UINT32 total, UINT32 flags);
  // Reports an outstanding write (by its user data) complete or cancelled; forgets it.
  void Complete(LPVOID userData);
  void Cancel(LPVOID userData);
  // Reports every outstanding write complete, newest first.
  void CompleteAll();

  // The client's functions (public so tools can hand them out).
  static UINT VCAPITYPE Init(LPVOID *initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                             PCHANNEL_INIT_EVENT_FN proc);
  static UINT VCAPITYPE Open(LPVOID initHandle, LPDWORD openHandle, PCHAR name, PCHANNEL_OPEN_EVENT_FN proc);
  static UINT VCAPITYPE Close(DWORD openHandle);
  static UINT VCAPITYPE WriteFn(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);

 private:
  StandInClient() = default;
  void Finish(LPVOID userData, UINT event);

  HMODULE module_ = nullptr;
  PVIRTUALCHANNELENTRY entry_ = nullptr;
  std::string error_;
  char initHandleStorage_ = 0;
  std::atomic<DWORD> openHandle_{0};  // 0 while the channel is not open
  // The open-event procedure of the latest open; events may be delivered from any thread.
  std::atomic<PCHANNEL_OPEN_EVENT_FN> openProc_{nullptr};
  std::mutex lock_;
  std::vector<Write> writes_;
  std::vector<Write> outstanding_;
};

}  // namespace testkit
