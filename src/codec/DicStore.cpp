// Storage and reset of the node store.
#include "DicStore.h"

#include <algorithm>

#include "../platform/Memory.h"

namespace vorka {

bool TDicNodes::Allocate(std::uint32_t n, std::size_t lead, bool largePages) {
  Release();
  const std::size_t bytes = lead + WordBytes(n) + n;
  auto* block = static_cast<std::uint8_t*>(platform::AllocateStorage(bytes, largePages));
  auto* marks = block != nullptr ? static_cast<std::uint8_t*>(platform::AllocateStorage(n, false)) : nullptr;
  if (marks == nullptr) {
    platform::FreeStorage(block, bytes, largePages);
    return false;
  }
  Block = block;
  Lead = lead;
  Words = reinterpret_cast<std::uint32_t*>(block + lead);
  NodeChar = block + lead + WordBytes(n);
  Marks = marks;
  LargePages = largePages;
  Slots = n;
  NodeLimit = n;
  NodeCount = FirstPhraseNode;
  return true;
}

void TDicNodes::Release() {
  platform::FreeStorage(Block, BlockBytes(), LargePages);
  platform::FreeStorage(Marks, Slots, false);
  *this = TDicNodes{};
}

void TDicNodes::ExpectWrites(std::size_t bytes) const {
  if (LargePages) platform::UseLargePages(Block, bytes);
}

void TDicNodes::InitNodes(std::uint32_t limit) {
  assert(limit <= Slots);
  NodeLimit = limit;
  NodeCount = FirstPhraseNode;
  for (std::uint32_t n = 0; n < FirstPhraseNode; ++n) NodeChar[n] = 0;
}

void TDicNodes::StartSpans() {
  for (std::uint32_t n = 0; n < FirstPhraseNode; ++n) {
    View().Place(n, 0, NilNode, 0, 0);
  }
}

bool TDicStore::Allocate(std::uint32_t dicSize, bool largePages) {
  Release();
  if (dicSize == 0) return false;
  const std::uint32_t asked = dicSize;
  if (dicSize < MinDictionarySize) dicSize = MinDictionarySize;
  if (dicSize > MaxDictionarySize) dicSize = MaxDictionarySize;
  // The history leads the block: a packer never writes it unless its index
  // takes it, and pages never written cost no memory.
  if (!Nodes.Allocate(dicSize, HistorySpan, largePages)) return false;
  History = Nodes.Block;
  Size = dicSize;
  MaxFrag = asked;
  return true;
}

void TDicStore::ExpectUnpacking(std::uint64_t plainBytes, std::uint64_t codeBytes) {
  // Every code is 9 bits or more and makes at most one node. The history is
  // written as far as the output goes, the words as far as the nodes go.
  const std::uint64_t nodes = std::min<std::uint64_t>(Nodes.Slots, codeBytes * 8 / 9 + FirstPhraseNode);
  const std::uint64_t history = std::min<std::uint64_t>(plainBytes, HistoryBytes);
  const std::uint64_t words = TDicNodes::WordBytes(nodes);
  if (words >= platform::LargePagesFrom) {
    Nodes.ExpectWrites(nodes < Nodes.Slots ? Nodes.Lead + words : Nodes.BlockBytes());
  } else {
    Nodes.ExpectWrites(history);
  }
}

void TDicStore::Release() {
  Nodes.Release();
  *this = TDicStore{};
}

}  // namespace vorka
