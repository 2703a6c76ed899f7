// The child trees: the packer's default child index. The children of each
// node form a binary search tree on their characters, kept roughly balanced
// by one bit a node (see InsertNode). A search writes the sought character
// into node 0 first, so an empty link ends it without a test of its own.
//
// Storage, lent by the store (13 bytes a node): a link pair, the root of the
// node's own child tree, and the balance bit. A node's entries are written
// when it is made, so a reset clears only the reserved nodes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "DicStore.h"
#include "LZTypes.h"

namespace vorka {

class TChildTrees {
public:
  static constexpr const char* Name = "tree";

  std::uint32_t* NodeLinks{};  // two per node: [2n] lower, [2n + 1] higher
  std::uint32_t* NodeRoot{};   // root of the node's child tree, 0 = none
  std::uint8_t* NodeBit{};     // balance bit in bit 0
  // The one-character phrases by character (0 = none). Every phrase end
  // looks one up; the root's tree holds them too, but this finds them in one
  // load.
  std::uint32_t RootChild[256]{};

  // The trees touch their storage only as nodes are made: the stream's
  // length does not matter.
  void Attach(TDicNodes& d, std::uint64_t inputBytes);
  // Empties the index after the store's InitNodes.
  void Start(TDicNodes& d);

  // Follows the dictionary from current over as many bytes as it can; returns
  // the bytes taken and leaves the last node reached in current.
  std::uint32_t ScanPhrase(TDicNodes& d, const std::uint8_t* bytes, std::uint32_t length,
                           std::uint32_t& current) const;
  // The same over [p, end) with the arrays in the caller's locals; returns
  // where it stopped.
  [[gnu::always_inline]] static const std::uint8_t* Follow(const std::uint8_t* chars, const std::uint32_t* links,
                                                           const std::uint32_t* roots, std::uint32_t& node,
                                                           const std::uint8_t* p, const std::uint8_t* end);
  // The child of parent with character c, or NilNode.
  std::uint32_t FindChildOf(TDicNodes& d, std::uint32_t parent, std::uint8_t c) const {
    return FindChild(d, c, NodeRoot[parent]);
  }
  // A new child of parent with character c (which parent does not have yet),
  // or NilNode when the store is full.
  std::uint32_t AddChild(TDicNodes& d, std::uint8_t c, std::uint32_t parent);

  // Node with character c in the tree rooted at t, or NilNode.
  std::uint32_t FindChild(TDicNodes& d, std::uint8_t c, std::uint32_t t) const {
    std::uint8_t* const chars = d.NodeChar;
    chars[NilNode] = c;
    std::uint32_t n = t;
    while (chars[n] != c) n = NodeLinks[2 * std::size_t{n} + (chars[n] < c)];
    return n;
  }
  // Inserts node n (character set, links and bit clear) into the tree whose
  // root is held in *slot, keeping the tree roughly balanced.
  void InsertNode(const TDicNodes& d, std::uint32_t n, std::uint32_t* slot);
};

inline const std::uint8_t* TChildTrees::Follow(const std::uint8_t* chars, const std::uint32_t* links,
                                               const std::uint32_t* roots, std::uint32_t& node,
                                               const std::uint8_t* p, const std::uint8_t* end) {
  // One loop over tree steps and input bytes. Each step loads the character
  // and both links of n at once, the pair as one word: the link address does
  // not wait for the character, so a step costs one memory latency, not two
  // (book1 +22 %). Choosing the link from the pair is a conditional move; a
  // match is a branch, which measured faster than masks that also load the
  // child root on every step.
  constexpr unsigned kHigherShift = std::endian::native == std::endian::little ? 32 : 0;
  if (p == end) return p;
  std::uint32_t c = *p;
  std::uint32_t n = roots[node];
  while (n != NilNode) {
    const std::uint32_t nc = chars[n];
    std::uint64_t pair;
    std::memcpy(&pair, links + 2 * std::size_t{n}, sizeof pair);
    if (nc == c) {
      node = n;
      if (++p == end) break;
      c = *p;
      n = roots[n];
    } else {
      n = static_cast<std::uint32_t>(pair >> (nc < c ? kHigherShift : 32 - kHigherShift));
    }
  }
  return p;
}

}  // namespace vorka
