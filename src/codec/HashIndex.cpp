// The hash child index: probing, insertion and the regions of its table.
#include "HashIndex.h"

#include <algorithm>
#include <cassert>

#include "../platform/Memory.h"

namespace vorka {
namespace {

constexpr std::uint32_t kNever = 0xFFFFFFFFu;

}  // namespace

void THashIndex::Attach(TDicNodes& d, std::uint64_t inputBytes) {
  Table = reinterpret_cast<std::uint32_t*>(d.Block);
  Capacity = static_cast<std::uint32_t>(std::min<std::uint64_t>(d.SpanBytes() / 8, std::uint64_t{d.Slots} * MaxLoad));
  Regions = 0;
  // Each byte places at most one entry. With large pages, a region past the
  // cost of one large page in small pages takes a large page whole.
  std::uint64_t first = std::max<std::uint64_t>(MinFirstSlots, std::min<std::uint64_t>(inputBytes, d.Slots) * MaxLoad);
  if (d.LargePages && first * 8 >= platform::LargePageCost) first = StartSlots;
  FirstSlots = static_cast<std::uint32_t>(std::min<std::uint64_t>({first, Capacity, StartSlots}));
  // The first region is cleared whole when it opens: large pages cost the
  // least, asked for before anything (a node's character) touches the block.
  d.ExpectWrites(std::size_t{FirstSlots} * 8);
}

void THashIndex::Start(TDicNodes&) {
  Regions = 0;
  Used = 0;
  NoteNode = NilNode;
  MissChar = 0;
  std::memset(RootChild, 0, sizeof RootChild);
}

void THashIndex::Open() {
  const std::uint32_t slots = FirstSlots;
  std::memset(Table, 0, std::size_t{slots} * 8);
  Regions = 1;
  RegionAt[0] = 0;
  RegionSlots[0] = slots;
  Used = 0;
  GrowAt = slots == Capacity ? kNever : slots / 3 * 2;
  NoteNode = NilNode;
  MissChar = 0;
}

// The next region, twice the newest; the last one takes all that is left
// (never less than the newest, so it too stays under two thirds full). Out
// of line, so that an insertion needs no stack frame.
[[gnu::noinline]] void THashIndex::OpenRegion(const TDicNodes& d) {
  const std::uint32_t k = Regions;
  const std::uint32_t at = RegionAt[k - 1] + RegionSlots[k - 1];
  const std::uint32_t previous = RegionSlots[k - 1];
  const std::uint32_t left = Capacity - at;
  const bool last = left < std::uint64_t{3} * previous || k + 1 == MaxRegions;
  const std::uint32_t slots = last ? left : 2 * previous;
  d.ExpectWrites((std::size_t{at} + slots) * 8);
  std::memset(Table + 2 * std::size_t{at}, 0, std::size_t{slots} * 8);
  RegionAt[k] = at;
  RegionSlots[k] = slots;
  Regions = k + 1;
  Used = 0;
  GrowAt = last ? kNever : slots / 3 * 2;
  MissChar = 0;  // a noted free entry lies in an older region now
}

// Hash of the phrase of a node that the note does not name: the characters
// are summed from the node up to a one-character phrase, each parent found by
// a pass over the table. Slow, and only reached when the index is used in an
// order the packer does not use.
std::uint64_t THashIndex::PathHash(const TDicNodes& d, std::uint32_t node) const {
  std::uint64_t sum = 0;
  std::uint64_t power = 1;  // kMix to the number of characters summed so far
  const std::uint32_t slots = Slots();
  for (;;) {
    const std::uint8_t c = d.NodeChar[node];
    power *= kMix;
    sum += c * power;
    if (RootChild[c] == node) return sum + kEmptyHash * power;
    std::uint32_t i = 0;
    while (i < slots && (Entry(i) & NodeMask) != node) ++i;
    assert(i < slots);
    node = static_cast<std::uint32_t>(Entry(i) >> (NodeBits + 8));
  }
}

std::uint64_t THashIndex::HashOf(const TDicNodes& d, std::uint32_t node) const {
  if (node == RootNode) return kEmptyHash;
  const std::uint8_t c = d.NodeChar[node];
  if (RootChild[c] == node) return Extend(kEmptyHash, c);
  if (NoteNode == node) return NoteHash;
  return PathHash(d, node);
}

// Probes every region, the newest first, for (parent, c), whose child would
// have hash h: the child, or NilNode with the free entry that ended the
// newest region's probe in free.
std::uint32_t THashIndex::Probe(std::uint32_t parent, std::uint32_t c, std::uint64_t h, std::uint32_t& free) const {
  const std::uint64_t key = Key(parent, c);
  for (std::uint32_t k = Regions; k-- > 0;) {
    const std::uint32_t at = RegionAt[k];
    const std::uint32_t end = at + RegionSlots[k];
    std::uint32_t i = at + Home(h, RegionSlots[k]);
    for (;;) {
      const std::uint64_t e = Entry(i);
      if ((e >> NodeBits) == key) return static_cast<std::uint32_t>(e & NodeMask);
      if (e == 0) break;
      if (++i == end) i = at;
    }
    if (k + 1 == Regions) free = i;
  }
  return NilNode;
}

// The scan once the table has more than one region: each byte probes them
// all, the newest first.
std::uint32_t THashIndex::ScanRegions(const std::uint8_t* bytes, const std::uint8_t* p, const std::uint8_t* end,
                                      std::uint32_t node, std::uint64_t h, std::uint32_t& current) {
  for (; p != end; ++p) {
    const std::uint32_t c = *p;
    const std::uint64_t child = Extend(h, c);
    std::uint32_t free = 0;
    const std::uint32_t n = Probe(node, c, child, free);
    if (n == NilNode) return StopBefore(c, node, h, free, current, static_cast<std::uint32_t>(p - bytes));
    node = n;
    h = child;
  }
  return StopAtEnd(node, h, current, static_cast<std::uint32_t>(end - bytes));
}

std::uint32_t THashIndex::FindChildOf(TDicNodes& d, std::uint32_t parent, std::uint8_t c) {
  if (parent == RootNode) return RootChild[c];
  if (Regions == 0) Open();
  const std::uint64_t hash = HashOf(d, parent);
  const std::uint64_t child = Extend(hash, c);
  std::uint32_t free = 0;
  const std::uint32_t n = Probe(parent, c, child, free);
  if (n != NilNode) {
    NoteNode = n;
    NoteHash = child;
    MissChar = 0;
  } else {
    NoteNode = parent;
    NoteHash = hash;
    MissChar = 0x100u | c;
    MissSlot = free;
  }
  return n;
}

// AddChild's way when the note does not already hold the free entry: kept
// out of line so that the common way needs no stack frame.
[[gnu::noinline]] std::uint32_t THashIndex::AddChildProbing(TDicNodes& d, std::uint8_t c, std::uint32_t parent,
                                                            std::uint32_t n) {
  // Before the table opens, only one-character phrases exist, whose hashes
  // need no note.
  if (Regions == 0) Open();
  const std::uint64_t h = Extend(HashOf(d, parent), c);
  const std::uint32_t k = Regions - 1;
  const std::uint32_t at = RegionAt[k];
  const std::uint32_t end = at + RegionSlots[k];
  std::uint32_t i = at + Home(h, RegionSlots[k]);
  while (Entry(i) != 0) {
    assert((Entry(i) >> NodeBits) != Key(parent, c));
    if (++i == end) i = at;
  }
  SetEntry(i, Key(parent, c) << NodeBits | n);
  Placed(d, n, h);
  return n;
}

}  // namespace vorka
