// The open-addressing table behind the lookup by local window: entries stay reachable through any
// order of additions, replacements and removals, across growth, with handles that crowd the same
// slots.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "mirror/local_window_index.h"

namespace {

HWND Handle(uintptr_t value) { return reinterpret_cast<HWND>(value); }
CWindowData *Record(uintptr_t value) { return reinterpret_cast<CWindowData *>(value * 16); }

void ExpectSameAs(const LocalWindowIndex &index, const std::map<uintptr_t, UINT32> &reference,
                  const std::vector<uintptr_t> &pool) {
  ASSERT_EQ(index.size(), reference.size());
  for (uintptr_t value : pool) {
    const LocalWindowIndex::Slot *slot = index.Find(Handle(value));
    auto it = reference.find(value);
    if (it == reference.end()) {
      EXPECT_EQ(slot, nullptr) << value;
    } else {
      ASSERT_NE(slot, nullptr) << value;
      EXPECT_EQ(slot->hwnd, Handle(value));
      EXPECT_EQ(slot->id, it->second);
      EXPECT_EQ(slot->record, Record(it->second));
    }
  }
}

TEST(LocalWindowIndexTest, AgreesWithAnOrderedMapThroughRandomChurn) {
  // Handles as a window manager hands them out (close together, sharing low bits), some far apart.
  std::vector<uintptr_t> pool;
  for (uintptr_t i = 0; i < 300; ++i) pool.push_back(0x10000 + i * 4);
  for (uintptr_t i = 0; i < 60; ++i) pool.push_back(0xFFFF0000u - i * 0x10000);
  std::mt19937 rng(11);
  LocalWindowIndex index;
  std::map<uintptr_t, UINT32> reference;
  for (int step = 0; step < 20000; ++step) {
    const uintptr_t value = pool[rng() % pool.size()];
    // Drift between mostly adding and mostly removing, so the table fills, grows and empties.
    const bool add = rng() % 100 < ((step / 2000) % 2 ? 30u : 70u);
    if (add) {
      const UINT32 id = static_cast<UINT32>(rng());
      index.Set(Handle(value), id, Record(id));
      reference[value] = id;
    } else {
      index.Erase(Handle(value));
      reference.erase(value);
    }
    if (step % 97 == 0) ExpectSameAs(index, reference, pool);
    if (HasFatalFailure()) return;
  }
  ExpectSameAs(index, reference, pool);
  for (auto &entry : std::map<uintptr_t, UINT32>(reference)) {
    index.Erase(Handle(entry.first));
    reference.erase(entry.first);
  }
  ExpectSameAs(index, reference, pool);
}

TEST(LocalWindowIndexTest, NullAndUnknownHandlesAreNotFoundAndChangeNothing) {
  LocalWindowIndex index;
  EXPECT_EQ(index.Find(nullptr), nullptr);
  EXPECT_EQ(index.Find(Handle(0x1234)), nullptr);  // before the table has any slots
  index.Erase(Handle(0x1234));
  index.Set(nullptr, 1, Record(1));
  EXPECT_EQ(index.size(), 0u);
  EXPECT_EQ(index.Find(nullptr), nullptr);
  index.Set(Handle(0x1234), 5, Record(5));
  index.Erase(Handle(0x5678));
  index.Set(Handle(0x1234), 6, Record(6));  // replaces, does not add
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index.Find(Handle(0x1234))->id, 6u);
  index.Reserve(100000);  // growth keeps what is there
  ASSERT_NE(index.Find(Handle(0x1234)), nullptr);
  EXPECT_EQ(index.Find(Handle(0x1234))->record, Record(6));
}

}  // namespace
