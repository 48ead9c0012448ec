// Settings: Language.ini beside the host executable (host title, registry path) and the display
// mode under HKEY_LOCAL_MACHINE.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/settings.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr char kDefaultPath[] = "SOFTWARE\\quorv\\tamberlyn\\Client";
// Where a 32-bit installer writes the display mode, and where both builds read it.
constexpr REGSAM kInstallerView = KEY_WOW64_32KEY;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    winsim::SetModuleFileName("C:\\quorvhost\\quorv-host.exe");
#endif
    char path[1024] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string exe(path);
    iniPath_ = exe.substr(0, exe.rfind('\\')) + "\\Language.ini";
    remove(iniPath_.c_str());
  }
  void TearDown() override {
    remove(iniPath_.c_str());
    for (auto it = keys_.rbegin(); it != keys_.rend(); ++it)
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, it->c_str(), kInstallerView, 0);
  }

  void WriteIni(const std::string &content) {
    std::ofstream file(iniPath_, std::ios::binary | std::ios::trunc);
    file << content;
  }
  // HKLM\<path>\LocalInput with WindowDisplayMode = value (value < 0: the key without the value),
  // in the view a 32-bit installer writes to.
  void SetMode(const std::string &path, int value) {
    std::string full;
    size_t start = 0;
    const std::string whole = path + "\\LocalInput";
    while (start <= whole.size()) {
      size_t end = whole.find('\\', start);
      if (end == std::string::npos) end = whole.size();
      full = whole.substr(0, end);
      HKEY probe = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_QUERY_VALUE | kInstallerView, &probe) == ERROR_SUCCESS)
        RegCloseKey(probe);
      else if (std::find(keys_.begin(), keys_.end(), full) == keys_.end())
        keys_.push_back(full);
      start = end + 1;
    }
    if (value < 0) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, whole.c_str(), kInstallerView, 0);  // anew, without the value
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, whole.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS | kInstallerView, nullptr, &key, nullptr));
    if (value >= 0) {
      const DWORD data = static_cast<DWORD>(value);
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "WindowDisplayMode", 0, REG_DWORD,
                                              reinterpret_cast<const BYTE *>(&data), sizeof data));
    }
    RegCloseKey(key);
  }
  static int LoadedMode() {
    LoadDisplaySettings();
    return static_cast<int>(GetDisplayMode());
  }

  std::string iniPath_;
  std::vector<std::string> keys_;
};

TEST_F(SettingsTest, LanguageIniLiesBesideTheHostExecutable) {
  EXPECT_EQ(std::string(GetLanguageIniPath()), iniPath_);
#ifndef _WIN32
  struct Case {
    std::string exe, ini;
  };
  const std::string deep = "C:\\" + std::string(200, 'd') + "\\" + std::string(90, 'e') + "\\host.exe";
  const Case cases[] = {
      {"C:\\a.b\\c\\host.exe", "C:\\a.b\\c\\Language.ini"},
      {"host.exe", "\\Language.ini"},  // no directory: the name still begins with a backslash
      {"C:\\host.exe", "C:\\Language.ini"},
      // Only the first 255 characters of the path are looked at.
      {deep, "C:\\" + std::string(200, 'd') + "\\Language.ini"},
  };
  for (const Case &c : cases) {
    winsim::SetModuleFileName(c.exe.c_str());
    EXPECT_EQ(std::string(GetLanguageIniPath()), c.ini) << c.exe;
  }
#endif
}

TEST_F(SettingsTest, EscapesAreExpandedOnlyInWhatTheFileSays) {
  WriteIni(
      "[Registry]\r\n"
      "lf=a\\nb\r\n"
      "both=x\\ty\\nz\\t\r\n"
      "doubled=a\\\\nb\r\n"
      "others=\\q\\N\\T\\\r\n"
      "empty=\r\n"
      "long=" +
      std::string(1500, 'v') + "\r\n");
  const char *ini = GetLanguageIniPath();
  const std::string file(ini);
  EXPECT_STREQ(ReadIniSetting("Registry", "lf", "", file.c_str()), "a\nb");
  EXPECT_STREQ(ReadIniSetting("Registry", "both", "", file.c_str()), "x\ty\nz\t");
  EXPECT_STREQ(ReadIniSetting("Registry", "doubled", "", file.c_str()), "a\\\nb") << "left to right, no overlap";
  EXPECT_STREQ(ReadIniSetting("Registry", "others", "", file.c_str()), "\\q\\N\\T\\");
  EXPECT_EQ(std::string(ReadIniSetting("Registry", "long", "", file.c_str())), std::string(1023, 'v'));

  // Nothing copied: the default itself comes back, its backslashes untouched.
  const char fallback[] = "C:\\new\\table";
  EXPECT_EQ(ReadIniSetting("Registry", "empty", fallback, file.c_str()), fallback);
  EXPECT_EQ(ReadIniSetting("Registry", "missing", fallback, file.c_str()), fallback);
  EXPECT_EQ(ReadIniSetting("Nowhere", "lf", fallback, file.c_str()), fallback);
  remove(file.c_str());
  EXPECT_EQ(ReadIniSetting("Registry", "lf", fallback, file.c_str()), fallback);
  EXPECT_STREQ(fallback, "C:\\new\\table");
}

