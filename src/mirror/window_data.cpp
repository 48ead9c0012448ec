#include "mirror/window_data.h"

#include "mirror/local_window.h"
#include "mirror/local_window_index.h"

#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

WindowRegistry g_registry;
// Local window -> the records that have it, by id: the smallest id is the first record in registry
// order. Almost every local window has one record; a few may share one.
std::unordered_map<HWND, std::map<UINT32, CWindowData *>> g_byLocalWindow;
// The first of those for each local window, where the lookup finds it in one read.
LocalWindowIndex g_firstByLocalWindow;
// Local windows that reported WM_NCDESTROY since the registry was last used.
std::vector<HWND> g_destroyedWindows;

// Clears hwnd from every record that has it.
void ForgetLocalWindow(HWND hwnd) {
  auto it = g_byLocalWindow.find(hwnd);
  if (!hwnd || it == g_byLocalWindow.end()) return;
  for (const auto &[id, record] : it->second) record->m_hWnd = nullptr;
  g_byLocalWindow.erase(it);
  g_firstByLocalWindow.Erase(hwnd);
}

void Index(HWND hwnd, UINT32 id, CWindowData *record) {
  if (!hwnd) return;
  g_firstByLocalWindow.Reserve(g_firstByLocalWindow.size() + 1);  // after this nothing can fail but the map
  auto &records = g_byLocalWindow[hwnd];
  records.emplace(id, record);
  g_firstByLocalWindow.Set(hwnd, records.begin()->first, records.begin()->second);
}

void Unindex(HWND hwnd, UINT32 id) {
  if (!hwnd) return;
  auto it = g_byLocalWindow.find(hwnd);
  if (it == g_byLocalWindow.end()) return;
  it->second.erase(id);
  if (it->second.empty()) {
    g_byLocalWindow.erase(it);
    g_firstByLocalWindow.Erase(hwnd);
  } else {
    g_firstByLocalWindow.Set(hwnd, it->second.begin()->first, it->second.begin()->second);
  }
}

// Destroys the local window while the record is still registered (its WM_DESTROY walks the
// registry), then removes the entry and frees the record. Returns the entry after it.
WindowRegistry::iterator RemoveEntry(UINT32 id) {
  auto it = g_registry.find(id);
  if (it == g_registry.end()) return it;
  CWindowData *record = it->second;
  if (HWND hwnd = record->m_hWnd) DestroyLocalWindow(hwnd);
  // The window procedure ran in between: look the entry up again rather than trust the iterator.
  it = g_registry.find(id);
  if (it == g_registry.end() || it->second != record) return g_registry.upper_bound(id);
  Unindex(record->m_hWnd, id);
  it = g_registry.erase(it);
  delete record;
  return it;
}

}  // namespace

CWindowData::~CWindowData() {
  if (m_hBigIcon) DestroyIcon(m_hBigIcon);
  if (m_hSmallIcon) DestroyIcon(m_hSmallIcon);
}

void CWindowData::SetIcon(bool large, HICON icon) {
  HICON &slot = large ? m_hBigIcon : m_hSmallIcon;
  if (slot && slot != icon) DestroyIcon(slot);
  slot = icon;
}

const WindowRegistry &GetWindowRegistry() { return g_registry; }

bool CanAddWindowData() { return g_registry.size() < kMaxWindowRecords; }
bool CanAddLocalWindow() { return g_byLocalWindow.size() < kMaxLocalWindows; }

CWindowData *FindWindowData(UINT32 remoteWnd) {
  auto it = g_registry.find(remoteWnd);
  return it == g_registry.end() ? nullptr : it->second;
}

bool AddWindowData(UINT32 remoteWnd, CWindowData *record) {
  if (!record) return false;
  auto added = g_registry.emplace(remoteWnd, record);
  if (!added.second) return false;
  try {
    Index(record->m_hWnd, remoteWnd, record);
  } catch (...) {
    g_registry.erase(added.first);  // the caller keeps the record, as when the id is taken
    throw;
  }
  return true;
}

CWindowData *AddNewWindowData(UINT32 remoteWnd) {
  auto record = std::make_unique<CWindowData>();
  record->m_remoteWnd = remoteWnd;
  if (!AddWindowData(remoteWnd, record.get())) return nullptr;
  return record.release();  // the registry owns it now
}

void BindLocalWindow(CWindowData *record, HWND hwnd) {
  auto it = g_registry.find(record->m_remoteWnd);
  const bool registered = it != g_registry.end() && it->second == record;
  if (registered) Unindex(record->m_hWnd, record->m_remoteWnd);
  record->m_hWnd = hwnd;
  if (registered) Index(hwnd, record->m_remoteWnd, record);
}

void CreateLocalWindow(CWindowData *record) {
  ForgetDestroyedLocalWindows();
  if (!record->m_hWnd) {
    const HWND hwnd = MakeLocalWindow(record->m_strTitle.c_str(), record->m_strTitleW.c_str());
    // A new window's handle may be that of a window destroyed earlier: no other record keeps it.
    ForgetLocalWindow(hwnd);
    BindLocalWindow(record, hwnd);
  }
  ShowLocalWindowOnTop(record->m_hWnd);
}

WindowRegistry::const_iterator DestroyWindowData(WindowRegistry::const_iterator entry) {
  if (entry == g_registry.end()) return entry;
  return RemoveEntry(entry->first);
}

void NoteLocalWindowDestroyed(HWND hwnd) {
  if (hwnd && g_byLocalWindow.count(hwnd)) g_destroyedWindows.push_back(hwnd);
}

void ForgetDestroyedLocalWindows() {
  if (g_destroyedWindows.empty()) return;
  std::vector<HWND> noted;
  noted.swap(g_destroyedWindows);
  for (HWND hwnd : noted)
    if (!IsWindow(hwnd)) ForgetLocalWindow(hwnd);
}

CWindowData *FindWindowDataByLocalWindow(HWND hwnd, UINT32 *remoteWnd) {
  const LocalWindowIndex::Slot *first = g_firstByLocalWindow.Find(hwnd);
  if (!first) return nullptr;
  if (remoteWnd) *remoteWnd = first->id;
  return first->record;
}

void DestroyAllWindowData() {
  while (!g_registry.empty()) RemoveEntry(g_registry.begin()->first);
}
