// The window registry: records by remote window id in ascending unsigned order, the lookup by
// local window, and the clears, during which a WM_DESTROY handler walking the registry must find
// only live records.
#include <gtest/gtest.h>

#include <windows.h>

#include "mirror/window_data.h"
#include "appearance/shape.h"
#include "mirror/destroy.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

std::function<void(HWND)> g_onDestroy;

LRESULT CALLBACK RecordWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY && g_onDestroy) g_onDestroy(hwnd);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA c = {};
    c.lpfnWndProc = RecordWindowProc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "QuorvRecordWindow";
    RegisterClassA(&c);
  }
  void TearDown() override {
    g_onDestroy = nullptr;
    DestroyAllWindowData();
    DeleteShapeRegion();
  }

  static HWND NewWindow() {
    return CreateWindowExA(0, "QuorvRecordWindow", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  }
  static std::string TitleOf(UINT32 id) { return "record-" + std::to_string(id); }
  // A registered record with a title that tells its id, a window of the test class if asked for,
  // and a group.
  static CWindowData *AddRecord(UINT32 id, bool withWindow, UINT32 group = 0) {
    CWindowData *record = new CWindowData;
    record->m_remoteWnd = id;
    record->m_groupId = group;
    record->m_strTitle = TitleOf(id);
    EXPECT_TRUE(AddWindowData(id, record));
    if (withWindow) BindLocalWindow(record, NewWindow());
    return record;
  }
  static std::vector<UINT32> Ids() {
    std::vector<UINT32> ids;
    for (const auto &entry : GetWindowRegistry()) ids.push_back(entry.first);
    return ids;
  }
  static UINT32 FoundId(HWND hwnd) {
    UINT32 id = 0xDEADBEEF;
    return FindWindowDataByLocalWindow(hwnd, &id) ? id : 0xDEADBEEF;
  }

  // Installs a WM_DESTROY handler that walks the registry and checks that every record in it is
  // intact and not one whose window is already gone, and that the window being destroyed still
  // has its record. Returns the windows in the order they were destroyed.
  std::vector<HWND> *WatchDestroys() {
    destroyed_.clear();
    g_onDestroy = [this](HWND hwnd) {
      bool ownRecordPresent = false;
      for (const auto &entry : GetWindowRegistry()) {
        const CWindowData *record = entry.second;
        EXPECT_EQ(record->m_remoteWnd, entry.first);
        EXPECT_EQ(record->m_strTitle, TitleOf(entry.first)) << "a released record is still registered";
        if (record->m_hWnd) {
          EXPECT_EQ(std::find(destroyed_.begin(), destroyed_.end(), record->m_hWnd), destroyed_.end())
              << "record " << entry.first << " outlived its window";
        }
        if (record->m_hWnd == hwnd) ownRecordPresent = true;
      }
      EXPECT_TRUE(ownRecordPresent) << "the record is still registered while its window is destroyed";
      UINT32 id = 0;
      EXPECT_NE(FindWindowDataByLocalWindow(hwnd, &id), nullptr);
      destroyed_.push_back(hwnd);
    };
    return &destroyed_;
  }

  std::vector<HWND> destroyed_;
};

TEST_F(RegistryTest, RecordsAreKeptByIdInAscendingUnsignedOrder) {
  const UINT32 ids[] = {0x80000000u, 5, 0, 0x7FFFFFFFu, 0xFFFFFFFFu};
  std::vector<CWindowData *> records;
  for (UINT32 id : ids) records.push_back(AddRecord(id, false));
  EXPECT_EQ(Ids(), (std::vector<UINT32>{0, 5, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}));
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(FindWindowData(ids[i]), records[i]);
  EXPECT_EQ(FindWindowData(6), nullptr);
  EXPECT_EQ(GetWindowRegistry().size(), 5u);

  // An id that is taken stays with its record; the caller keeps the new one.
  CWindowData *second = new CWindowData;
  second->m_strTitle = "second";
  EXPECT_FALSE(AddWindowData(5, second));
  EXPECT_EQ(FindWindowData(5), records[1]);
  EXPECT_EQ(FindWindowData(5)->m_strTitle, TitleOf(5));
  delete second;
  EXPECT_EQ(GetWindowRegistry().size(), 5u);
}

