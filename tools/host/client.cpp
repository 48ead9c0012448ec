#include "client.h"

#include <algorithm>
#include <cstring>

#include "tray_view.h"

namespace host {

namespace {
const char kServerName[] = "quorv-host";

// Why LoadLibrary failed, in words: the user sees the path and what to do about it.
std::string LoadError(const std::string &path, DWORD code) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  std::string why;
  if (!exists && attributes != INVALID_FILE_ATTRIBUTES)
    why = "it is a folder, not a DLL";
  else if (!exists)
    why = "there is no such file";
  else if (code == ERROR_MOD_NOT_FOUND)
    why = "a DLL it needs is missing";
  else if (code == ERROR_BAD_EXE_FORMAT)
    why = sizeof(void *) == 8 ? "it is not a 64-bit DLL (the 32-bit quorv.dll goes with the 32-bit host)"
                              : "it is not a 32-bit DLL (the 64-bit quorv.dll goes with the 64-bit host, --x64)";
  else if (code == ERROR_ACCESS_DENIED)
    why = "access is denied";
  else if (code == ERROR_DLL_INIT_FAILED)
    why = "it failed to initialize";
  else
    why = "Windows error " + std::to_string(code);
  return "cannot load the add-in " + path + ": " + why;
}
}  // namespace

ChannelClient &ChannelClient::Get() {
  static ChannelClient client;
  return client;
}

bool ChannelClient::Load(const std::string &path, std::string *error) {
  module_ = LoadLibraryA(path.c_str());
  if (!module_) {
    *error = LoadError(path, GetLastError());
    return false;
  }
  // So that the host's strip can show the mirrored notification icons.
  WatchNotifyIcons(module_);
  auto entry =
      reinterpret_cast<PVIRTUALCHANNELENTRY>(reinterpret_cast<void *>(GetProcAddress(module_, "VirtualChannelEntry")));
  if (!entry) {
    *error = path + " exports no VirtualChannelEntry";
    Unload();
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = false;
  }
  if (!completer_.joinable()) completer_ = std::thread([this] { CompletionLoop(); });
  CHANNEL_ENTRY_POINTS points = {};
  points.cbSize = sizeof points;
  points.protocolVersion = VIRTUAL_CHANNEL_VERSION_WIN2000;
  points.pVirtualChannelInit = Init;
  points.pVirtualChannelOpen = Open;
  points.pVirtualChannelClose = Close;
  points.pVirtualChannelWrite = Write;
  if (!entry(&points) || !registered_) {
    *error = "VirtualChannelEntry of " + path + " did not register a channel";
    Unload();
    return false;
  }
  return true;
}

void ChannelClient::Unload() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (completer_.joinable()) completer_.join();
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
  ForgetNotifyIcons();
  initProc_ = nullptr;
  openProc_ = nullptr;
  openHandle_ = 0;
  registered_ = false;
}

UINT VCAPITYPE ChannelClient::Init(LPVOID *initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                                   PCHANNEL_INIT_EVENT_FN proc) {
  ChannelClient &c = Get();
  if (!initHandle || !channels || count <= 0 || count > CHANNEL_MAX_COUNT || !proc) return CHANNEL_RC_BAD_PROC;
  if (c.registered_) return CHANNEL_RC_ALREADY_INITIALIZED;
  (void)version;  // every version the add-ins ask for is served the same way
  *initHandle = &c.initHandleStorage_;
  for (INT i = 0; i < count; ++i) channels[i].options |= CHANNEL_OPTION_INITIALIZED;
  c.initProc_ = proc;
  c.registered_ = true;
  return CHANNEL_RC_OK;
}

UINT VCAPITYPE ChannelClient::Open(LPVOID initHandle, LPDWORD openHandle, PCHAR name, PCHANNEL_OPEN_EVENT_FN proc) {
  ChannelClient &c = Get();
  if (initHandle != &c.initHandleStorage_) return CHANNEL_RC_BAD_INIT_HANDLE;
  if (!openHandle || !name || !proc) return CHANNEL_RC_BAD_PROC;
  if (strncmp(name, "_quorv_", CHANNEL_NAME_LEN) != 0) return CHANNEL_RC_UNKNOWN_CHANNEL_NAME;
  if (c.openHandle_) return CHANNEL_RC_ALREADY_OPEN;
  c.openProc_ = proc;
  c.openHandle_ = c.nextOpenHandle_++;
  *openHandle = c.openHandle_;
  return CHANNEL_RC_OK;
}

