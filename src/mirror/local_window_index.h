// The lookup by local window that focus and window-menu events make: local window -> the first
// record (in ascending id order) that has it, with its id. An open-addressing table, so that a
// lookup is one read of one slot even with a hundred thousand windows registered; the registry
// keeps it current whenever a record gains or loses its local window.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class CWindowData;

class LocalWindowIndex {
 public:
  struct Slot {
    HWND hwnd = nullptr;  // null: free
    UINT32 id = 0;
    CWindowData *record = nullptr;
  };

  // The slot of hwnd; null when hwnd has no entry (or is null).
  const Slot *Find(HWND hwnd) const;
  // Makes room for count entries, so that Set of that many cannot fail. Throws std::bad_alloc
  // when memory cannot be obtained, leaving the table as it was.
  void Reserve(size_t count);
  // Adds hwnd, or replaces what it maps to (a null hwnd is ignored). May grow the table, with the
  // guarantee of Reserve.
  void Set(HWND hwnd, UINT32 id, CWindowData *record);
  void Erase(HWND hwnd);
  size_t size() const { return m_count; }

 private:
  size_t Home(HWND hwnd) const;
  Slot *Locate(HWND hwnd);

  std::vector<Slot> m_slots;  // a power of two in size, at most half full; empty until first use
  size_t m_count = 0;
  unsigned m_shift = 32;  // 32 - log2(slots)
};
