// The page calls: allocation through mmap, and the query answered from /proc/self/maps, so that
// a query sees every mapping of the process (the heap, the stacks, the modules) as Windows would.
#include <windows.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <unordered_map>

namespace {

std::mutex g_lock;
std::unordered_map<uintptr_t, size_t> g_allocations;  // base -> size, for VirtualFree

size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

int ToPosix(DWORD protect) {
  switch (protect & 0xFF) {
    case PAGE_READONLY:
    case PAGE_EXECUTE_READ:
      return PROT_READ;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
      return PROT_READ | PROT_WRITE;
    default:
      return PROT_NONE;
  }
}

DWORD FromPosix(bool read, bool write) {
  if (write) return PAGE_READWRITE;
  return read ? PAGE_READONLY : PAGE_NOACCESS;
}

}  // namespace

extern "C" {

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
  if (address || size == 0 || !(allocationType & MEM_COMMIT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const size_t rounded = (size + PageSize() - 1) / PageSize() * PageSize();
  void *pages = mmap(nullptr, rounded, ToPosix(protect), MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(g_lock);
  g_allocations[reinterpret_cast<uintptr_t>(pages)] = rounded;
  return pages;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
  std::lock_guard<std::mutex> guard(g_lock);
  auto it = g_allocations.find(reinterpret_cast<uintptr_t>(address));
  if (it == g_allocations.end() || freeType != MEM_RELEASE || size != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  munmap(address, it->second);
  g_allocations.erase(it);
  return TRUE;
}

BOOL WINAPI VirtualProtect(LPVOID address, SIZE_T size, DWORD newProtect, PDWORD oldProtect) {
  MEMORY_BASIC_INFORMATION info = {};
  if (!VirtualQuery(address, &info, sizeof info) || info.State != MEM_COMMIT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uintptr_t start = reinterpret_cast<uintptr_t>(address) / PageSize() * PageSize();
  const uintptr_t end = (reinterpret_cast<uintptr_t>(address) + size + PageSize() - 1) / PageSize() * PageSize();
  if (mprotect(reinterpret_cast<void *>(start), end - start, ToPosix(newProtect)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (oldProtect) *oldProtect = info.Protect;
  return TRUE;
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
  if (!info || length < sizeof *info) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t page = at / PageSize() * PageSize();
  FILE *maps = fopen("/proc/self/maps", "r");
  if (!maps) return 0;
  // Without a mapping the page is free up to the next mapping (or the end of the address space).
  uintptr_t freeEnd = UINTPTR_MAX - PageSize() + 1;
  bool found = false;
  char line[512];
  while (fgets(line, sizeof line, maps)) {
    uintmax_t start = 0, end = 0;
    char perms[8] = {};
    if (sscanf(line, "%jx-%jx %7s", &start, &end, perms) != 3) continue;
    if (at < start) {
      if (start < freeEnd) freeEnd = static_cast<uintptr_t>(start);
      continue;
    }
    if (at >= end) continue;
    info->BaseAddress = reinterpret_cast<PVOID>(page);
    info->AllocationBase = reinterpret_cast<PVOID>(static_cast<uintptr_t>(start));
    info->Protect = FromPosix(perms[0] == 'r', perms[1] == 'w');
    info->AllocationProtect = info->Protect;
    info->RegionSize = static_cast<SIZE_T>(end - page);
    info->State = MEM_COMMIT;
    info->Type = 0;
    found = true;
    break;
  }
  fclose(maps);
  if (!found) {
    info->BaseAddress = reinterpret_cast<PVOID>(page);
    info->AllocationBase = nullptr;
    info->AllocationProtect = 0;
    info->RegionSize = static_cast<SIZE_T>(freeEnd - page);
    info->State = MEM_FREE;
    info->Protect = PAGE_NOACCESS;
    info->Type = 0;
  }
  return sizeof *info;
}

}  // extern "C"
