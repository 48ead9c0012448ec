// The export, the channel event procedures and the library's attach and detach.
#include "channel/entry.h"

#include "appearance/tray.h"
#include "channel/debug_log.h"
#include "channel/write_queue.h"
#include "mirror/create.h"
#include "mirror/window_data.h"
#include "protocol/dispatch.h"
#include "session/settings.h"

#include <atomic>
#include <mutex>
#include <cstring>

namespace {

CHANNEL_ENTRY_POINTS g_entryPoints = {};
LPVOID g_initHandle = nullptr;
std::atomic<DWORD> g_openHandle{0};
// The handle of "Local\WriteLock" is used only under g_writeLockUse: closed under a thread that
// waits on it, the wait would go on and its release fail, leaving the mutex owned for good.
std::mutex g_writeLockUse;
HANDLE g_writeLock = nullptr;
bool g_writeLockHeld = false;
std::atomic<ChannelDataHandler> g_dataHandler{nullptr};

char g_channelName[CHANNEL_NAME_LEN + 1] = "_quorv_";
const char kWriteLockName[] = "Local\\WriteLock";

void VCAPITYPE ChannelOpenEventProc(DWORD, UINT event, LPVOID data, UINT32 dataLength, UINT32 totalLength,
                                    UINT32) {
  try {
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
  } catch (...) {
    // Nothing may escape into the client; the message is lost.
  }
}

void Connect(LPVOID initHandle) {
  // A reconnect keeps the handle of the first connect instead of opening (and leaking) another.
  {
    std::lock_guard<std::mutex> use(g_writeLockUse);
    if (!g_writeLock) g_writeLock = CreateMutexA(nullptr, FALSE, kWriteLockName);
    if (!g_writeLock) return;
  }
  if (!g_entryPoints.pVirtualChannelOpen) return;
  DWORD openHandle = 0;
  if (g_entryPoints.pVirtualChannelOpen(initHandle, &openHandle, g_channelName, ChannelOpenEventProc) !=
      CHANNEL_RC_OK)
    openHandle = 0;
  g_openHandle.store(openHandle);
}

void CloseWriteLock() {
  std::lock_guard<std::mutex> use(g_writeLockUse);
  if (g_writeLock) CloseHandle(g_writeLock);
  g_writeLock = nullptr;
}

void Terminate() {
  LogDebug("CHANNEL_EVENT_TERMINATED!!!\n");
  if (g_entryPoints.pVirtualChannelClose) g_entryPoints.pVirtualChannelClose(g_openHandle.load());
  g_openHandle.store(0);
  DestroyAllPendingWrites();
  CloseWriteLock();
}

void VCAPITYPE ChannelInitEventProc(LPVOID initHandle, UINT event, LPVOID, UINT) {
  try {
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
  } catch (...) {
  }
}

}  // namespace

void SetChannelDataHandler(ChannelDataHandler handler) { g_dataHandler.store(handler); }
DWORD ChannelOpenHandle() { return g_openHandle.load(); }

void AcquireWriteLock() {
  g_writeLockUse.lock();
  if (g_writeLock) {
    // An abandoned mutex (its owner, another instance, ended while holding it) is ours now too.
    const DWORD result = WaitForSingleObject(g_writeLock, INFINITE);
    g_writeLockHeld = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
}

void ReleaseWriteLock() {
  if (g_writeLockHeld) ReleaseMutex(g_writeLock);
  g_writeLockHeld = false;
  g_writeLockUse.unlock();
}
PVIRTUALCHANNELWRITE ChannelWriteFunction() { return g_entryPoints.pVirtualChannelWrite; }

extern "C" QUORV_EXPORT BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS entryPoints) {
  try {
    if (!entryPoints || !entryPoints->pVirtualChannelInit) return FALSE;
    CHANNEL_DEF channel = {};
    memcpy(channel.name, g_channelName, sizeof channel.name);
    channel.options = 0;
    if (entryPoints->pVirtualChannelInit(&g_initHandle, &channel, 1, VIRTUAL_CHANNEL_VERSION_WIN2000,
                                         ChannelInitEventProc) != CHANNEL_RC_OK)
      return FALSE;
    if (channel.options != CHANNEL_OPTION_INITIALIZED) return FALSE;
    g_entryPoints = *entryPoints;
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

extern "C" QUORV_EXPORT BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      LogDebug("ATTACH!!!\n");
      SetChannelDataHandler(OnChannelData);
      LoadDisplaySettings();
    } else if (reason == DLL_PROCESS_DETACH) {
      LogDebug("DETACH!!!\n");
      // At process termination other threads and their windows may already be gone: leave the
      // window manager alone and let the process take everything with it.
      if (reserved) return TRUE;
      DestroyAllWindowData();
      UnregisterLocalWindowClass();
      DeleteAccumulatedShapeRegion();
      ResetTrayMirror();
      ResetMessageAssembly();
      DestroyAllPendingWrites();
      CloseWriteLock();
    }
  } catch (...) {
  }
  return TRUE;
}
