#include "tray_view.h"

#include <shellapi.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace host {

namespace {

struct Icon {
  HWND owner;
  UINT id;
  HICON icon;  // the host's own copy: the add-in destroys its handle when it replaces it
  std::wstring tip;
  bool hidden;
};

std::mutex g_lock;
std::vector<Icon> g_icons;  // in the order they were added
decltype(&Shell_NotifyIconW) g_realW = nullptr;
decltype(&Shell_NotifyIconA) g_realA = nullptr;

// The fields every form of the record shares, and those that only the larger forms carry. The
// record's size decides which fields may be read.
struct Fields {
  HWND owner = nullptr;
  UINT id = 0, flags = 0;
  HICON icon = nullptr;
  std::wstring tip;
  bool hasState = false;
  DWORD state = 0, stateMask = 0;
};

Icon *Find(HWND owner, UINT id) {
  for (Icon &i : g_icons)
    if (i.owner == owner && i.id == id) return &i;
  return nullptr;
}

void Record(DWORD message, const Fields &f) {
  std::lock_guard<std::mutex> guard(g_lock);
  Icon *icon = Find(f.owner, f.id);
  if (message == NIM_DELETE) {
    if (!icon) return;
    if (icon->icon) DestroyIcon(icon->icon);
    g_icons.erase(g_icons.begin() + (icon - g_icons.data()));
    return;
  }
  if (message == NIM_ADD && !icon) {
    g_icons.push_back(Icon{f.owner, f.id, nullptr, L"", false});
    icon = &g_icons.back();
  }
  if (!icon || (message != NIM_ADD && message != NIM_MODIFY)) return;
  if ((f.flags & NIF_ICON) && f.icon) {
    if (icon->icon) DestroyIcon(icon->icon);
    icon->icon = CopyIcon(f.icon);
  }
  if (f.flags & NIF_TIP) icon->tip = f.tip;
  if ((f.flags & NIF_STATE) && f.hasState && (f.stateMask & NIS_HIDDEN)) icon->hidden = (f.state & NIS_HIDDEN) != 0;
}

template <typename Char>
std::wstring TipOf(const Char *tip, size_t room) {
  std::wstring out;
  for (size_t i = 0; i < room && tip[i]; ++i)
    out.push_back(static_cast<wchar_t>(static_cast<std::make_unsigned_t<Char>>(tip[i])));
  return out;
}

BOOL WINAPI RecordW(DWORD message, PNOTIFYICONDATAW data) {
  const BOOL ok = g_realW(message, data);
  if (!ok || !data || data->cbSize < offsetof(NOTIFYICONDATAW, szTip)) return ok;
  Fields f;
  f.owner = data->hWnd;
  f.id = data->uID;
  f.flags = data->uFlags;
  f.icon = data->hIcon;
  const bool large = data->cbSize >= NOTIFYICONDATAW_V2_SIZE;
  f.tip = TipOf(data->szTip, large ? 128 : 64);
  if (large) {
    f.hasState = true;
    f.state = data->dwState;
    f.stateMask = data->dwStateMask;
  }
  Record(message, f);
  return ok;
}

BOOL WINAPI RecordA(DWORD message, PNOTIFYICONDATAA data) {
  const BOOL ok = g_realA(message, data);
  if (!ok || !data || data->cbSize < offsetof(NOTIFYICONDATAA, szTip)) return ok;
  Fields f;
  f.owner = data->hWnd;
  f.id = data->uID;
  f.flags = data->uFlags;
  f.icon = data->hIcon;
  const bool large = data->cbSize >= NOTIFYICONDATAA_V2_SIZE;
  // The tip is in the ANSI code page.
  char tip[129] = {};
  memcpy(tip, data->szTip, large ? 128 : 64);
  wchar_t wide[129] = {};
  MultiByteToWideChar(CP_ACP, 0, tip, -1, wide, 128);
  f.tip = wide;
  if (large) {
    f.hasState = true;
    f.state = data->dwState;
    f.stateMask = data->dwStateMask;
  }
  Record(message, f);
  return ok;
}

// Replaces the address the module imports for dll!function; returns the previous one, or null.
void *PatchImport(HMODULE module, const char *dll, const char *function, void *replacement) {
  BYTE *base = reinterpret_cast<BYTE *>(module);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!directory.VirtualAddress) return nullptr;
  for (auto *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress); import->Name;
       ++import) {
    if (_stricmp(reinterpret_cast<const char *>(base + import->Name), dll) != 0 || !import->OriginalFirstThunk)
      continue;
    auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk);
    auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char *>(byName->Name), function) != 0) continue;
      DWORD protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return nullptr;
      void *previous = reinterpret_cast<void *>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return previous;
    }
  }
  return nullptr;
}

}  // namespace

bool WatchNotifyIcons(HMODULE module) {
  g_realW = Shell_NotifyIconW;
  g_realA = Shell_NotifyIconA;
  const bool w = PatchImport(module, "shell32.dll", "Shell_NotifyIconW", reinterpret_cast<void *>(RecordW));
  const bool a = PatchImport(module, "shell32.dll", "Shell_NotifyIconA", reinterpret_cast<void *>(RecordA));
  return w || a;
}

void ForgetNotifyIcons() {
  std::lock_guard<std::mutex> guard(g_lock);
  for (Icon &i : g_icons)
    if (i.icon) DestroyIcon(i.icon);
  g_icons.clear();
}

int DrawNotifyIcons(HDC dc, int left, int top) {
  std::lock_guard<std::mutex> guard(g_lock);
  int drawn = 0;
  for (const Icon &i : g_icons) {
    if (i.hidden || !i.icon) continue;
    DrawIconEx(dc, left + drawn * 28, top, i.icon, 24, 24, 0, nullptr, DI_NORMAL);
    ++drawn;
  }
  return drawn;
}

bool NotifyIconAt(int x, int left, HWND *owner, UINT *id) {
  std::lock_guard<std::mutex> guard(g_lock);
  int drawn = 0;
  for (const Icon &i : g_icons) {
    if (i.hidden || !i.icon) continue;
    const int at = left + drawn * 28;
    if (x >= at && x < at + 24) {
      *owner = i.owner;
      *id = i.id;
      return true;
    }
    ++drawn;
  }
  return false;
}

std::wstring NotifyIconTip(HWND owner, UINT id) {
  std::lock_guard<std::mutex> guard(g_lock);
  const Icon *icon = Find(owner, id);
  return icon ? icon->tip : std::wstring();
}

}  // namespace host
