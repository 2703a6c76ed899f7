// Dictionary node store: parallel arrays indexed by node number. A node is its
// prefix's phrase followed by one character. While packing, the children of a
// node form a binary search tree on the character (root in NodeRoot, links in
// NodeLinks); while unpacking the same 4-byte array holds each node's prefix
// and the links hold where and how long its phrase is in the output.
//
// The child index used by the encoder is the trio ScanPhrase / FindChildOf /
// AddChild, chosen when the library is built: the child trees (the default),
// or a hash table on (node, character) kept in the link and root storage,
// which packing with a hash index does not otherwise use. Both number the
// nodes alike, so they write the same stream.
#pragma once

#include <cassert>
#include <cstdint>

#include "LZTypes.h"

namespace vorka {

struct TDicNodes {
  std::uint32_t NodeLimit{};
  std::uint32_t NodeCount{};
  std::uint8_t* NodeChar{};
  std::uint32_t* NodeLinks{};   // two per node: [2n] lower, [2n + 1] higher
  std::uint8_t* NodeBit{};      // balance bit in bit 0
  std::uint32_t* NodeRoot{};    // packing: root of the node's child tree
  std::uint32_t* NodePrefix{};  // unpacking: same storage as NodeRoot
  // True while the store serves a packer; only then does InitNodes prepare
  // a hash index (the unpacker never looks phrases up).
  bool Packing{};
  std::uint32_t HashSlots{};  // hash index: 8-byte entries in links + roots
  // Hash index: emptied on first use after a reset, so that an object that
  // only ever unpacks never clears (and never touches) the table.
  bool IndexPending{};
  // Packing: the one-character phrases by character (0 = none). Every phrase
  // end looks one up; the root's child tree (or the hash table) holds them
  // too, but this finds them in one load.
  std::uint32_t RootChild[256]{};

  // True when the packer's child index is the child trees, false for the hash
  // index. The tree operations below work in both builds.
  static bool UsesChildTrees();

  void InitNodes(std::uint32_t limit);
  void ClearIndex();

  std::uint32_t& Link(std::uint32_t n, unsigned side) { return NodeLinks[2 * n + side]; }
  bool Full() const { return NodeCount >= NodeLimit; }

  // Node with character c in the tree rooted at t, or NilNode.
  std::uint32_t FindChild(std::uint8_t c, std::uint32_t t) {
    NodeChar[NilNode] = c;
    std::uint32_t n = t;
    while (NodeChar[n] != c) n = NodeLinks[2 * n + (NodeChar[n] < c)];
    return n;
  }
  // Packing: the child of parent with character c, or NilNode.
  std::uint32_t FindChildOf(std::uint32_t parent, std::uint8_t c);

  // Follows the dictionary from current over as many bytes as it can; returns
  // the bytes taken and leaves the last node reached in current.
  std::uint32_t ScanPhrase(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t& current);

  // A fresh node with empty links, bit and tree, or NilNode when full.
  std::uint32_t NewNode();
  // Packing: new child of parent with character c, linked into parent's tree.
  std::uint32_t AddChild(std::uint8_t c, std::uint32_t parent);
  // Unpacking: new node prefix + c, no tree, whose phrase was written at
  // output position at (counted modulo 2^32); NilNode when full.
  std::uint32_t AppendNode(std::uint8_t c, std::uint32_t prefix, std::uint32_t at = 0);
  // Unpacking: where the phrase of node n was last written, and its length.
  std::uint32_t& PhraseAt(std::uint32_t n) { return NodeLinks[2 * std::size_t{n}]; }
  std::uint32_t PhraseLength(std::uint32_t n) const { return NodeLinks[2 * std::size_t{n} + 1]; }

  // Unpacking: writes the phrase of node code (>= 3, made by AppendNode, which
  // records its length) into buffer[0..L-1] when its length L
  // fits room and returns L; otherwise returns room - L (negative) and leaves
  // the buffer undefined.
  std::int64_t Unwind(std::uint32_t code, std::uint8_t* buffer, std::uint32_t room);

  // Inserts node n (character set, links and bit clear) into the tree whose
  // root is held in *slot, keeping the tree roughly balanced.
  void InsertNode(std::uint32_t n, std::uint32_t* slot);
};

// Inline: the packer makes a node per phrase, the unpacker unwinds a code
// and makes a node per item.
inline std::uint32_t TDicNodes::NewNode() {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodeLinks[2 * n] = NilNode;
  NodeLinks[2 * n + 1] = NilNode;
  NodeBit[n] = 0;
  NodeRoot[n] = NilNode;
  return n;
}

inline std::uint32_t TDicNodes::AppendNode(std::uint8_t c, std::uint32_t prefix, std::uint32_t at) {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodePrefix[n] = prefix;
  NodeChar[n] = c;
  // The unpacker has no use for links: they keep where the phrase was last
  // written and its length, so that a code can be copied from recent output
  // (or, failing that, unwound knowing where the phrase ends).
  NodeLinks[2 * n] = at;
  NodeLinks[2 * n + 1] = NodeLinks[2 * std::size_t{prefix} + 1] + 1;
  return n;
}

inline std::int64_t TDicNodes::Unwind(std::uint32_t code, std::uint8_t* buffer, std::uint32_t room) {
  assert(code >= FirstPhraseNode && code < NodeCount);
  const std::uint32_t length = NodeLinks[2 * std::size_t{code} + 1];
  if (length > room) return std::int64_t{room} - length;
  const std::uint8_t* const chars = NodeChar;
  const std::uint32_t* const prefix = NodePrefix;
  // The chain comes last character first: write it from the phrase's end.
  std::uint8_t* p = buffer + length;
  std::uint32_t n = code;
  while (p != buffer) {
    *--p = chars[n];
    assert(prefix[n] < n);  // prefixes strictly decrease, so the walk ends
    n = prefix[n];
  }
  assert(n == RootNode);
  return length;
}

}  // namespace vorka
