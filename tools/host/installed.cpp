#include "installed.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace host {

namespace {

const char kAddInsKey[] = "Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";
// A registered path longer than this is no path Windows loads a DLL from.
constexpr DWORD kMaxPath = 32767;

#ifdef _WIN64
const char kOwnMachine[] = "x64";
#else
const char kOwnMachine[] = "x86";
#endif

void ReadRoot(HKEY root, const char *rootName, std::vector<Registration> *out, std::vector<std::string> *problems) {
  HKEY addIns = nullptr;
  if (RegOpenKeyExA(root, kAddInsKey, 0, KEY_READ, &addIns) != ERROR_SUCCESS) return;
  const std::string base = std::string(rootName) + "\\" + kAddInsKey + "\\";
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof name;
    const LONG status = RegEnumKeyExA(addIns, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      problems->push_back(base + "*: subkey " + std::to_string(index) + " cannot be read (error " +
                          std::to_string(status) + ")");
      continue;
    }
    const std::string where = base + std::string(name, nameLength);
    HKEY addIn = nullptr;
    if (RegOpenKeyExA(addIns, name, 0, KEY_QUERY_VALUE, &addIn) != ERROR_SUCCESS) {
      problems->push_back(where + ": cannot be opened");
      continue;
    }
    DWORD type = 0, size = 0;
    LONG query = RegQueryValueExA(addIn, "Name", nullptr, &type, nullptr, &size);
    std::string value;
    if (query == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size <= kMaxPath) {
      value.assign(size + 1, '\0');
      query = RegQueryValueExA(addIn, "Name", nullptr, &type, reinterpret_cast<BYTE *>(value.data()), &size);
      value.resize(query == ERROR_SUCCESS ? strnlen(value.c_str(), size) : 0);  // stored with or without its NUL
    }
    RegCloseKey(addIn);
    if (query == ERROR_FILE_NOT_FOUND) {
      problems->push_back(where + ": no Name value");
      continue;
    }
    if (query != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxPath) {
      problems->push_back(where + ": Name is not a string of at most " + std::to_string(kMaxPath) + " bytes");
      continue;
    }
    if (value.empty()) {
      problems->push_back(where + ": Name is empty");
      continue;
    }
    if (type == REG_EXPAND_SZ) {
      char expanded[kMaxPath + 1];
      const DWORD length = ExpandEnvironmentStringsA(value.c_str(), expanded, sizeof expanded);
      if (length == 0 || length > sizeof expanded) {
        problems->push_back(where + ": Name '" + value + "' cannot be expanded");
        continue;
      }
      value = expanded;
    }
    out->push_back({where, value});
  }
  RegCloseKey(addIns);
}

// Where LoadLibrary would find a registered name without a folder (the standard search order,
// roughly: the host's folder, the system folders, PATH).
std::string Locate(const std::string &path) {
  if (path.find_first_of("\\/") != std::string::npos) return path;
  char found[MAX_PATH];
  const DWORD length = SearchPathA(nullptr, path.c_str(), nullptr, sizeof found, found, nullptr);
  return length > 0 && length < sizeof found ? std::string(found) : path;
}

}  // namespace

std::vector<Registration> ReadRegisteredAddins(std::vector<std::string> *problems) {
  std::vector<Registration> registrations;
  ReadRoot(HKEY_LOCAL_MACHINE, "HKLM", &registrations, problems);
  ReadRoot(HKEY_CURRENT_USER, "HKCU", &registrations, problems);
  return registrations;
}

std::string DllMachine(const std::string &path, std::string *error) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) return *error = "cannot be opened", std::string();
  // The DOS header's e_lfanew at offset 60, then "PE\0\0" and the machine field there.
  unsigned char dos[64] = {};
  unsigned char pe[6] = {};
  bool ok = fread(dos, 1, sizeof dos, file) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z';
  uint32_t offset = 0;
  if (ok) {
    offset = dos[60] | dos[61] << 8 | dos[62] << 16 | static_cast<uint32_t>(dos[63]) << 24;
    ok = offset <= 0x10000000 && fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
         fread(pe, 1, sizeof pe, file) == sizeof pe && pe[0] == 'P' && pe[1] == 'E' && !pe[2] && !pe[3];
  }
  fclose(file);
  if (!ok) return *error = "is not a Windows DLL (no PE header)", std::string();
  switch (pe[4] | pe[5] << 8) {
    case IMAGE_FILE_MACHINE_I386: return "x86";
    case IMAGE_FILE_MACHINE_AMD64: return "x64";
    case IMAGE_FILE_MACHINE_ARM64: return "ARM64";
    default: {
      char text[32];
      snprintf(text, sizeof text, "machine 0x%04x", pe[4] | pe[5] << 8);
      return text;
    }
  }
}

bool ChooseInstalledAddin(const std::vector<Registration> &registrations, std::string *path,
                          std::vector<std::string> *notes, std::string *error) {
  std::vector<std::string> chosen;
  for (const Registration &r : registrations) {
    const std::string file = Locate(r.path);
    std::string problem;
    const std::string machine = DllMachine(file, &problem);
    if (machine.empty()) {
      notes->push_back(r.key + ": " + r.path + " " + problem + "; skipped");
      continue;
    }
    if (machine != kOwnMachine) {
      notes->push_back(r.key + ": " + r.path + " is built for " + machine + ", which this " + kOwnMachine +
                       " process cannot load; skipped");
      continue;
    }
    bool again = false;
    for (const std::string &c : chosen)
      again = again || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, c.c_str(), -1, file.c_str(), -1) == CSTR_EQUAL;
    notes->push_back(r.key + ": " + r.path + (again ? " (registered again)" : ""));
    if (!again) chosen.push_back(file);
  }
  if (chosen.empty()) {
    *error = registrations.empty()
                 ? std::string("no add-in is registered under HKLM or HKCU\\") + kAddInsKey + " (in this " +
                       kOwnMachine + " process's registry view)"
                 : std::string("none of the registered add-ins is an ") + kOwnMachine + " DLL this process can load";
    return false;
  }
  if (chosen.size() > 1) {
    *error = std::to_string(chosen.size()) + " different " + kOwnMachine +
             " add-ins are registered; the stand-in host plays one channel:";
    for (const std::string &c : chosen) *error += " " + c;
    return false;
  }
  *path = chosen.front();
  return true;
}

}  // namespace host
