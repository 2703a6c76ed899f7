// The hash child index: one open-addressing table on (parent, character) in
// place of the child trees, for builds that put packing speed first. Both
// indexes number the nodes alike, so they write the same stream.
//
// Storage, lent by the store (13 bytes a node): 8-byte entries, 1.5 a node,
// so the table is at most two thirds full; and one byte a node naming the
// table generation the node's entry was last placed in. An entry is
// (parent << 8 | character) << 28 | node; 0 is empty, as no key is 0 (parents
// are 3 or more). The one-character phrases are in RootChild, not the table.
//
// The table starts small and doubles as entries come, so a start or a reset
// clears what the last epoch used, not what the dictionary could hold: a
// 268-million-node dictionary packing a small file touches a few megabytes.
// An entry's place is a hash of its key alone, so growing can re-place every
// entry in place without knowing its phrase.
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
  // Entries a table starts with (2 MiB): dictionaries of up to 174762 nodes,
  // the default included, never grow theirs.
  static constexpr std::uint32_t StartSlots = std::uint32_t{1} << 18;

  std::uint32_t* Table{};        // entries as word pairs, read and written whole
  std::uint8_t* Placed{};        // per node: the generation its entry was placed in
  std::uint32_t Capacity{};      // entries the storage holds
  std::uint32_t Slots{};         // entries of the table now; 0 until first use
  std::uint32_t Used{};          // entries filled
  std::uint32_t GrowAt{};        // Used at which the table doubles
  std::uint8_t Generation{};     // of the entries placed now
  // The last miss: the free entry that ended the probe for (MissNode,
  // MissChar), where the packer's next insertion nearly always goes.
  // MissNode 0 = none.
  std::uint32_t MissNode{};
  std::uint32_t MissChar{};
  std::uint32_t MissSlot{};
  std::uint32_t RootChild[256]{};

  void Attach(TDicNodes& d);
  // Empties the index. The table is cleared on its first use, so that an
  // object that only unpacks never touches it.
  void Start(TDicNodes& d);

  std::uint32_t ScanPhrase(TDicNodes& d, const std::uint8_t* bytes, std::uint32_t length, std::uint32_t& current);
  std::uint32_t FindChildOf(TDicNodes& d, std::uint32_t parent, std::uint8_t c);
  std::uint32_t AddChild(TDicNodes& d, std::uint8_t c, std::uint32_t parent);

  static constexpr unsigned NodeBits = 28;
  static constexpr std::uint64_t NodeMask = (std::uint64_t{1} << NodeBits) - 1;
  static std::uint64_t Key(std::uint32_t parent, std::uint32_t c) { return std::uint64_t{parent} << 8 | c; }
  // First entry to probe for a key: the high half of a multiplicative hash
  // scaled to the table by a multiply rather than a division.
  static std::uint32_t Home(std::uint64_t key, std::uint32_t slots) {
    const std::uint64_t h = key * 0x9E3779B97F4A7C15u;
    return static_cast<std::uint32_t>(((h >> 32) * slots) >> 32);
  }
  std::uint64_t Entry(std::uint32_t i) const {
    std::uint64_t e;
    std::memcpy(&e, Table + 2 * std::size_t{i}, sizeof e);
    return e;
  }
  void SetEntry(std::uint32_t i, std::uint64_t e) { std::memcpy(Table + 2 * std::size_t{i}, &e, sizeof e); }

private:
  void Open();
  void Grow();
  std::uint32_t FreeSlot(std::uint64_t key);
};

}  // namespace vorka
