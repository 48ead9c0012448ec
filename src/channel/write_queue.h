// Outgoing messages to the agent: framing, numbering, the pending-write list and its lock. The
// queue owns the channel's open handle and the client's write function while the channel is open.
#pragma once

#include <windows.h>
#include <cchannel.h>

#include "common/debug_log.h"

// Connect: makes the write lock "Local\WriteLock" (a reconnect keeps the one it has). False when
// it cannot be made: the channel is then not opened.
bool CreateWriteLock();
// The channel was opened (openHandle 0: opening failed): writes go to it through write.
void OpenWriteQueue(DWORD openHandle, PVIRTUALCHANNELWRITE write);
// Termination, first step: no write goes out any more. Returns the open handle, for closing.
DWORD StopWrites();
// Termination, last step (and library unload): frees every pending write and closes the lock.
void CloseWriteQueue();

// Sends one message "keyword,counter,payload\n" to the agent. The frame is cut to 1399 characters.
void SendAgentMessage(const char *keyword, const char *format, ...) QUORV_PRINTF(2, 3);

// A write the client reports completed or cancelled; userData is what the queue gave the client.
void ReleasePendingWrite(void *userData);

// For tests and diagnostics: the number of writes still pending.
unsigned PendingWriteCount();
