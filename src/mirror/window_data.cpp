#include "mirror/window_data.h"

#include "mirror/create.h"

#include <unordered_map>

namespace {

WindowRegistry g_registry;
// Local window -> the records that have it, by id, so the lookup by local window does not walk
// the registry; the smallest id is the first record in registry order, and its record is at hand
// without a second search.
std::unordered_map<HWND, std::map<UINT32, CWindowData *>> g_byLocalWindow;
HRGN g_accumulatedShape = nullptr;

void Index(HWND hwnd, UINT32 id, CWindowData *record) {
  if (hwnd) g_byLocalWindow[hwnd].emplace(id, record);
}

void Unindex(HWND hwnd, UINT32 id) {
  if (!hwnd) return;
  auto it = g_byLocalWindow.find(hwnd);
  if (it == g_byLocalWindow.end()) return;
  it->second.erase(id);
  if (it->second.empty()) g_byLocalWindow.erase(it);
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

void ClearRegistry() {
  while (!g_registry.empty()) RemoveEntry(g_registry.begin()->first);
}

}  // namespace

CWindowData::~CWindowData() {
  if (m_hBigIcon) DestroyIcon(m_hBigIcon);
  if (m_hSmallIcon) DestroyIcon(m_hSmallIcon);
  m_strTitle.clear();
}

void CWindowData::SetBigIcon(HICON icon) {
  if (m_hBigIcon && m_hBigIcon != icon) DestroyIcon(m_hBigIcon);
  m_hBigIcon = icon;
}

void CWindowData::SetSmallIcon(HICON icon) {
  if (m_hSmallIcon && m_hSmallIcon != icon) DestroyIcon(m_hSmallIcon);
  m_hSmallIcon = icon;
}

const WindowRegistry &GetWindowRegistry() { return g_registry; }

CWindowData *FindWindowData(UINT32 remoteWnd) {
  auto it = g_registry.find(remoteWnd);
  return it == g_registry.end() ? nullptr : it->second;
}

bool AddWindowData(UINT32 remoteWnd, CWindowData *record) {
  if (!record || !g_registry.emplace(remoteWnd, record).second) return false;
  Index(record->m_hWnd, remoteWnd, record);
  return true;
}

void BindLocalWindow(CWindowData *record, HWND hwnd) {
  auto it = g_registry.find(record->m_remoteWnd);
  const bool registered = it != g_registry.end() && it->second == record;
  if (registered) Unindex(record->m_hWnd, record->m_remoteWnd);
  record->m_hWnd = hwnd;
  if (registered) Index(hwnd, record->m_remoteWnd, record);
}

WindowRegistry::const_iterator DestroyWindowData(WindowRegistry::const_iterator entry) {
  if (entry == g_registry.end()) return entry;
  return RemoveEntry(entry->first);
}

CWindowData *FindWindowDataByLocalWindow(HWND hwnd, UINT32 *remoteWnd) {
  if (!hwnd) return nullptr;
  auto it = g_byLocalWindow.find(hwnd);
  if (it == g_byLocalWindow.end() || it->second.empty()) return nullptr;
  const auto first = it->second.begin();
  if (remoteWnd) *remoteWnd = first->first;
  return first->second;
}

void ResetWindowRegistry() {
  if (g_accumulatedShape) DeleteObject(g_accumulatedShape);
  g_accumulatedShape = CreateRectRgn(0, 0, 0, 0);
  ClearRegistry();
}

void DestroyAllWindowData() { ClearRegistry(); }

HRGN AccumulatedShapeRegion() { return g_accumulatedShape; }

void DeleteAccumulatedShapeRegion() {
  if (g_accumulatedShape) DeleteObject(g_accumulatedShape);
  g_accumulatedShape = nullptr;
}
