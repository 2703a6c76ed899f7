// The hash child index: one open-addressing table on (parent, character) in
// place of the child trees, for builds that put packing speed first. A lookup
// is one probe of a table whose entries carry their key, so most bytes cost a
// single cache miss instead of a chain of tree steps.
//
// The table lives in the link and root arrays (12 bytes a node, 8-byte
// entries: 1.5 entries a node, so it is at most two thirds full). Entry
// layout: key = parent << 8 | character in the high 36 bits, node in the low
// 28; 0 is an empty entry, as no key is 0 (parents are 2 or more).
#if defined(VORKA_CHILD_INDEX_HASH) && VORKA_CHILD_INDEX_HASH

#include <cassert>
#include <cstring>

#include "codec/LZDic0.h"

namespace vorka {
namespace {

constexpr unsigned kNodeBits = 28;
constexpr std::uint64_t kNodeMask = (std::uint64_t{1} << kNodeBits) - 1;

std::uint64_t Key(std::uint32_t parent, std::uint32_t c) { return std::uint64_t{parent} << 8 | c; }

// First entry to probe for key: the high half of a multiplicative hash,
// scaled to the table by a multiply rather than a division.
std::uint32_t Home(std::uint64_t key, std::uint32_t slots) {
  const auto h = static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15u) >> 32);
  return static_cast<std::uint32_t>((std::uint64_t{h} * slots) >> 32);
}

std::uint64_t Entry(const std::uint32_t* table, std::uint32_t i) {
  std::uint64_t e;
  std::memcpy(&e, table + 2 * std::size_t{i}, sizeof e);
  return e;
}

// The node of key, or NilNode once an empty entry ends the probe run.
std::uint32_t Probe(const std::uint32_t* table, std::uint32_t slots, std::uint64_t key) {
  std::uint32_t i = Home(key, slots);
  for (;;) {
    const std::uint64_t e = Entry(table, i);
    if ((e >> kNodeBits) == key) return static_cast<std::uint32_t>(e & kNodeMask);
    if (e == 0) return NilNode;
    if (++i == slots) i = 0;
  }
}

}  // namespace

std::uint32_t TDicNodes::ScanPhrase(const std::uint8_t* bytes, std::uint32_t length,
                                    std::uint32_t& current) {
  const std::uint32_t* const table = NodeLinks;
  const std::uint32_t slots = HashSlots;
  std::uint32_t node = current;
  std::uint32_t taken = 0;
  while (taken < length) {
    const std::uint32_t n = Probe(table, slots, Key(node, bytes[taken]));
    if (n == NilNode) break;
    node = n;
    ++taken;
  }
  current = node;
  return taken;
}

std::uint32_t TDicNodes::FindChildOf(std::uint32_t parent, std::uint8_t c) {
  return Probe(NodeLinks, HashSlots, Key(parent, c));
}

// Only called for a character that parent does not have yet.
std::uint32_t TDicNodes::AddChild(std::uint8_t c, std::uint32_t parent) {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodeChar[n] = c;
  const std::uint64_t key = Key(parent, c);
  std::uint32_t i = Home(key, HashSlots);
  while (Entry(NodeLinks, i) != 0) {
    assert((Entry(NodeLinks, i) >> kNodeBits) != key);
    if (++i == HashSlots) i = 0;
  }
  const std::uint64_t e = key << kNodeBits | n;
  std::memcpy(NodeLinks + 2 * std::size_t{i}, &e, sizeof e);
  if (parent == RootNode) RootChild[c] = n;
  return n;
}

}  // namespace vorka

#endif
