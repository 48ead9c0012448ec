#include "mirror/local_window_index.h"

size_t LocalWindowIndex::Home(HWND hwnd) const {
  // Window handles are close together and share their low bits: spread them by Fibonacci hashing
  // and take the top bits of the product. A 64-bit handle's upper half is folded in first.
  const uint64_t value = reinterpret_cast<uintptr_t>(hwnd);
  const uint32_t mixed = static_cast<uint32_t>(value ^ (value >> 32)) * 0x9E3779B1u;
  return m_shift >= 32 ? 0 : mixed >> m_shift;
}

LocalWindowIndex::Slot *LocalWindowIndex::Locate(HWND hwnd) {
  if (!hwnd || m_count == 0) return nullptr;
  const size_t mask = m_slots.size() - 1;
  for (size_t i = Home(hwnd);; i = (i + 1) & mask) {
    Slot &slot = m_slots[i];
    if (slot.hwnd == hwnd) return &slot;
    if (!slot.hwnd) return nullptr;
  }
}

const LocalWindowIndex::Slot *LocalWindowIndex::Find(HWND hwnd) const {
  return const_cast<LocalWindowIndex *>(this)->Locate(hwnd);
}

void LocalWindowIndex::Reserve(size_t count) {
  size_t size = m_slots.empty() ? 16 : m_slots.size();
  while (count > size / 2) size *= 2;
  if (size == m_slots.size()) return;
  std::vector<Slot> slots(size);  // may throw; nothing has changed yet
  unsigned shift = 32;
  while ((size_t{1} << (32 - shift)) < size) --shift;
  slots.swap(m_slots);
  m_shift = shift;
  const size_t mask = size - 1;
  for (const Slot &slot : slots) {
    if (!slot.hwnd) continue;
    size_t i = Home(slot.hwnd);
    while (m_slots[i].hwnd) i = (i + 1) & mask;
    m_slots[i] = slot;
  }
}

void LocalWindowIndex::Set(HWND hwnd, UINT32 id, CWindowData *record) {
  if (!hwnd) return;
  if (Slot *slot = Locate(hwnd)) {
    slot->id = id;
    slot->record = record;
    return;
  }
  Reserve(m_count + 1);
  const size_t mask = m_slots.size() - 1;
  size_t i = Home(hwnd);
  while (m_slots[i].hwnd) i = (i + 1) & mask;
  m_slots[i] = Slot{hwnd, id, record};
  ++m_count;
}

void LocalWindowIndex::Erase(HWND hwnd) {
  Slot *found = Locate(hwnd);
  if (!found) return;
  const size_t mask = m_slots.size() - 1;
  size_t hole = static_cast<size_t>(found - m_slots.data());
  // Linear probing without markers for removed entries: entries after the hole that may live in
  // it move back, so that every entry stays reachable from its home slot without a free slot
  // between.
  for (size_t i = (hole + 1) & mask; m_slots[i].hwnd; i = (i + 1) & mask) {
    const size_t home = Home(m_slots[i].hwnd);
    // It may not move when its home lies in the cyclic range (hole, i].
    if (((i - home) & mask) >= ((i - hole) & mask)) {
      m_slots[hole] = m_slots[i];
      hole = i;
    }
  }
  m_slots[hole] = Slot{};
  --m_count;
}
