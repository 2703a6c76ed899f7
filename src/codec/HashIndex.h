// The hash child index: open addressing on (parent, character) in place of
// the child trees, for builds that put packing speed first. Both indexes
// number the nodes alike, so they write the same stream.
//
// Storage, lent by the store: 12 bytes a node as 8-byte entries, 1.5 a node,
// so the table is at most two thirds full. An entry is (parent << 8 |
// character) << 28 | node; 0 is empty, as no key is 0 (parents are 3 or
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
// used, not what the dictionary could hold.
//
// An insertion needs the parent's phrase hash, and a node number alone does
// not give it. The note keeps the node where the last scan or insertion
// stopped, its hash, and the free entry where the scan's final miss would go;
// the packer nearly always goes on from there. Any other node's hash is
// rebuilt by walking its path up through the table, one pass a character.
#pragma once

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
  static constexpr unsigned MaxRegions = 16;

  std::uint32_t* Table{};       // entries as word pairs, read and written whole
  std::uint32_t Capacity{};     // entries the storage holds
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

  void Attach(TDicNodes& d);
  // Empties the index. The table is cleared on its first use, so that an
  // object that only unpacks never touches it.
  void Start(TDicNodes& d);

  std::uint32_t ScanPhrase(TDicNodes& d, const std::uint8_t* bytes, std::uint32_t length, std::uint32_t& current);
  std::uint32_t FindChildOf(TDicNodes& d, std::uint32_t parent, std::uint8_t c);
  std::uint32_t AddChild(TDicNodes& d, std::uint8_t c, std::uint32_t parent);

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
  void Open();
  void OpenRegion();
  std::uint64_t HashOf(const TDicNodes& d, std::uint32_t node) const;
  std::uint64_t PathHash(const TDicNodes& d, std::uint32_t node) const;
  std::uint32_t Probe(std::uint32_t parent, std::uint32_t c, std::uint64_t h, std::uint32_t& free) const;
  std::uint32_t ScanRegions(const std::uint8_t* bytes, const std::uint8_t* p, const std::uint8_t* end,
                            std::uint32_t node, std::uint64_t h, std::uint32_t& current);
  std::uint32_t AddChildProbing(TDicNodes& d, std::uint8_t c, std::uint32_t parent, std::uint32_t n);
  void Placed(std::uint32_t n, std::uint64_t h);
};

}  // namespace vorka
