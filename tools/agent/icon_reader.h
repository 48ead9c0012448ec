// Reads the pictures of windows' icons: the icon the window has, scaled to the size wanted, read
// back with GetIconInfo and GetDIBits. Where the window's own icon cannot be read here (Wine keeps
// an icon's pictures in the process that made it), the icon of the window's program file stands
// in, and where that fails too the system's default application icon, as a taskbar shows it.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "tracker.h"

namespace agent {

class IconReader : public IconSource {
 public:
  bool Read(uintptr_t window, uintptr_t icon, int size, wire::IconParts *parts) override;

 private:
  bool ProgramIcon(HWND window, int size, wire::IconParts *parts);
  // Program file and size -> its icon's parts; cleared when it would pass kMaxCached entries.
  std::map<std::pair<std::wstring, int>, wire::IconParts> programIcons_;
  static constexpr size_t kMaxCached = 64;
};

// The parts of an icon scaled to size x size; false when it cannot be read in this process.
bool ReadIcon(HICON icon, int size, wire::IconParts *parts);

}  // namespace agent
