// The hash child index: open addressing on (parent, character) in place of
// the child trees, for builds that put packing speed first. Both indexes
// number the nodes alike, so they write the same stream.
//
// Storage, lent by the store: its words and the unpacker's history, which a
// packer does not use, as 8-byte entries, at most MaxLoad a node: about 2.5
// a node for the default dictionary, never fewer than 1.5, so the table is
// at most two thirds full. A sparser table packs faster (measured on the
// Canterbury and Calgary files: 1.5 entries a node 8 % slower than 2.5,
// which is as fast as 3 or 4): fewer lookups go past their first entry, and
// each such step is a branch that cannot be foreseen. An entry is (parent <<
// 8 | character) << 28 | node; 0 is empty, as no key is 0 (parents are 3 or
// more). The one-character phrases are in RootChild, not the table.
//
// Where an entry goes is decided by a hash of its phrase's characters, not
// by the parent's number: the home of the next byte's entry is known before
// this byte's entry has been read, so a scan issues its loads back to back
// instead of waiting for each in turn (measured: the same table keyed on
// (parent, character) packs 1.5 times slower). Entries still carry the exact
// key, so two phrases with one hash merely share a probe run.
//
// The table is cleared only as far as it is used: it opens as one region of
// at most 2 MiB (which a dictionary of up to 174762 nodes, the default
// included, never outgrows), and when the newest region is two thirds full
// the next one, twice as large, opens after it. Entries stay where they were
// put, so a lookup tries every open region (a dictionary of 268 million
// nodes ends with 11). A start or a reset thus costs what the last epoch
// used, not what the dictionary could hold. A stream of known length n
// places at most n entries, so its first region needs no more than MaxLoad
// entries a byte (a 4 KB input clears 96 KB, not 2 MiB).
//
// An insertion needs the parent's phrase hash, and a node number alone does
// not give it. The note keeps the node where the last scan or insertion
// stopped, its hash, and the free entry where the scan's final miss would go;
// the packer nearly always goes on from there. Any other node's hash is
// rebuilt by walking its path up through the table, one pass a character.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "DicStore.h"
#include "LZTypes.h"

namespace vorka {

class THashIndex {
public:
  static constexpr const char* Name = "hash";
  // Entries of the first region (2 MiB).
  static constexpr std::uint32_t StartSlots = std::uint32_t{1} << 18;
  // The first region of a short stream: at least this many entries.
  static constexpr std::uint32_t MinFirstSlots = 256;
  static constexpr unsigned MaxRegions = 16;
  // Entries a node at most, for a small dictionary, whose table is cleared
  // at every reset.
  static constexpr std::uint32_t MaxLoad = 3;

  std::uint32_t* Table{};       // entries as word pairs, read and written whole
  std::uint32_t Capacity{};     // entries the storage holds
  std::uint32_t FirstSlots{};   // entries of the first region
  std::uint32_t Regions{};      // regions open; 0 until first use
  std::uint32_t RegionAt[MaxRegions]{};     // first entry of each region
  std::uint32_t RegionSlots[MaxRegions]{};  // and its number of entries
  std::uint32_t Used{};         // entries filled in the newest region
  std::uint32_t GrowAt{};       // Used at which the next region opens
  std::uint64_t NoteHash{};     // the note (see above); NoteNode 0 = none
  std::uint32_t NoteNode{};
  std::uint32_t MissChar{};     // 0x100 | the character that missed, or 0
  std::uint32_t MissSlot{};     // free entry of the newest region that ended its probe
  std::uint32_t RootChild[256]{};

  // inputBytes: the most the stream will pack, or UnknownInput.
  void Attach(TDicNodes& d, std::uint64_t inputBytes);
  // Empties the index. The table is cleared on its first use, so that an
  // object that only unpacks never touches it.
  void Start(TDicNodes& d);

  std::uint32_t ScanPhrase(TDicNodes& d, const std::uint8_t* bytes, std::uint32_t length, std::uint32_t& current);
  std::uint32_t FindChildOf(TDicNodes& d, std::uint32_t parent, std::uint8_t c);
  std::uint32_t AddChild(TDicNodes& d, std::uint8_t c, std::uint32_t parent);

