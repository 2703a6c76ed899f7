// Storage and reset of the node store.
#include "DicStore.h"

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
  NodePrefix = words + 2 * count;
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
    Words[2 * n] = 0;
    Words[2 * n + 1] = 0;
    NodePrefix[n] = NilNode;
  }
}

}  // namespace vorka