UINT VCAPITYPE ChannelClient::Close(DWORD openHandle) {
  ChannelClient &c = Get();
  if (openHandle == 0 || openHandle != c.openHandle_) return CHANNEL_RC_BAD_CHANNEL_HANDLE;
  c.openHandle_ = 0;
  return CHANNEL_RC_OK;
}

UINT VCAPITYPE ChannelClient::Write(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
  ChannelClient &c = Get();
  if (!data) return CHANNEL_RC_NULL_DATA;
  if (length == 0) return CHANNEL_RC_ZERO_LENGTH;
  // The add-in keeps the buffer until the completion; what goes on the wire is read now.
  std::string_view text(static_cast<const char *>(data), length);
  if (openHandle == 0 || openHandle != c.openHandle_) {
    if (c.onWrite) c.onWrite(text, false);
    return CHANNEL_RC_NOT_CONNECTED;
  }
  if (c.onWrite) c.onWrite(text, true);
  {
    std::lock_guard<std::mutex> guard(c.lock_);
    c.pending_.emplace_back(GetTickCount64() + c.completionDelayMs, userData);
    ++c.inFlight_;
  }
  c.wake_.notify_all();
  return CHANNEL_RC_OK;
}

void ChannelClient::CompletionLoop() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    if (pending_.empty()) {
      if (stop_) return;
      wake_.wait(guard);
      continue;
    }
    const ULONGLONG now = GetTickCount64();
    const auto [due, userData] = pending_.front();
    if (due > now && !stop_) {
      wake_.wait_for(guard, std::chrono::milliseconds(due - now));
      continue;
    }
    pending_.pop_front();
    PCHANNEL_OPEN_EVENT_FN proc = openProc_;
    const DWORD handle = openHandle_;
    const bool cancelled = stop_ || handle == 0;
    guard.unlock();
    if (proc) proc(handle, cancelled ? CHANNEL_EVENT_WRITE_CANCELLED : CHANNEL_EVENT_WRITE_COMPLETE, userData, 0, 0, 0);
    guard.lock();
    --inFlight_;
    ++completed_;
    wake_.notify_all();
  }
}

void ChannelClient::WaitForCompletions() {
  std::unique_lock<std::mutex> guard(lock_);
  wake_.wait(guard, [this] { return inFlight_ == 0; });
}

void ChannelClient::InitEvent(UINT event, const char *data) {
  if (!initProc_) return;
  initProc_(&initHandleStorage_, event, const_cast<char *>(data), data ? static_cast<UINT>(strlen(data) + 1) : 0);
}

void ChannelClient::Initialized() { InitEvent(CHANNEL_EVENT_INITIALIZED, nullptr); }
void ChannelClient::Connect() {
  terminated_ = false;
  InitEvent(CHANNEL_EVENT_CONNECTED, kServerName);
}

void ChannelClient::Disconnect() {
  WaitForCompletions();
  InitEvent(CHANNEL_EVENT_DISCONNECTED, nullptr);
  // The connection's channel handles are gone; a reconnect opens the channel anew.
  openHandle_ = 0;
}

void ChannelClient::Terminate() {
  WaitForCompletions();
  InitEvent(CHANNEL_EVENT_TERMINATED, nullptr);
  openHandle_ = 0;
  terminated_ = true;
}

void ChannelClient::Deliver(std::string_view message, size_t chunkSize) {
  if (!openProc_ || !openHandle_) return;
  chunkSize = std::clamp<size_t>(chunkSize, 1, CHANNEL_CHUNK_LENGTH);
  const UINT32 total = static_cast<UINT32>(message.size());
  size_t offset = 0;
  do {
    const size_t n = std::min(chunkSize, message.size() - offset);
    UINT32 flags = (offset == 0 ? CHANNEL_FLAG_FIRST : 0) | (offset + n == message.size() ? CHANNEL_FLAG_LAST : 0);
    // Each chunk in a buffer of its own that lives only for the call, as the client hands them out.
    std::string chunk(message.substr(offset, n));
    openProc_(openHandle_, CHANNEL_EVENT_DATA_RECEIVED, chunk.data(), static_cast<UINT32>(n), total, flags);
    offset += n;
  } while (offset < message.size());
}

}  // namespace host
