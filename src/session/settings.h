// Settings: Language.ini beside the host executable and the display mode in the registry.
#pragma once

// 0: the host frame is shown only through the remote windows' shapes; 2: with caption; any other
// value: without caption.
int GetDisplayMode();
void SetDisplayMode(int mode);

// At library attach: reads RegistryPath from Language.ini and WindowDisplayMode from the registry.
void LoadDisplaySettings();
// "<directory of the host executable>\Language.ini", in a process-wide buffer.
const char *GetLanguageIniPath();
// The value from the file with \n and \t expanded, or the default exactly as given.
const char *ReadIniSetting(const char *section, const char *key, const char *defaultValue, const char *file);
// Loads the host frame window's title once (kept while non-empty) and returns it.
const char *LoadHostAppName();