TEST_F(SettingsTest, TheDisplayModeIsReadUnderTheDefaultPath) {
  EXPECT_EQ(LoadedMode(), 0) << "no Language.ini, no key";
  SetMode(kDefaultPath, 2);
  EXPECT_EQ(LoadedMode(), 2) << "the default path is used as written";
  // What each value does to the host frame is the session tests' (TheRegistryModeDecides...).
  // A Language.ini without the entry, or with it empty, keeps the default path.
  SetMode(kDefaultPath, 2);
  WriteIni("[GLOBAL]\r\nAppName=x\r\n");
  EXPECT_EQ(LoadedMode(), 2);
  WriteIni("[Registry]\r\nRegistryPath=\r\n");
  EXPECT_EQ(LoadedMode(), 2);
  // The key gone: back to 0, whatever was read before.
  WriteIni("[Registry]\r\nRegistryPath=SOFTWARE\\quorvtest\\absent\r\n");
  EXPECT_EQ(LoadedMode(), 0);
#ifndef _WIN32
  // Read access is all it takes: a standard user, who may not open the key for writing, gets it.
  WriteIni("");
  remove(iniPath_.c_str());
  winsim::SetStandardUser(true);
  EXPECT_EQ(LoadedMode(), 2);
  winsim::SetStandardUser(false);
#endif
}

TEST_F(SettingsTest, TheRegistryPathFromLanguageIniHasItsEscapesExpanded) {
  WriteIni("[Registry]\r\nRegistryPath=SOFTWARE\\quorvtest\\n\\tail\r\n");
  SetMode("SOFTWARE\\quorvtest\n\tail", 2);
  SetMode("SOFTWARE\\quorvtest\\n\\tail", 1);
  EXPECT_EQ(LoadedMode(), 2);

#ifndef _WIN32
  // At most 511 characters of the path are kept. (Wine's ANSI registry functions take no path
  // longer than MAX_PATH, so this part runs on winsim only.)
  const std::string kept =
      "SOFTWARE\\quorvtest\\" + std::string(200, 'a') + "\\" + std::string(200, 'b') + "\\" + std::string(90, 'c');
  ASSERT_EQ(kept.size(), 511u);
  WriteIni("[Registry]\r\nRegistryPath=" + kept + "zzzz\r\n");
  SetMode(kept, 0);
  SetMode(kept + "zzzz", 1);
  EXPECT_EQ(LoadedMode(), 0) << "read from the key of the first 511 characters";
  SetMode(kept, 2);
  EXPECT_EQ(LoadedMode(), 2);
#endif
}

TEST_F(SettingsTest, TheHostTitleIsReadUnchangedAndKeptOnceItIsNotEmpty) {
  WriteIni("[GLOBAL]\r\nAppName=\r\n");
  EXPECT_STREQ(LoadHostAppName(), "") << "present but empty: empty, not the default";
  WriteIni("[GLOBAL]\r\nAppName=Remote\\nFrame\\t1\r\n");
  EXPECT_STREQ(LoadHostAppName(), "Remote\\nFrame\\t1") << "an empty title is read again; no escapes";
  WriteIni("[GLOBAL]\r\nAppName=Other\r\n");
  EXPECT_STREQ(LoadHostAppName(), "Remote\\nFrame\\t1") << "loaded once";
}

TEST_F(SettingsTest, WithoutLanguageIniTheHostTitleIsTheDefault) {
  EXPECT_STREQ(LoadHostAppName(), "tamberlyn\xBF\xCD\xBB\xA7\xB6\xCB");
  WriteIni("[GLOBAL]\r\nAppName=Later\r\n");
  EXPECT_STREQ(LoadHostAppName(), "tamberlyn\xBF\xCD\xBB\xA7\xB6\xCB");
}

}  // namespace