  // The block loop's way in (see TEncoderOf::RunPhrases): with one region
  // open, it follows phrases and places nodes itself, the table's state in
  // its own locals, and gives the counters back afterwards.
  static constexpr std::uint64_t kEmptyHash = 0x243F6A8885A308D3u;
  static std::uint64_t Extend(std::uint64_t h, std::uint32_t c) { return (h + c) * kMix; }
  static std::uint64_t Key(std::uint32_t parent, std::uint32_t c) { return std::uint64_t{parent} << 8 | c; }
  // Phrase hash of node, which the dictionary holds. The packer starts nearly
  // every scan at a one-character phrase, whose hash needs no walk.
  std::uint64_t PhraseHash(const TDicNodes& d, std::uint32_t node) const {
    const std::uint8_t first = d.NodeChar[node];
    return RootChild[first] == node ? Extend(kEmptyHash, first) : HashOf(d, node);
  }
  // Follows bytes [p, end) from node, whose phrase hash is h, through the
  // one region of the table; the scan began at bytes. Returns where it
  // stopped: at end, or at the first byte that node lacks, with free the
  // empty entry its probe ended at.
  [[gnu::always_inline]] static const std::uint8_t* Follow(const std::uint32_t* table, std::uint32_t slots,
                                                           std::uint32_t& node, std::uint64_t& h,
                                                           const std::uint8_t* bytes, const std::uint8_t* p,
                                                           const std::uint8_t* end, std::uint32_t& free);
  // Where a scan stops, in the note: before byte c, which node (phrase hash
  // h) does not have, with the free entry where c's node would go; or at the
  // end of the bytes. Both give current the node reached and return taken.
  std::uint32_t StopBefore(std::uint32_t c, std::uint32_t node, std::uint64_t h, std::uint32_t slot,
                           std::uint32_t& current, std::uint32_t taken) {
    MissSlot = slot;
    MissChar = 0x100 | c;
    NoteNode = node;
    NoteHash = h;
    current = node;
    return taken;
  }
  std::uint32_t StopAtEnd(std::uint32_t node, std::uint64_t h, std::uint32_t& current, std::uint32_t taken) {
    MissChar = 0;
    NoteNode = node;
    NoteHash = h;
    current = node;
    return taken;
  }

  // Entries in all open regions.
  std::uint32_t Slots() const { return Regions == 0 ? 0 : RegionAt[Regions - 1] + RegionSlots[Regions - 1]; }

  static constexpr unsigned NodeBits = 28;
  static constexpr std::uint64_t NodeMask = (std::uint64_t{1} << NodeBits) - 1;
  std::uint64_t Entry(std::uint32_t i) const {
    std::uint64_t e;
    std::memcpy(&e, Table + 2 * std::size_t{i}, sizeof e);
    return e;
  }
  void SetEntry(std::uint32_t i, std::uint64_t e) { std::memcpy(Table + 2 * std::size_t{i}, &e, sizeof e); }

private:
  // Phrase hash: hash(s + c) = (hash(s) + c) * kMix, all mod 2^64. Being a
  // polynomial, it can also be summed from the end of a phrase towards its
  // start (PathHash).
  static constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15u;

  // First entry to probe in a region: 32 bits of the hash scaled to the region
  // by a multiply rather than a division. Not the top 32: the hashes of short
  // phrases lie on a lattice (a * kMix^2 + b * kMix for two characters) whose
  // top bits bunch, and on random bytes a miss took 4.9 probes there against
  // 1.7 with bits 22 to 53, which every character reaches through the multiply
  // as well.
  static std::uint32_t Home(std::uint64_t h, std::uint32_t slots) {
    return static_cast<std::uint32_t>((((h >> 22) & 0xFFFFFFFFu) * slots) >> 32);
  }

