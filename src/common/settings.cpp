#include "common/settings.h"

#include "common/handles.h"

#include <cstdio>
#include <cstring>

namespace {

DisplayMode g_displayMode = DisplayMode::kShaped;
char g_registryPath[512];
char g_appName[256];
char g_iniPath[1024];
char g_settingValue[1024];

// "tamberlyn" and the three characters for "client", in code page 936.
const char kDefaultAppName[] = "tamberlyn\xBF\xCD\xBB\xA7\xB6\xCB";
const char kDefaultRegistryPath[] = "SOFTWARE\\quorv\\tamberlyn\\Client";

// Replaces every two-character sequence backslash + escape by one character, left to right.
void Expand(char *text, char escape, char replacement) {
  char *out = text;
  for (const char *in = text; *in;) {
    if (in[0] == '\\' && in[1] == escape) {
      *out++ = replacement;
      in += 2;
    } else {
      *out++ = *in++;
    }
  }
  *out = 0;
}

}  // namespace

DisplayMode DisplayModeFromSetting(DWORD value) {
  if (value == 0) return DisplayMode::kShaped;
  if (value == 2) return DisplayMode::kWithCaption;
  return DisplayMode::kNoCaption;
}

DisplayMode GetDisplayMode() { return g_displayMode; }
void SetDisplayMode(DisplayMode mode) { g_displayMode = mode; }

const char *GetLanguageIniPath() {
  char exePath[256] = {};
  GetModuleFileNameA(nullptr, exePath, 256);
  exePath[255] = 0;
  char *slash = strrchr(exePath, '\\');
  if (slash)
    *slash = 0;
  else
    exePath[0] = 0;
  snprintf(g_iniPath, sizeof g_iniPath, "%s\\Language.ini", exePath);
  return g_iniPath;
}

const char *ReadIniSetting(const char *section, const char *key, const char *defaultValue, const char *file) {
  memset(g_settingValue, 0, sizeof g_settingValue);
  // Asked without a default, so that a copied value is known to come from the file: escapes are
  // expanded in what the file says, never in the default (whose backslashes are path separators).
  const DWORD copied = GetPrivateProfileStringA(section, key, "", g_settingValue, sizeof g_settingValue, file);
  if (copied == 0) return defaultValue;
  Expand(g_settingValue, 'n', '\n');
  Expand(g_settingValue, 't', '\t');
  return g_settingValue;
}

void LoadDisplaySettings() {
  g_displayMode = DisplayMode::kShaped;
  memset(g_registryPath, 0, sizeof g_registryPath);
  const char *path = ReadIniSetting("Registry", "RegistryPath", kDefaultRegistryPath, GetLanguageIniPath());
  strncpy(g_registryPath, path, sizeof g_registryPath - 1);

  char keyPath[sizeof g_registryPath + sizeof "\\LocalInput"];
  snprintf(keyPath, sizeof keyPath, "%s\\LocalInput", g_registryPath);
  UniqueRegKey key;
  // Read access only: a standard user cannot open a key under HKEY_LOCAL_MACHINE for more. The
  // 32-bit view, where a 32-bit installer writes, on both builds: the 64-bit add-in reads the same
  // value as the 32-bit one (the flag changes nothing for a 32-bit process).
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()) != ERROR_SUCCESS)
    return;
  DWORD value = 1;  // the key without the value
  DWORD size = sizeof value;
  DWORD type = 0;
  RegQueryValueExA(key.get(), "WindowDisplayMode", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  g_displayMode = DisplayModeFromSetting(value);
}

const char *LoadHostAppName() {
  if (g_appName[0]) return g_appName;
  char path[2048 + sizeof "Language.ini"] = {};
  GetModuleFileNameA(nullptr, path, 2048);
  path[2047] = 0;
  char *slash = strrchr(path, '\\');
  if (slash)
    slash[1] = 0;
  else
    path[0] = 0;
  strcat(path, "Language.ini");
  memset(g_appName, 0, sizeof g_appName);
  GetPrivateProfileStringA("GLOBAL", "AppName", kDefaultAppName, g_appName, sizeof g_appName, path);
  return g_appName;
}
