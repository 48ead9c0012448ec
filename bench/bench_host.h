// What every whole-add-in benchmark needs: a host frame window the session start finds, the
// add-in started and its channel connected through the stand-in client, and the agent messages of
// a recorded session. The same code drives the add-in linked in on winsim and the real DLL under
// Wine.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace quorvbench {

// The host frame's title that Language.ini names.
extern const char kHostTitle[];

// Writes Language.ini beside the host executable, makes the host frame window, starts the add-in
// (linked in: process attach and VirtualChannelEntry; otherwise LoadLibrary of quorv.dll) and
// connects the channel. Writes complete at once, as on a fast link. Once per process; false with
// the reason in *error.
bool StartAddin(std::string *error);

// One agent message in chunks of at most chunkSize bytes, as the client delivers it.
void Deliver(std::string_view message, size_t chunkSize = 1600);
// Runs what was posted to this thread's windows (the host frame's notifications, the add-in's own
// posts), as the host's message loop does, and forgets what the add-in wrote.
void Pump();

// The agent messages of an agent script (icons expanded into their parts), in order. baseDir is
// where the script's icon files are found. False with the reason in *error.
bool LoadSessionMessages(const std::string &scriptPath, const std::string &baseDir, std::vector<std::string> *messages,
                         std::string *error);

}  // namespace quorvbench
