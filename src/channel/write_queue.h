// Outgoing messages to the agent: framing, numbering and the pending-write list.
#pragma once

#include <windows.h>

#include "channel/debug_log.h"

// Sends one message "keyword,counter,payload\n" to the agent. The frame is cut to 1399 characters.
void SendAgentMessage(const char *keyword, const char *format, ...) QUORV_PRINTF(2, 3);

// A write the client reports completed or cancelled; userData is what the queue gave the client.
void ReleasePendingWrite(void *userData);

// Channel termination: frees every pending write. Takes the lock when one exists.
void DestroyAllPendingWrites();

// For tests and diagnostics: the number of writes still pending.
unsigned PendingWriteCount();
