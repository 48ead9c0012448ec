// The add-in's contact with the Remote Desktop client: the export and the channel event
// procedures. Received chunks go to the data handler the library's set-up gives it; the channel
// knows nothing above it.
#pragma once

#include <windows.h>
#include <cchannel.h>

#ifdef _WIN32
#define QUORV_EXPORT  // quorv-x86.def and quorv-x64.def export the entry point undecorated
#else
#define QUORV_EXPORT WINSIM_EXPORT
#endif

// One received chunk of a message whose whole length is totalLength.
typedef void (*ChannelDataHandler)(const void *data, UINT32 length, UINT32 totalLength);
// The channel (re)connected or terminated: a message cut short by the old connection is void.
typedef void (*ChannelResetHandler)();

void SetChannelDataHandler(ChannelDataHandler data, ChannelResetHandler reset);

extern "C" QUORV_EXPORT BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS entryPoints) noexcept;
