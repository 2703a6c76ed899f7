// Storage and reset of the node store.
#include "DicStore.h"

#include <algorithm>

#include "../platform/Memory.h"

namespace vorka {

bool TDicNodes::Allocate(std::uint32_t n, bool largePages) {
  Release();
  const std::size_t count = n;
  // The characters follow the words in one block, so that the large pages
  // asked for unpacking cover both.
  auto* block = static_cast<std::uint8_t*>(platform::AllocateStorage(BlockBytes(count), largePages));
  auto* marks = block != nullptr ? static_cast<std::uint8_t*>(platform::AllocateStorage(count, false)) : nullptr;
  if (marks == nullptr) {
    platform::FreeStorage(block, BlockBytes(count), largePages);
    return false;
  }
  Words = reinterpret_cast<std::uint32_t*>(block);
  NodeChar = block + WordBytes(count);
  Marks = marks;
  LargePages = largePages;
  Slots = n;
  NodeLimit = n;
  NodeCount = FirstPhraseNode;
  return true;
}

void TDicNodes::Release() {
  platform::FreeStorage(Words, BlockBytes(Slots), LargePages);
  platform::FreeStorage(Marks, Slots, false);
  *this = TDicNodes{};
}

void TDicNodes::ExpectWrites(std::size_t bytes) const {
  if (LargePages) platform::UseLargePages(Words, bytes);
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
  if (!Nodes.Allocate(dicSize, largePages)) return false;
  // The history is a help, not a need: without it the decoder copies only
  // from a call's own output. Pages a packer never touches cost no memory.
  History = static_cast<std::uint8_t*>(platform::AllocateStorage(HistoryBytes, largePages));
  Size = dicSize;
  MaxFrag = asked;
  return true;
}

void TDicStore::ExpectUnpacking(std::uint64_t plainBytes, std::uint64_t codeBytes) {
  // Every code is 9 bits or more and makes at most one node.
  const std::uint64_t nodes = std::min<std::uint64_t>(Nodes.Slots, codeBytes * 8 / 9 + FirstPhraseNode);
  Nodes.ExpectWrites(nodes < Nodes.Slots ? TDicNodes::WordBytes(nodes) : TDicNodes::BlockBytes(Nodes.Slots));
  if (Nodes.LargePages) platform::UseLargePages(History, std::min<std::uint64_t>(plainBytes, HistoryBytes));
}

void TDicStore::Release() {
  const bool largePages = Nodes.LargePages;
  Nodes.Release();
  platform::FreeStorage(History, HistoryBytes, largePages);
  *this = TDicStore{};
}

}  // namespace vorka
