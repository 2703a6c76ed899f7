// Node store operations shared by both child indexes: initialisation, node
// creation and the unwinding of a code into its characters.
#include "LZDic0.h"

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
  std::memset(RootChild, 0, sizeof RootChild);
  // The hash index lives in the link and root arrays, which an unpacker uses
  // for other things; a packer needs it empty. Clearing costs a few percent
  // of an epoch at any dictionary size, since the table grows with it; it
  // is done by the index's first lookup or insertion (ClearIndex).
  HashSlots = static_cast<std::uint32_t>(std::uint64_t{limit} * 3 / 2);
  IndexPending = HashIndex && Packing;
}

void TDicNodes::ClearIndex() {
  std::memset(NodeLinks, 0, std::size_t{HashSlots} * 8);
  IndexPending = false;
}

bool TDicNodes::UsesChildTrees() { return !HashIndex; }

}  // namespace vorka