  void Open();
  void OpenRegion(const TDicNodes& d);
  std::uint64_t HashOf(const TDicNodes& d, std::uint32_t node) const;
  std::uint64_t PathHash(const TDicNodes& d, std::uint32_t node) const;
  std::uint32_t Probe(std::uint32_t parent, std::uint32_t c, std::uint64_t h, std::uint32_t& free) const;
  std::uint32_t ScanRegions(const std::uint8_t* bytes, const std::uint8_t* p, const std::uint8_t* end,
                            std::uint32_t node, std::uint64_t h, std::uint32_t& current);
  std::uint32_t AddChildProbing(TDicNodes& d, std::uint8_t c, std::uint32_t parent, std::uint32_t n);
  void Placed(const TDicNodes& d, std::uint32_t n, std::uint64_t h);
};

// The scan and the insertion are inline: the packer runs them once a phrase,
// and on random bytes a phrase is one or two bytes long.
inline std::uint32_t THashIndex::ScanPhrase(TDicNodes& d, const std::uint8_t* bytes, std::uint32_t length,
                                            std::uint32_t& current) {
  if (length == 0) return 0;
  std::uint32_t node = current;
  const std::uint8_t* p = bytes;
  if (node == RootNode) {
    node = RootChild[*p];
    if (node == NilNode) return 0;
    ++p;
  }
  if (Regions == 0) Open();
  std::uint64_t h = p != bytes ? Extend(kEmptyHash, bytes[0]) : PhraseHash(d, node);
  const std::uint8_t* const end = bytes + length;
  if (Regions > 1) return ScanRegions(bytes, p, end, node, h, current);
  std::uint32_t free = 0;
  p = Follow(Table, RegionSlots[0], node, h, bytes, p, end, free);
  const auto taken = static_cast<std::uint32_t>(p - bytes);
  return p != end ? StopBefore(*p, node, h, free, current, taken) : StopAtEnd(node, h, current, taken);
}

inline const std::uint8_t* THashIndex::Follow(const std::uint32_t* table, std::uint32_t slots, std::uint32_t& node,
                                              std::uint64_t& h, const std::uint8_t* bytes, const std::uint8_t* p,
                                              const std::uint8_t* end, std::uint32_t& free) {
  // The key is compared shifted into place: a hit leaves the child's number
  // as the difference. Most bytes hit at their home, so the first probe is
  // on the straight path and the rest of the run is out of line.
  for (; p != end; ++p) {
    const std::uint32_t c = *p;
    const std::uint64_t child = Extend(h, c);
    const std::uint64_t want = Key(node, c) << NodeBits;
    std::uint32_t i = Home(child, slots);
    std::uint64_t e;
    std::memcpy(&e, table + 2 * std::size_t{i}, sizeof e);
    std::uint64_t x = e ^ want;
    if (x > NodeMask) [[unlikely]] {
      do {
        if (e == 0) {
          // After a short phrase (random-looking data) the next phrases'
          // first entries are fetched now: the next phrase starts at c, and
          // when its lookup of p[1] misses, the one after starts at p[1].
          // Their loads otherwise wait behind this miss's mispredicted branch.
          if (p - bytes < 2 && end - p > 2) {
            const std::uint64_t h1 = Extend(Extend(kEmptyHash, c), p[1]);
            const std::uint64_t h2 = Extend(Extend(kEmptyHash, p[1]), p[2]);
            __builtin_prefetch(table + 2 * std::size_t{Home(h1, slots)});
            __builtin_prefetch(table + 2 * std::size_t{Home(h2, slots)});
            __builtin_prefetch(table + 2 * std::size_t{Home(Extend(h1, p[2]), slots)});
          }
          free = i;
          return p;
        }
        if (++i == slots) i = 0;
        std::memcpy(&e, table + 2 * std::size_t{i}, sizeof e);
        x = e ^ want;
      } while (x > NodeMask);
    }
    node = static_cast<std::uint32_t>(x);
    h = child;
  }
  return p;
}

// Node n, just entered with phrase hash h: the note names it, and the newest
// region counts it.
inline void THashIndex::Placed(const TDicNodes& d, std::uint32_t n, std::uint64_t h) {
  NoteNode = n;
  NoteHash = h;
  MissChar = 0;
  if (++Used >= GrowAt) [[unlikely]] OpenRegion(d);
}

// Only called for a character that parent does not have yet.
inline std::uint32_t THashIndex::AddChild(TDicNodes& d, std::uint8_t c, std::uint32_t parent) {
  if (d.Full()) return NilNode;
  const std::uint32_t n = d.NodeCount++;
  d.NodeChar[n] = c;
  if (parent == RootNode) {
    RootChild[c] = n;
    return n;
  }
  if (NoteNode != parent || MissChar != (0x100u | c)) return AddChildProbing(d, c, parent, n);
  assert(Entry(MissSlot) == 0);
  SetEntry(MissSlot, Key(parent, c) << NodeBits | n);
  Placed(d, n, Extend(NoteHash, c));
  return n;
}

}  // namespace vorka
