#include "icon_reader.h"

#include <shellapi.h>

#include "icon_pixels.h"

namespace agent {

bool ReadIcon(HICON icon, int size, wire::IconParts *parts) {
  if (!icon) return false;
  // CopyImage scales to the size the add-in shows; an icon it cannot copy is read as it is.
  HICON scaled = static_cast<HICON>(CopyImage(icon, IMAGE_ICON, size, size, 0));
  wire::IconPixels pixels;
  const bool ok = wire::ReadIconPixels(scaled ? scaled : icon, &pixels);
  if (scaled) DestroyIcon(scaled);
  if (!ok || pixels.color.width <= 0 || pixels.color.height <= 0) return false;
  *parts = wire::IconPartsFromImage(wire::IconImage(pixels));
  return true;
}

bool IconReader::ProgramIcon(HWND window, int size, wire::IconParts *parts) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return false;
  wchar_t path[MAX_PATH * 2] = {};
  DWORD length = MAX_PATH * 2;
  const bool named = QueryFullProcessImageNameW(process, 0, path, &length) != FALSE;
  CloseHandle(process);
  if (!named) return false;
  const auto key = std::make_pair(std::wstring(path, length), size);
  if (auto it = programIcons_.find(key); it != programIcons_.end()) {
    *parts = it->second;
    return true;
  }
  HICON big = nullptr, small = nullptr;
  if (ExtractIconExW(path, 0, &big, &small, 1) == 0) return false;
  const bool ok = ReadIcon(size > 16 ? (big ? big : small) : (small ? small : big), size, parts);
  if (big) DestroyIcon(big);
  if (small) DestroyIcon(small);
  if (!ok) return false;
  if (programIcons_.size() >= kMaxCached) programIcons_.clear();
  programIcons_[key] = *parts;
  return true;
}

bool IconReader::Read(uintptr_t window, uintptr_t icon, int size, wire::IconParts *parts) {
  if (ReadIcon(reinterpret_cast<HICON>(icon), size, parts)) return true;
  if (ProgramIcon(reinterpret_cast<HWND>(window), size, parts)) return true;
  return ReadIcon(LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)), size, parts);
}

}  // namespace agent
