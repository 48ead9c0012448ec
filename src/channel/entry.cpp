// The export and the channel event procedures.
#include "channel/entry.h"

#include "channel/write_queue.h"
#include "common/debug_log.h"

#include <atomic>
#include <cstring>

namespace {

CHANNEL_ENTRY_POINTS g_entryPoints = {};
LPVOID g_initHandle = nullptr;
std::atomic<ChannelDataHandler> g_dataHandler{nullptr};
std::atomic<ChannelResetHandler> g_resetHandler{nullptr};

char g_channelName[CHANNEL_NAME_LEN + 1] = "_quorv_";

void ResetReceivedMessage() {
  if (ChannelResetHandler reset = g_resetHandler.load()) reset();
}

void VCAPITYPE ChannelOpenEventProc(DWORD, UINT event, LPVOID data, UINT32 dataLength, UINT32 totalLength,
                                    UINT32) noexcept {
  switch (event) {
    case CHANNEL_EVENT_DATA_RECEIVED:
      if (ChannelDataHandler handler = g_dataHandler.load()) handler(data, dataLength, totalLength);
      break;
    case CHANNEL_EVENT_WRITE_COMPLETE:
    case CHANNEL_EVENT_WRITE_CANCELLED:
      ReleasePendingWrite(data);
      break;
    default:
      break;
  }
}

void Connect(LPVOID initHandle) {
  // Whatever was collected of a message on the old connection can never be completed.
  ResetReceivedMessage();
  if (!CreateWriteLock()) return;
  if (!g_entryPoints.pVirtualChannelOpen) return;
  DWORD openHandle = 0;
  UINT result = g_entryPoints.pVirtualChannelOpen(initHandle, &openHandle, g_channelName, ChannelOpenEventProc);
  if (result == CHANNEL_RC_ALREADY_OPEN) {
    // FreeRDP keeps a connection's channel open through a disconnection and refuses to open it
    // again on the next connect: the old handle is closed and the channel opened anew, or nothing
    // the add-in writes would reach the new connection.
    const DWORD stale = StopWrites();
    if (stale && g_entryPoints.pVirtualChannelClose) g_entryPoints.pVirtualChannelClose(stale);
    openHandle = 0;
    result = g_entryPoints.pVirtualChannelOpen(initHandle, &openHandle, g_channelName, ChannelOpenEventProc);
  }
  if (result != CHANNEL_RC_OK) openHandle = 0;
  OpenWriteQueue(openHandle, g_entryPoints.pVirtualChannelWrite);
}

void Terminate() {
  LogDebug("CHANNEL_EVENT_TERMINATED!!!\n");
  const DWORD openHandle = StopWrites();
  if (g_entryPoints.pVirtualChannelClose) g_entryPoints.pVirtualChannelClose(openHandle);
  CloseWriteQueue();
  ResetReceivedMessage();
}

void VCAPITYPE ChannelInitEventProc(LPVOID initHandle, UINT event, LPVOID, UINT) noexcept {
  switch (event) {
    case CHANNEL_EVENT_CONNECTED:
      Connect(initHandle);
      break;
    case CHANNEL_EVENT_TERMINATED:
      Terminate();
      break;
    default:  // initialized, V1 connected, disconnected and unknown events change nothing
      break;
  }
}

// FreeRDP's clients pass a larger structure of their own: the standard entry points, then a
// 32-bit magic number ("FRDP") and fields of their own.
bool IsFreeRdpClient(const CHANNEL_ENTRY_POINTS *entryPoints) {
  constexpr UINT32 kFreeRdpMagicNumber = 0x46524450;
  constexpr size_t kMagicOffset = sizeof(CHANNEL_ENTRY_POINTS);
  if (entryPoints->cbSize < kMagicOffset + sizeof(UINT32)) return false;
  UINT32 magic = 0;
  memcpy(&magic, reinterpret_cast<const char *>(entryPoints) + kMagicOffset, sizeof magic);
  return magic == kFreeRdpMagicNumber;
}

}  // namespace

void SetChannelDataHandler(ChannelDataHandler data, ChannelResetHandler reset) {
  g_dataHandler.store(data);
  g_resetHandler.store(reset);
}

extern "C" QUORV_EXPORT BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS entryPoints) noexcept {
  if (!entryPoints || !entryPoints->pVirtualChannelInit) return FALSE;
  CHANNEL_DEF channel = {};
  memcpy(channel.name, g_channelName, sizeof channel.name);
  channel.options = 0;
  if (entryPoints->pVirtualChannelInit(&g_initHandle, &channel, 1, VIRTUAL_CHANNEL_VERSION_WIN2000,
                                       ChannelInitEventProc) != CHANNEL_RC_OK)
    return FALSE;
  // FreeRDP registers the channel but leaves the options at 0; every other client must mark it.
  const bool registered = channel.options == CHANNEL_OPTION_INITIALIZED ||
                          (channel.options == 0 && IsFreeRdpClient(entryPoints));
  if (!registered) return FALSE;
  g_entryPoints = *entryPoints;
  return TRUE;
}
