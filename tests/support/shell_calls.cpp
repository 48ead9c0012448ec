#include "support/shell_calls.h"

#include <cstring>

namespace quorvtest {
namespace {

std::vector<ShellCall> g_calls;
decltype(&Shell_NotifyIconA) g_shellA = nullptr;
decltype(&Shell_NotifyIconW) g_shellW = nullptr;

char16_t Widen(CHAR c) { return static_cast<unsigned char>(c); }
char16_t Widen(WCHAR c) { return static_cast<char16_t>(c); }

// The tip's characters, as far as both cbSize and the terminating zero allow.
template <typename Record>
std::u16string Tip(const Record &data) {
  const size_t tipOffset = offsetof(Record, szTip);
  const size_t characters = sizeof data.szTip / sizeof data.szTip[0];
  const size_t reach = data.cbSize > tipOffset ? (data.cbSize - tipOffset) / sizeof data.szTip[0] : 0;
  std::u16string tip;
  for (size_t i = 0; i < reach && i < characters && data.szTip[i]; ++i) tip.push_back(Widen(data.szTip[i]));
  return tip;
}

template <typename Record>
ShellCall Copy(DWORD message, char form, const Record *data) {
  ShellCall call;
  call.message = message;
  call.form = form;
  if (!data) return call;
  call.cbSize = data->cbSize;
  // Every record the add-in makes reaches hIcon (24 bytes on 32-bit, 40 on 64-bit).
  if (data->cbSize >= offsetof(Record, szTip)) {
    call.hWnd = data->hWnd;
    call.uID = data->uID;
    call.uFlags = data->uFlags;
    call.uCallbackMessage = data->uCallbackMessage;
    call.hIcon = data->hIcon;
  }
  call.tip = Tip(*data);
  if ((call.uFlags & NIF_ICON) && call.hIcon) call.iconRead = testkit::ReadIconPixels(call.hIcon, &call.icon);
  return call;
}

BOOL WINAPI RecordA(DWORD message, PNOTIFYICONDATAA data) {
  ShellCall call = Copy(message, 'A', data);
  call.result = g_shellA(message, data);
  g_calls.push_back(call);
  return call.result;
}

BOOL WINAPI RecordW(DWORD message, PNOTIFYICONDATAW data) {
  ShellCall call = Copy(message, 'W', data);
  call.result = g_shellW(message, data);
  g_calls.push_back(call);
  return call.result;
}

// The import address table entry of SHELL32's function `name` in the module, or null.
ULONG_PTR *ImportSlot(HMODULE module, const char *name) {
  BYTE *base = reinterpret_cast<BYTE *>(module);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress) return nullptr;
  for (auto *entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); entry->Name;
       ++entry) {
    if (lstrcmpiA(reinterpret_cast<const char *>(base + entry->Name), "shell32.dll") != 0) continue;
    const DWORD lookup = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
    auto *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + lookup);
    auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char *>(byName->Name), name) == 0)
        return reinterpret_cast<ULONG_PTR *>(&slots->u1.Function);
    }
  }
  return nullptr;
}

template <typename Function>
bool Redirect(HMODULE module, const char *name, Function recorder, Function *original) {
  ULONG_PTR *slot = ImportSlot(module, name);
  if (!slot) return false;
  DWORD protection = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return false;
  *original = reinterpret_cast<Function>(*slot);
  *slot = reinterpret_cast<ULONG_PTR>(recorder);
  VirtualProtect(slot, sizeof *slot, protection, &protection);
  return true;
}

}  // namespace

bool RecordShellCalls(HMODULE module) {
  g_calls.clear();
  if (!module) return false;
  const bool a = Redirect(module, "Shell_NotifyIconA", &RecordA, &g_shellA);
  const bool w = Redirect(module, "Shell_NotifyIconW", &RecordW, &g_shellW);
  return a || w;
}

std::vector<ShellCall> TakeShellCalls() {
  std::vector<ShellCall> calls;
  calls.swap(g_calls);
  return calls;
}

}  // namespace quorvtest
