// Settings: Language.ini beside the host executable and the display mode in the registry.
#pragma once

#include <windows.h>

// How the host frame window is shown once a session has started.
enum class DisplayMode {
  kShaped = 0,       // only through the remote windows' shapes, no caption, no taskbar button
  kNoCaption = 1,    // whole, without caption (every stored value other than 0 and 2)
  kWithCaption = 2,  // whole, with caption and taskbar button
};
// The stored setting as a mode: 0 and 2 are themselves, every other value is kNoCaption.
DisplayMode DisplayModeFromSetting(DWORD value);

DisplayMode GetDisplayMode();
void SetDisplayMode(DisplayMode mode);

// At library attach: reads RegistryPath from Language.ini and WindowDisplayMode from the registry.
void LoadDisplaySettings();
// "<directory of the host executable>\Language.ini", in a process-wide buffer.
const char *GetLanguageIniPath();
// The value from the file with \n and \t expanded, or the default exactly as given.
const char *ReadIniSetting(const char *section, const char *key, const char *defaultValue, const char *file);
// Loads the host frame window's title once (kept while non-empty) and returns it.
const char *LoadHostAppName();
