// quorv-setup-checks.dll: the installer's one custom action. It checks the public properties the
// administrator gives before anything is installed, and names the folder Language.ini goes to, so
// that a wrong value ends the installation with a message that says what is wrong (in the log of
// a silent installation too) and nothing half done.
//
// Properties read: WINDOWDISPLAYMODE, REGISTERALLUSERS, LANGUAGEINI (the file to install),
// HOSTPROGRAM (the host program beside which it goes), QUORV_SAVED_HOSTFOLDER (where an installed
// quorv put a Language.ini before).
// Property set: HOSTFOLDER (the host program's folder, ending in a backslash), which the MoveFile
// and RemoveFile rows of the package use.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace {

// The biggest Language.ini taken: the add-in reads two short entries from it.
constexpr ULONGLONG kMaxIniBytes = 1024 * 1024;

std::wstring Property(MSIHANDLE install, const wchar_t *name) {
  DWORD size = 0;
  wchar_t empty[1] = {};
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return std::wstring();
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return std::wstring();
  value.resize(size);
  return value;
}

// Ends the installation with TEXT in the log (and in a message box when there is a user
// interface). Windows Installer then rolls back: nothing of this installation stays.
UINT Fail(MSIHANDLE install, const std::wstring &text) {
  const std::wstring full = L"quorv: " + text + L" Nothing was installed.";
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, full.c_str());
  MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK), record);
  MsiCloseHandle(record);
  return ERROR_INSTALL_FAILURE;
}

// What PATH is: 0 missing, 1 a file, 2 a folder.
int Kind(const std::wstring &path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}

bool SameFolder(std::wstring a, std::wstring b) {
  if (a.empty() || b.empty()) return false;
  if (a.back() != L'\\') a += L'\\';
  if (b.back() != L'\\') b += L'\\';
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

extern "C" UINT __stdcall CheckProperties(MSIHANDLE install) {
  const std::wstring mode = Property(install, L"WINDOWDISPLAYMODE");
  if (!mode.empty() && mode != L"0" && mode != L"1" && mode != L"2")
    return Fail(install, L"WINDOWDISPLAYMODE must be 0, 1 or 2 (or not given), not '" + mode + L"'.");
  const std::wstring allUsers = Property(install, L"REGISTERALLUSERS");
  if (!allUsers.empty() && allUsers != L"0" && allUsers != L"1")
    return Fail(install, L"REGISTERALLUSERS must be 1 (all users, the default) or 0 (the installing user), not '" +
                             allUsers + L"'.");

  const std::wstring ini = Property(install, L"LANGUAGEINI");
  const std::wstring host = Property(install, L"HOSTPROGRAM");
  if (ini.empty() && host.empty()) return ERROR_SUCCESS;  // no Language.ini: nothing to check
  if (ini.empty())
    return Fail(install, L"HOSTPROGRAM=" + host + L" was given without LANGUAGEINI, the file to put beside it.");
  if (host.empty())
    return Fail(install, L"LANGUAGEINI=" + ini +
                             L" was given without HOSTPROGRAM, the host program (its .exe) beside which it goes.");

  switch (Kind(ini)) {
    case 0: return Fail(install, L"the Language.ini to install, LANGUAGEINI=" + ini + L", does not exist.");
    case 2: return Fail(install, L"LANGUAGEINI=" + ini + L" is a folder; name the Language.ini file itself.");
  }
  const HANDLE file = CreateFileW(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return Fail(install, L"LANGUAGEINI=" + ini + L" cannot be read (error " + std::to_wstring(GetLastError()) + L").");
  LARGE_INTEGER size = {};
  const bool sized = GetFileSizeEx(file, &size);
  CloseHandle(file);
  if (!sized || static_cast<ULONGLONG>(size.QuadPart) > kMaxIniBytes)
    return Fail(install, L"LANGUAGEINI=" + ini + L" is larger than 1 MB; it is not a Language.ini.");

  switch (Kind(host)) {
    case 0: return Fail(install, L"the host program HOSTPROGRAM=" + host + L" does not exist.");
    case 2: return Fail(install, L"HOSTPROGRAM=" + host + L" is a folder; name the host program's .exe.");
  }
  const size_t slash = host.find_last_of(L"\\/");
  if (slash == std::wstring::npos)
    return Fail(install, L"HOSTPROGRAM=" + host + L" is not a full path (C:\\...\\program.exe).");
  const std::wstring folder = host.substr(0, slash + 1);

  // A Language.ini already there that an installed quorv did not put there is the administrator's
  // or another program's: replacing it would lose it, and uninstalling would delete it.
  const std::wstring target = folder + L"Language.ini";
  if (Kind(target) != 0 && !SameFolder(folder, Property(install, L"QUORV_SAVED_HOSTFOLDER")))
    return Fail(install, target + L" exists already and was not installed by quorv; move it away first (or put "
                                  L"its entries into LANGUAGEINI and remove it).");

  MsiSetPropertyW(install, L"HOSTFOLDER", folder.c_str());
  return ERROR_SUCCESS;
}
