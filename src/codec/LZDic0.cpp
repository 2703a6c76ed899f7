// Node store operations shared by both child indexes: initialisation, node
// creation and the unwinding of a code into its characters.
#include "codec/LZDic0.h"

#include <cassert>
#include <cstring>

namespace vorka {
namespace {
#if defined(VORKA_CHILD_INDEX_HASH) && VORKA_CHILD_INDEX_HASH
constexpr bool HashIndex = true;
#else
constexpr bool HashIndex = false;
#endif
}  // namespace

void TDicNodes::InitNodes(std::uint32_t limit) {
  NodeLimit = limit;
  NodeCount = FirstPhraseNode;
  for (std::uint32_t n = 0; n < FirstPhraseNode; ++n) {
    NodeLinks[2 * n] = NilNode;
    NodeLinks[2 * n + 1] = NilNode;
    NodeChar[n] = 0;
    NodeBit[n] = 0;
  }
  NodeRoot[RootNode] = NilNode;
  // The hash index lives in the link and root arrays, which an unpacker uses
  // for other things; a packer needs it empty. Clearing costs a few percent
  // of an epoch at any dictionary size, since the table grows with it.
  HashSlots = static_cast<std::uint32_t>(std::uint64_t{limit} * 3 / 2);
  if (HashIndex && Packing) std::memset(NodeLinks, 0, std::size_t{HashSlots} * 8);
}

bool TDicNodes::UsesChildTrees() { return !HashIndex; }

std::uint32_t TDicNodes::NewNode() {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodeLinks[2 * n] = NilNode;
  NodeLinks[2 * n + 1] = NilNode;
  NodeBit[n] = 0;
  NodeRoot[n] = NilNode;
  return n;
}

std::uint32_t TDicNodes::AppendNode(std::uint8_t c, std::uint32_t prefix) {
  if (Full()) return NilNode;
  const std::uint32_t n = NodeCount++;
  NodePrefix[n] = prefix;
  NodeChar[n] = c;
  // The unpacker has no use for links: the higher one keeps the phrase
  // length, so that Unwind knows where the phrase ends before it walks it.
  NodeLinks[2 * n + 1] = NodeLinks[2 * std::size_t{prefix} + 1] + 1;
  return n;
}

std::int64_t TDicNodes::Unwind(std::uint32_t code, std::uint8_t* buffer, std::uint32_t room) {
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
