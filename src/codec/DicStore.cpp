// Storage and reset of the node store.
#include "DicStore.h"

#include <cstring>
#include <new>

namespace vorka {

bool TDicNodes::Allocate(std::uint32_t n) {
  Release();
  const std::size_t count = n;
  auto* words = new (std::nothrow) std::uint32_t[3 * count];
  auto* chars = words != nullptr ? new (std::nothrow) std::uint8_t[count] : nullptr;
  auto* marks = chars != nullptr ? new (std::nothrow) std::uint8_t[count] : nullptr;
  if (marks == nullptr) {
    delete[] chars;
    delete[] words;
    return false;
  }
  Words = words;
  NodeChar = chars;
  Marks = marks;
  Slots = n;
  NodeLimit = n;
  NodeCount = FirstPhraseNode;
  return true;
}

void TDicNodes::Release() {
  delete[] Words;
  delete[] NodeChar;
  delete[] Marks;
  *this = TDicNodes{};
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

bool TDicStore::Allocate(std::uint32_t dicSize) {
  Release();
  if (dicSize == 0) return false;
  const std::uint32_t asked = dicSize;
  if (dicSize < MinDictionarySize) dicSize = MinDictionarySize;
  if (dicSize > MaxDictionarySize) dicSize = MaxDictionarySize;
  if (!Nodes.Allocate(dicSize)) return false;
  // The window is a help, not a need: without it the decoder unwinds every
  // code node by node. Pages a packer never touches cost no memory.
  Window = new (std::nothrow) std::uint8_t[WindowSize + CopySlack + 1];
  if (Window != nullptr) std::memset(Window + WindowSize, 0, CopySlack + 1);
  Size = dicSize;
  MaxFrag = asked;
  return true;
}

void TDicStore::Release() {
  Nodes.Release();
  delete[] Window;
  *this = TDicStore{};
}

}  // namespace vorka
