// winsim kernel32: GetPrivateProfileStringA reading INI files from disk with Windows' rules:
// section and key names are case-insensitive, names and values are trimmed, a value in matching
// quotes loses them, the result is the number of characters copied.
#include <windows.h>

#include <strings.h>

#include <cstdio>
#include <string>
#include <vector>

#include "text_out.h"

namespace {

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

struct Entry {
  std::string section, key, value;
};

std::vector<Entry> ReadIni(const char *path, std::vector<std::string> &sections) {
  std::vector<Entry> entries;
  FILE *f = path ? fopen(path, "rb") : nullptr;
  if (!f) return entries;
  std::string content;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  fclose(f);
  std::string section;
  bool inSection = false;
  size_t pos = 0;
  while (pos <= content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = Trim(content.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = true;
      sections.push_back(section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    Entry e;
    e.section = section;
    e.key = Trim(line.substr(0, eq));
    e.value = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
    if (e.value.size() >= 2 && (e.value[0] == '"' || e.value[0] == '\'') && e.value.back() == e.value[0])
      e.value = e.value.substr(1, e.value.size() - 2);
    entries.push_back(e);
  }
  return entries;
}

// Copies a list of names, each terminated, the list ended by an extra zero, cut as Windows does.
DWORD CopyList(const std::vector<std::string> &names, LPSTR out, DWORD size) {
  if (size < 2) {
    if (size == 1) out[0] = 0;
    return 0;
  }
  DWORD used = 0;
  for (const std::string &name : names) {
    // The name and its terminator (name[name.size()]), keeping room for the list's final zero.
    for (size_t i = 0; i <= name.size(); ++i) {
      if (used + 2 >= size) {
        out[used] = 0;
        out[used + 1] = 0;
        return size - 2;
      }
      out[used++] = name[i];
    }
  }
  out[used] = 0;
  return used;
}

}  // namespace

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out, DWORD size,
                                                 LPCSTR fileName) {
  if (!out || size == 0) return 0;
  std::vector<std::string> sections;
  std::vector<Entry> entries = ReadIni(fileName, sections);
  if (!section) return CopyList(sections, out, size);
  if (!key) {
    std::vector<std::string> keys;
    for (const Entry &e : entries)
      if (strcasecmp(e.section.c_str(), section) == 0) keys.push_back(e.key);
    return CopyList(keys, out, size);
  }
  std::string value;
  bool found = false;
  for (const Entry &e : entries) {
    if (strcasecmp(e.section.c_str(), section) == 0 && strcasecmp(e.key.c_str(), key) == 0) {
      value = e.value;
      found = true;
      break;
    }
  }
  if (!found) {
    // The default loses trailing blanks, as on Windows.
    value = defaultValue ? defaultValue : "";
    while (!value.empty() && value.back() == ' ') value.pop_back();
  }
  const size_t copied = winsim::detail::CopyTextOut(value, out, size);
  SetLastError(found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  return static_cast<DWORD>(copied);
}
