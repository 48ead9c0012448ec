#include "channel/write_queue.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>

namespace {

const char kWriteLockName[] = "Local\\WriteLock";

std::atomic<DWORD> g_openHandle{0};
std::atomic<PVIRTUALCHANNELWRITE> g_channelWrite{nullptr};

// The handle of "Local\WriteLock" is used only under g_writeLockUse: closed under a thread that
// waits on it, the wait would go on and its release fail, leaving the mutex owned for good.
std::mutex g_writeLockUse;
HANDLE g_writeLock = nullptr;
bool g_writeLockHeld = false;

// Takes the write lock where it exists (between connect and termination) and always excludes the
// other threads of this process, so termination never closes the handle while a writer waits on
// it or holds it.
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

struct PendingWrite {
  std::string text;  // the frame with its line end, handed to the client in place
  UINT32 sequence = 0;
};

// Guarded by the write lock. Entries are shared so that a write being handed to the client stays
// alive until the client call returns, even if termination empties the list meanwhile.
std::list<std::shared_ptr<PendingWrite>> g_pendingWrites;
UINT32 g_writeSequence = 0;

std::atomic<UINT32> g_messageCounter{0};

constexpr size_t kFrameSize = 1400;

// Queues one frame (without line end) and hands it to the client.
void WriteToChannel(const char *text) {
  const DWORD openHandle = g_openHandle.load();
  if (openHandle == 0) return;

  std::shared_ptr<PendingWrite> write;
  try {
    write = std::make_shared<PendingWrite>();
    write->text = text;
    write->text += '\n';
  } catch (const std::bad_alloc &) {
    return;
  }

  AcquireWriteLock();
  bool queued = true;
  try {
    write->sequence = ++g_writeSequence;
    g_pendingWrites.push_back(write);
  } catch (const std::bad_alloc &) {
    queued = false;
  }
  ReleaseWriteLock();
  if (!queued) return;

  LogDebug("%s", text);
  LogDebug("\nSEND \n\n");

  PVIRTUALCHANNELWRITE channelWrite = g_channelWrite.load();
  UINT result = channelWrite ? channelWrite(openHandle, write->text.data(), static_cast<ULONG>(write->text.size()),
                                            &write->sequence)
                             : CHANNEL_RC_NOT_INITIALIZED;
  // A refused write never completes: release it now rather than keep it until termination.
  if (result != CHANNEL_RC_OK) ReleasePendingWrite(&write->sequence);
}

}  // namespace

void SendAgentMessage(const char *keyword, const char *format, ...) {
  const UINT32 counter = g_messageCounter.fetch_add(1, std::memory_order_relaxed);
  char frame[kFrameSize];
  int prefix = snprintf(frame, sizeof frame, "%s,%u,", keyword, static_cast<unsigned>(counter));
  if (prefix < 0) return;
  if (prefix > static_cast<int>(kFrameSize) - 1) prefix = kFrameSize - 1;
  va_list args;
  va_start(args, format);
  vsnprintf(frame + prefix, sizeof frame - static_cast<size_t>(prefix), format, args);
  va_end(args);
  WriteToChannel(frame);
}

void ReleasePendingWrite(void *userData) {
  AcquireWriteLock();
  // Only addresses the queue gave out are matched, so a completion for a released or unknown
  // write reads nothing.
  for (auto it = g_pendingWrites.begin(); it != g_pendingWrites.end(); ++it) {
    if (&(*it)->sequence == userData) {
      g_pendingWrites.erase(it);
      break;
    }
  }
  ReleaseWriteLock();
}

bool CreateWriteLock() {
  std::lock_guard<std::mutex> use(g_writeLockUse);
  // A reconnect keeps the handle of the first connect instead of opening (and leaking) another.
  if (!g_writeLock) g_writeLock = CreateMutexA(nullptr, FALSE, kWriteLockName);
  return g_writeLock != nullptr;
}

void OpenWriteQueue(DWORD openHandle, PVIRTUALCHANNELWRITE write) {
  g_channelWrite.store(write);
  g_openHandle.store(openHandle);
}

DWORD StopWrites() { return g_openHandle.exchange(0); }

void CloseWriteQueue() {
  AcquireWriteLock();
  // Entries a writer is still handing to the client stay alive in its hands until the call returns.
  g_pendingWrites.clear();
  ReleaseWriteLock();
  std::lock_guard<std::mutex> use(g_writeLockUse);
  if (g_writeLock) CloseHandle(g_writeLock);
  g_writeLock = nullptr;
}

unsigned PendingWriteCount() {
  AcquireWriteLock();
  const unsigned count = static_cast<unsigned>(g_pendingWrites.size());
  ReleaseWriteLock();
  return count;
}
