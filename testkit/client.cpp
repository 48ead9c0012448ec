#include "client.h"

#include "skewed_stack.h"

#include <algorithm>

namespace testkit {

StandInClient &StandInClient::Get() {
  static StandInClient client;
  return client;
}

bool StandInClient::Load(const char *module) {
  module_ = LoadLibraryA(module);
  if (!module_) {
    error_ = std::string("LoadLibraryA(") + module + ") failed, error " + std::to_string(GetLastError());
    return false;
  }
  // Through void*: GetProcAddress's type says nothing of the function's real signature.
  entry_ =
      reinterpret_cast<PVIRTUALCHANNELENTRY>(reinterpret_cast<void *>(GetProcAddress(module_, "VirtualChannelEntry")));
  if (!entry_) {
    error_ = "the module exports no VirtualChannelEntry";
    FreeLibrary(module_);
    module_ = nullptr;
    return false;
  }
  return true;
}

void StandInClient::Unload() {
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
  entry_ = nullptr;
  openHandle_ = 0;
  openProc_ = nullptr;
  initCalls.clear();
  openCalls.clear();
  closeCalls.clear();
  refuseOpenWhileOpen = false;
  ClearWrites();
}

namespace {

// FreeRDP's entry points: the standard structure, then fields of its own after a magic number.
struct FreeRdpEntryPoints {
  CHANNEL_ENTRY_POINTS standard;
  UINT32 magicNumber;
  void *extendedData;
  void *callbackInterface;
  void **callbackInterfaceAddress;
  void *context;
};
constexpr UINT32 kFreeRdpMagicNumber = 0x46524450;  // "FRDP"

#if defined(__i386__)
std::uintptr_t Arg(const void *pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }
#endif

}  // namespace

BOOL StandInClient::CallEntry() {
  if (!entry_) return FALSE;
  FreeRdpEntryPoints extended = {};
  CHANNEL_ENTRY_POINTS &points = extended.standard;
  points.cbSize = presentAsFreeRdp ? sizeof extended : sizeof points;
  points.protocolVersion = VIRTUAL_CHANNEL_VERSION_WIN2000;
  points.pVirtualChannelInit = Init;
  points.pVirtualChannelOpen = Open;
  points.pVirtualChannelClose = Close;
  points.pVirtualChannelWrite = WriteFn;
  if (presentAsFreeRdp) extended.magicNumber = kFreeRdpMagicNumber;
#if defined(__i386__)
  if (stackSkew)
    return static_cast<BOOL>(CallOnSkewedStack(reinterpret_cast<const void *>(entry_), {Arg(&points)}, stackSkew));
#endif
  return entry_(&points);
}

BOOL StandInClient::CallEntryAndConnect() {
  if (!CallEntry()) return FALSE;
  Initialized();
  Connect();
  return TRUE;
}

UINT VCAPITYPE StandInClient::Init(LPVOID *initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                                   PCHANNEL_INIT_EVENT_FN proc) {
  StandInClient &c = Get();
  InitCall call;
  for (INT i = 0; channels && i < count && i < CHANNEL_MAX_COUNT; ++i) call.channels.push_back(channels[i]);
  call.channelCount = count;
  call.version = version;
  call.initProc = proc;
  c.initCalls.push_back(call);
  if (c.initResult != CHANNEL_RC_OK) return c.initResult;
  if (initHandle) *initHandle = c.initHandle();
  for (INT i = 0; channels && i < count; ++i) channels[i].options = c.optionsOnReturn;
  return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::Open(LPVOID initHandle, LPDWORD openHandle, PCHAR name, PCHANNEL_OPEN_EVENT_FN proc) {
  StandInClient &c = Get();
  c.openCalls.push_back(OpenCall{initHandle, name ? name : "", proc});
  if (c.refuseOpenWhileOpen && c.openHandle_ != 0) return CHANNEL_RC_ALREADY_OPEN;
  c.openProc_ = proc;
  if (c.openResult != CHANNEL_RC_OK) return c.openResult;
  c.openHandle_ = c.openHandleToGive;
  if (openHandle) *openHandle = c.openHandleToGive;
  return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::Close(DWORD openHandle) {
  StandInClient &c = Get();
  c.closeCalls.push_back(openHandle);
  if (openHandle == 0 || openHandle != c.openHandle_) return CHANNEL_RC_BAD_CHANNEL_HANDLE;
  c.openHandle_ = 0;
  return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::WriteFn(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
  StandInClient &c = Get();
  if (!data) return CHANNEL_RC_NULL_DATA;
  if (length == 0) return CHANNEL_RC_ZERO_LENGTH;
  bool completeNow = false;
  {
    std::lock_guard<std::mutex> guard(c.lock_);
    if (c.writeResult != CHANNEL_RC_OK) return c.writeResult;
    if (openHandle == 0 || openHandle != c.openHandle_) return CHANNEL_RC_BAD_CHANNEL_HANDLE;
    Write w{openHandle, std::string(static_cast<const char *>(data), length), userData};
    c.writes_.push_back(w);
    c.outstanding_.push_back(w);
    completeNow = c.completeWritesAtOnce;
  }
  if (completeNow) c.Complete(userData);
  return CHANNEL_RC_OK;
}

std::vector<StandInClient::Write> StandInClient::Writes() {
  std::lock_guard<std::mutex> guard(lock_);
  return writes_;
}

std::vector<StandInClient::Write> StandInClient::Outstanding() {
  std::lock_guard<std::mutex> guard(lock_);
  return outstanding_;
}

std::vector<std::string> StandInClient::Sent() {
  std::vector<std::string> texts;
  for (const Write &w : Writes()) {
    std::string t = w.bytes;
    if (!t.empty() && t.back() == '\n') t.pop_back();
    texts.push_back(t);
  }
  return texts;
}

void StandInClient::ClearWrites() {
  std::lock_guard<std::mutex> guard(lock_);
  writes_.clear();
  outstanding_.clear();
}

void StandInClient::InitEvent(UINT event) {
  if (initCalls.empty() || !initCalls.back().initProc) return;
  const PCHANNEL_INIT_EVENT_FN proc = initCalls.back().initProc;
#if defined(__i386__)
  if (stackSkew) {
    CallOnSkewedStack(reinterpret_cast<const void *>(proc), {Arg(initHandle()), event, 0, 0}, stackSkew);
    return;
  }
#endif
  proc(initHandle(), event, nullptr, 0);
}

void StandInClient::Initialized() { InitEvent(CHANNEL_EVENT_INITIALIZED); }
void StandInClient::Connect() { InitEvent(CHANNEL_EVENT_CONNECTED); }
void StandInClient::Disconnect() { InitEvent(CHANNEL_EVENT_DISCONNECTED); }

void StandInClient::Terminate() {
  InitEvent(CHANNEL_EVENT_TERMINATED);
  // The client cancels what it had not sent; the add-in has already let go of those writes.
  std::vector<Write> left;
  {
    std::lock_guard<std::mutex> guard(lock_);
    left.swap(outstanding_);
  }
  for (const Write &w : left) OpenEvent(CHANNEL_EVENT_WRITE_CANCELLED, w.userData, 0, 0, 0);
}

void StandInClient::OpenEvent(UINT event, LPVOID data, UINT32 length, UINT32 total, UINT32 flags) {
  const PCHANNEL_OPEN_EVENT_FN proc = openProc_.load();
  if (!proc) return;
#if defined(__i386__)
  if (stackSkew) {
    CallOnSkewedStack(reinterpret_cast<const void *>(proc), {openHandleToGive, event, Arg(data), length, total, flags},
                      stackSkew);
    return;
  }
#endif
  proc(openHandleToGive, event, data, length, total, flags);
}

void StandInClient::DeliverChunk(const void *data, UINT32 length, UINT32 totalLength, UINT32 flags) {
  OpenEvent(CHANNEL_EVENT_DATA_RECEIVED, const_cast<void *>(data), length, totalLength, flags);
}

void StandInClient::Deliver(std::string_view message, size_t chunkSize, std::optional<UINT32> announced) {
  if (chunkSize == 0) chunkSize = CHANNEL_CHUNK_LENGTH;
  const UINT32 total = announced.value_or(static_cast<UINT32>(message.size()));
  if (message.empty()) {
    DeliverChunk("", 0, total, CHANNEL_FLAG_ONLY);
    return;
  }
  for (size_t offset = 0; offset < message.size(); offset += chunkSize) {
    const size_t n = std::min(chunkSize, message.size() - offset);
    UINT32 flags = (offset == 0 ? CHANNEL_FLAG_FIRST : 0) | (offset + n == message.size() ? CHANNEL_FLAG_LAST : 0);
    // Each chunk in a buffer of its own, as the client hands them out.
    std::string chunk(message.substr(offset, n));
    DeliverChunk(chunk.data(), static_cast<UINT32>(n), total, flags);
  }
}

void StandInClient::Finish(LPVOID userData, UINT event) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it =
        std::find_if(outstanding_.begin(), outstanding_.end(), [&](const Write &w) { return w.userData == userData; });
    if (it != outstanding_.end()) outstanding_.erase(it);
  }
  OpenEvent(event, userData, 0, 0, 0);
}

void StandInClient::Complete(LPVOID userData) { Finish(userData, CHANNEL_EVENT_WRITE_COMPLETE); }
void StandInClient::Cancel(LPVOID userData) { Finish(userData, CHANNEL_EVENT_WRITE_CANCELLED); }

void StandInClient::CompleteAll() {
  std::vector<Write> left = Outstanding();
  for (auto it = left.rbegin(); it != left.rend(); ++it) Complete(it->userData);
}

}  // namespace testkit
