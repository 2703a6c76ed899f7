// The dictionary store: the nodes as parallel arrays indexed by node number,
// the settings of the dictionary and the unpacker's history of recent output.
// A node is its prefix's phrase followed by one character; nodes are numbered
// in the order they are made, and the numbers are the phrase codes of the
// stream.
//
// The store holds the characters and lends the rest of its storage to one
// direction at a time: to the unpacker, which keeps its history of output and
// each node's prefix and where its phrase was last written (12 bytes a node);
// or to the packer's child index: TChildTrees takes 13 bytes a node, and
// THashIndex the history and the words together, one span, as its table. The
// storage is obtained once, in Allocate, and is touched only as it is used,
// so a start or a reset costs what the dictionary has used, not what it
// could hold.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "LZTypes.h"

namespace vorka {

// The unpacker's view of the store: plain pointers that the decoder's loops
// keep in locals. The one place that knows the unpacker's node layout: three
// words a node, where its phrase was last written, its length and its prefix,
// so that one base register reaches all three.
struct TNodeView {
  std::uint8_t* Chars{};
  std::uint32_t* Words{};

  // Writes node n as prefix + c, of length characters, written at output
  // position at.
  void Place(std::size_t n, std::uint8_t c, std::uint32_t prefix, std::uint32_t at, std::uint32_t length) const {
    std::uint32_t* const w = Node(n);
    w[AtWord] = at;
    w[LengthWord] = length;
    w[PrefixWord] = prefix;
    Chars[n] = c;
  }
  // Node numbers as std::size_t: a loop that keeps them so indexes without
  // widening them first.
  static constexpr unsigned AtWord = 0, LengthWord = 1, PrefixWord = 2;
  std::uint32_t* Node(std::size_t n) const { return Words + 3 * n; }
  std::uint32_t At(std::size_t n) const { return Node(n)[AtWord]; }
  std::uint32_t Length(std::size_t n) const { return Node(n)[LengthWord]; }
  std::uint32_t Prefix(std::size_t n) const { return Node(n)[PrefixWord]; }
  void SetAt(std::size_t n, std::uint32_t at) const { Node(n)[AtWord] = at; }
};

struct TDicNodes {
  std::uint32_t NodeLimit{};
  std::uint32_t NodeCount{};
  std::uint32_t Slots{};  // nodes the storage holds; NodeLimit is at most this
  std::uint8_t* NodeChar{};
  // 12 bytes a node: the unpacker's three words (TNodeView), or the packer's index.
  std::uint32_t* Words{};
  // 1 byte a node for the packer's index.
  std::uint8_t* Marks{};
  // The whole block: Lead bytes the nodes do not use, then the words, then
  // the characters. The lead and the words are one span for the packer.
  std::uint8_t* Block{};
  std::size_t Lead{};
  bool LargePages{};  // the block may have large pages

  // Allocates storage for n nodes (n >= FirstPhraseNode) after lead bytes of
  // the caller's; false, with no storage, when memory is short.
  bool Allocate(std::uint32_t n, std::size_t lead, bool largePages);
  static std::size_t WordBytes(std::size_t n) { return 3 * n * sizeof(std::uint32_t); }
  std::size_t SpanBytes() const { return Lead + WordBytes(Slots); }
  std::size_t BlockBytes() const { return SpanBytes() + Slots; }
  void Release();
  // The first bytes of the block will be written soon, much of them: large
  // pages there, when the storage may have them.
  void ExpectWrites(std::size_t bytes) const;

  // Empties the store: nodes 0 to 2 only, their characters 0.
  void InitNodes(std::uint32_t limit);
  bool Full() const { return NodeCount >= NodeLimit; }

  // ---- unpacking
  // Gives the reserved nodes empty phrases, which nothing changes after.
  void StartSpans();
  TNodeView View() const { return {NodeChar, Words}; }
};

// The storage of one dictionary and its settings, owned here and lent to
// an encoder or the decoder by their Start. All zero means "no storage".
struct TDicStore {
  // The unpacker's history buffer: what it decodes goes here first, after
  // the last WindowSize bytes or fewer of earlier output, StageSize bytes or
  // more at a time, with room for copies that write past a phrase.
  static constexpr std::uint32_t WindowSize = std::uint32_t{1} << 18;
  static constexpr std::uint32_t StageSize = std::uint32_t{1} << 19;
  // Copies move 16 bytes at a time and may write this far past a phrase.
  static constexpr std::uint32_t CopySlack = 15;
  static constexpr std::size_t HistoryBytes = std::size_t{WindowSize} + StageSize + CopySlack + 1;
  // The history leads the nodes' block, whole cache lines, so that the words
  // after it stay aligned.
  static constexpr std::size_t HistorySpan = (HistoryBytes + 63) / 64 * 64;

  TDicNodes Nodes{};
  std::uint8_t* History{};  // the lead of the nodes' block; nullptr: none
  std::uint32_t Size{};
  std::uint32_t MaxFrag{};

  // Obtains the storage for dicSize entries (pulled into the legal range);
  // false, with no storage, when dicSize is 0 or memory is short. The
  // fragment limit starts as dicSize. largePages: see platform/Memory.h.
  bool Allocate(std::uint32_t dicSize, bool largePages = false);
  void Release();

  // Unpacking codeBytes of codes, of at most plainBytes: where that will write
  // much of the storage, its pages are asked for large, which the system
  // then gives in far fewer steps.
  void ExpectUnpacking(std::uint64_t plainBytes, std::uint64_t codeBytes);

  std::uint32_t DictionarySize() const { return Size; }
  void SetMaxFragment(std::uint32_t n) { MaxFrag = n < MinFragmentLength ? MinFragmentLength : n; }
  // The limit in effect: never more than the dictionary.
  std::uint32_t MaxFragment() const { return MaxFrag < Size ? MaxFrag : Size; }
};

}  // namespace vorka