TEST_F(RegistryTest, TheLookupByLocalWindowFindsTheFirstRecordInIdOrder) {
  const HWND shared = NewWindow(), other = NewWindow(), moved = NewWindow();
  // Bound before registration and after it: both are found.
  CWindowData *late = new CWindowData;
  late->m_remoteWnd = 0x30;
  late->m_strTitle = TitleOf(0x30);
  BindLocalWindow(late, shared);
  ASSERT_TRUE(AddWindowData(0x30, late));
  CWindowData *early = AddRecord(0x10, false);
  BindLocalWindow(early, shared);
  AddRecord(0x20, false);
  BindLocalWindow(FindWindowData(0x20), other);
  AddRecord(0x05, false);

  EXPECT_EQ(FoundId(shared), 0x10u);
  EXPECT_EQ(FoundId(other), 0x20u);
  EXPECT_EQ(FoundId(nullptr), 0xDEADBEEFu) << "records without a window never match";
  EXPECT_EQ(FoundId(moved), 0xDEADBEEFu);

  BindLocalWindow(early, moved);
  EXPECT_EQ(FoundId(shared), 0x30u);
  EXPECT_EQ(FoundId(moved), 0x10u);

  // Removing entries: a record without a window destroys none; the next entry comes back.
  std::vector<HWND> *destroyed = WatchDestroys();
  auto next = DestroyWindowData(GetWindowRegistry().find(0x05));
  ASSERT_NE(next, GetWindowRegistry().end());
  EXPECT_EQ(next->first, 0x10u);
  EXPECT_TRUE(destroyed->empty());
  next = DestroyWindowData(next);
  ASSERT_NE(next, GetWindowRegistry().end());
  EXPECT_EQ(next->first, 0x20u);
  EXPECT_EQ(*destroyed, std::vector<HWND>{moved});
  EXPECT_FALSE(IsWindow(moved));
  EXPECT_EQ(FoundId(moved), 0xDEADBEEFu);
  EXPECT_EQ(FoundId(shared), 0x30u);
  EXPECT_EQ(Ids(), (std::vector<UINT32>{0x20, 0x30}));
}

TEST_F(RegistryTest, EveryClearShowsTheWindowProcedureOnlyLiveRecords) {
  // The clear of the session start and of the unload.
  for (UINT32 id = 1; id <= 6; ++id) AddRecord(id * 0x1000, id % 3 != 1);
  std::vector<HWND> *destroyed = WatchDestroys();
  DestroyAllWindowData();
  EXPECT_TRUE(GetWindowRegistry().empty());
  EXPECT_EQ(destroyed->size(), 4u);

  // DESTROYGRP: a walk that removes as it goes, with unmatched records between matched ones.
  for (UINT32 id = 1; id <= 8; ++id) AddRecord(id, id != 5, id % 2);
  destroyed = WatchDestroys();
  OnDestroyGroup(0, 1, 0);
  EXPECT_EQ(Ids(), (std::vector<UINT32>{2, 4, 6, 8}));
  EXPECT_EQ(destroyed->size(), 3u) << "1, 3 and 7 had windows";
  for (const auto &entry : GetWindowRegistry()) EXPECT_TRUE(IsWindow(entry.second->m_hWnd));
  OnDestroyGroup(0, 0, 0);
  EXPECT_TRUE(GetWindowRegistry().empty());
  EXPECT_EQ(destroyed->size(), 7u);
}

TEST_F(RegistryTest, TheSessionStartRenewsTheShapeRegionAndTheRegistryClearKeepsIt) {
  EXPECT_EQ(AccumulatedShapeRegion(), nullptr) << "none before the first session";
  ResetShapeRegion();
  const HRGN first = AccumulatedShapeRegion();
  ASSERT_NE(first, nullptr);
  RECT box = {};
  EXPECT_EQ(GetRgnBox(first, &box), NULLREGION);

  HRGN part = CreateRectRgn(0, 0, 10, 10);
  CombineRgn(first, first, part, RGN_OR);
  DeleteObject(part);
  AddRecord(7, true);
  DestroyAllWindowData();
  EXPECT_EQ(AccumulatedShapeRegion(), first);
  EXPECT_EQ(GetRgnBox(first, &box), SIMPLEREGION);

#ifndef _WIN32
  const size_t regions = winsim::LiveObjectCount(winsim::ObjectKind::Region);
#endif
  ResetShapeRegion();
  const HRGN second = AccumulatedShapeRegion();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetRgnBox(second, &box), NULLREGION) << "a new empty region";
#ifndef _WIN32
  EXPECT_EQ(winsim::LiveObjectCount(winsim::ObjectKind::Region), regions) << "the old one is deleted";
#else
  if (second != first) {
    EXPECT_EQ(GetObjectType(first), 0u) << "the old one is deleted";
  }
#endif
}

}  // namespace
