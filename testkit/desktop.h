// What the programs that drive the add-in (tests, fuzzers, benchmarks, the stand-in host) set up
// and read on the local desktop: the folder of the executable, Language.ini beside it, a host
// frame window for the session start to find, and the add-in's local windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testkit {

// The folder of the running executable (GetModuleFileNameA without its last "\" part), or
// fallback when the name has no "\".
std::string ExecutableDirectory(const char *fallback = ".");

// Writes a Language.ini at path that names the host frame's title. False when it cannot be
// written.
bool WriteLanguageIni(const std::string &path, const char *appName);

// A visible top-level window of class frameClass titled title (10,10, 800x600) with a child of the
// "ATL:" class viewClass over it, and, with plainChild, an ordinary child ("status") of class
// frameClass along its bottom. Both classes are registered on the first call and take and drop
// the host's notifications (the WM_USER range). Null when the frame cannot be made.
HWND CreateHostFrame(const char *frameClass, const char *viewClass, const char *title, bool plainChild);

// The add-in's local windows: the top-level windows of its class, in enumeration order.
std::vector<HWND> LocalWindows();

}  // namespace testkit
