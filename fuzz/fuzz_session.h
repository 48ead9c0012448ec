// What the whole-wire and window-procedure fuzzers share: the add-in linked into the fuzzer,
// attached and connected through the stand-in client as the Remote Desktop client would do it,
// with a host frame window for the session start to find, in a working folder of its own.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "client.h"

namespace quorvfuzz {

// Once per process: working folder, Language.ini, host frame, DllMain attach, entry, connect.
void StartAddin();
testkit::StandInClient &Client();

// Brings the process-wide state back to a known point before an input: no message half
// collected, the display mode chosen by the input, a fresh session (HELLO).
void BeginInput(int displayMode);
// After an input: another session start releases what the input made; the host frame's queue is
// pumped and the notification area (the shell's, outside the add-in) emptied. Then every kind of
// object must be back at the count it had after the first session start: growth across inputs
// is a finding.
void EndInput();

// One agent message, whole, in chunks of the given size.
void Deliver(std::string_view message, size_t chunkSize = 1600);

// Removes every icon from the notification area (the shell's, outside the add-in).
void ClearNotificationArea();

// Pumps this thread's queue (posts to the host frame, WM_CLOSE of orphaned windows).
void Pump();

}  // namespace quorvfuzz
