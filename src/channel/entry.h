// The add-in's contact with the Remote Desktop client: the export, the channel event procedures,
// and the channel state the write queue needs.
#pragma once

#include <windows.h>
#include <cchannel.h>

#ifdef _WIN32
#define QUORV_EXPORT  // quorv-x86.def and quorv-x64.def export the entry point undecorated
#else
#define QUORV_EXPORT WINSIM_EXPORT
#endif

typedef void (*ChannelDataHandler)(const void *data, UINT32 length, UINT32 totalLength);

void SetChannelDataHandler(ChannelDataHandler handler);

// State read by the write queue.
DWORD ChannelOpenHandle();
PVIRTUALCHANNELWRITE ChannelWriteFunction();

// The write lock "Local\WriteLock" around the pending-write list. Acquire takes it where it
// exists (between connect and termination) and always excludes the other threads of this
// process, so termination never closes the handle while a writer waits on it or holds it.
void AcquireWriteLock();
void ReleaseWriteLock();

extern "C" QUORV_EXPORT BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS entryPoints);
