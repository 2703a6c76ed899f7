// The hash child index: probing, insertion and growth.
#include "HashIndex.h"

#include <cassert>

namespace vorka {

void THashIndex::Attach(TDicNodes& d) {
  Table = d.Words;
  Placed = d.Marks;
  Capacity = static_cast<std::uint32_t>(std::uint64_t{d.Slots} * 3 / 2);
  Slots = 0;
}

void THashIndex::Start(TDicNodes&) {
  Slots = 0;
  Used = 0;
  MissNode = NilNode;
  std::memset(RootChild, 0, sizeof RootChild);
}

void THashIndex::Open() {
  Slots = Capacity < StartSlots ? Capacity : StartSlots;
  std::memset(Table, 0, std::size_t{Slots} * 8);
  GrowAt = Slots == Capacity ? 0xFFFFFFFFu : Slots / 3 * 2;
  Used = 0;
  MissNode = NilNode;
}

// Doubles the table (up to the storage) and re-places every entry for the
// new size, in place. An entry not yet re-placed is taken out and put at the
// first entry of its new probe run that is empty or not yet re-placed
// either; the one displaced from there is placed next. Entries once
// re-placed never move again and every probe run passes only over such
// entries, so each run stays whole.
void THashIndex::Grow() {
  const std::uint32_t old = Slots;
  const std::uint32_t slots = old > Capacity / 2 ? Capacity : 2 * old;
  std::memset(Table + 2 * std::size_t{old}, 0, std::size_t{slots - old} * 8);
  Slots = slots;
  GrowAt = slots == Capacity ? 0xFFFFFFFFu : slots / 3 * 2;
  const auto gen = static_cast<std::uint8_t>(Generation ^ 1);
  Generation = gen;
  for (std::uint32_t i = 0; i < old; ++i) {
    std::uint64_t e = Entry(i);
    if (e == 0 || Placed[e & NodeMask] == gen) continue;
    SetEntry(i, 0);
    for (;;) {
      std::uint32_t j = Home(e >> NodeBits, slots);
      std::uint64_t f = Entry(j);
      while (f != 0 && Placed[f & NodeMask] == gen) {
        if (++j == slots) j = 0;
        f = Entry(j);
      }
      SetEntry(j, e);
      Placed[e & NodeMask] = gen;
      if (f == 0) break;
      e = f;
    }
  }
  MissNode = NilNode;
}

std::uint32_t THashIndex::ScanPhrase(TDicNodes&, const std::uint8_t* bytes, std::uint32_t length,
                                     std::uint32_t& current) {
  if (length == 0) return 0;
  std::uint32_t node = current;
  const std::uint8_t* p = bytes;
  if (node == RootNode) {
    node = RootChild[*p];
    if (node == NilNode) return 0;
    ++p;
  }
  if (Slots == 0) Open();
  const std::uint32_t slots = Slots;
  const std::uint8_t* const end = bytes + length;
  // The key is compared shifted into place: a hit leaves the child's number
  // as the difference. Most bytes hit at their home, so the first probe is
  // on the straight path and the rest of the run is out of line.
  while (p != end) {
    const std::uint64_t key = Key(node, *p);
    const std::uint64_t want = key << NodeBits;
    std::uint32_t i = Home(key, slots);
    std::uint64_t e = Entry(i);
    std::uint64_t x = e ^ want;
    if (x > NodeMask) [[unlikely]] {
      do {
        if (e == 0) {
          MissNode = node;
          MissChar = *p;
          MissSlot = i;
          current = node;
          return static_cast<std::uint32_t>(p - bytes);
        }
        if (++i == slots) i = 0;
        e = Entry(i);
        x = e ^ want;
      } while (x > NodeMask);
    }
    node = static_cast<std::uint32_t>(x);
    ++p;
  }
  current = node;
  return length;
}

std::uint32_t THashIndex::FindChildOf(TDicNodes&, std::uint32_t parent, std::uint8_t c) {
  if (parent == RootNode) return RootChild[c];
  if (Slots == 0) Open();
  const std::uint64_t key = Key(parent, c);
  std::uint32_t i = Home(key, Slots);
  for (;;) {
    const std::uint64_t e = Entry(i);
    if ((e >> NodeBits) == key) return static_cast<std::uint32_t>(e & NodeMask);
    if (e == 0) break;
    if (++i == Slots) i = 0;
  }
  MissNode = parent;
  MissChar = c;
  MissSlot = i;
  return NilNode;
}

// The free entry for a key the table does not hold, when no miss noted it.
std::uint32_t THashIndex::FreeSlot(std::uint64_t key) {
  if (Slots == 0) Open();
  std::uint32_t i = Home(key, Slots);
  while (Entry(i) != 0) {
    assert((Entry(i) >> NodeBits) != key);
    if (++i == Slots) i = 0;
  }
  return i;
}

std::uint32_t THashIndex::AddChild(TDicNodes& d, std::uint8_t c, std::uint32_t parent) {
  if (d.Full()) return NilNode;
  const std::uint32_t n = d.NodeCount++;
  d.NodeChar[n] = c;
  if (parent == RootNode) {
    RootChild[c] = n;
    return n;
  }
  const std::uint64_t key = Key(parent, c);
  const std::uint32_t i = MissNode == parent && MissChar == c ? MissSlot : FreeSlot(key);
  assert(Entry(i) == 0);
  SetEntry(i, key << NodeBits | n);
  Placed[n] = Generation;
  MissNode = NilNode;
  if (++Used >= GrowAt) Grow();
  return n;
}

}  // namespace vorka
