// Child trees: the phrase scan over them and their insertion. Each node's
// balance bit names the side that takes the next insertion through it without
// restructuring; every node passed on the way down flips its bit. When an
// insertion goes against the bit, the subtree is rotated around the node's
// nearest neighbours (Z on the far side, P on the near side). The tree stays a
// search tree in every case and roughly balanced: 256 ascending or descending
// characters give height 11.
//
// The restructuring is a template on the side B of the old bit, so that every
// link index is a constant; the tail calls of the rules are the outer loop.
#include "ChildTrees.h"

#include <cassert>
#include <cstring>

namespace vorka {
namespace {

// The arrays an insertion works on, by value: a store of a bit byte may alias
// any object in memory, so arrays read through the index's members would be
// fetched again after every such store.
struct TTreeArrays {
  std::uint32_t* Links;
  std::uint8_t* Bits;
  const std::uint8_t* Chars;
};

inline void Insert(TTreeArrays a, std::uint32_t n, std::uint32_t* slot);

struct TInsertStep {
  std::uint32_t Node;     // node still to insert, when Slot is not null
  std::uint32_t* Slot;    // tree to insert it into; null when done
};

template <unsigned B>
struct TTreeSide {
  static constexpr unsigned D = 1 - B;
  TTreeArrays A;

  std::uint32_t& L(std::uint32_t m, unsigned side) const { return A.Links[2 * std::size_t{m} + side]; }
  std::uint8_t& Bit(std::uint32_t m) const { return A.Bits[m]; }

  void MakeLeaf(std::uint32_t m) const {
    L(m, 0) = NilNode;
    L(m, 1) = NilNode;
    Bit(m) = 0;
  }
  void TakeLinksAndBit(std::uint32_t to, std::uint32_t from) const {
    std::memcpy(&L(to, 0), &L(from, 0), 2 * sizeof(std::uint32_t));
    Bit(to) = Bit(from);
  }
  // Z: the node of X's far subtree nearest to X; SZ holds it, Q is its parent.
  void FindFar(std::uint32_t x, std::uint32_t& z, std::uint32_t*& sz, std::uint32_t& q) const {
    q = x;
    sz = &L(x, D);
    z = *sz;
    for (std::uint32_t next; (next = L(z, B)) != NilNode;) {
      q = z;
      sz = &L(z, B);
      z = next;
    }
  }
  void SetPath(std::uint32_t m) const {
    for (; m != NilNode; m = L(m, B)) Bit(m) = static_cast<std::uint8_t>(B);
  }
  // A parent whose bit points at an empty side after an unhook turns round.
  void FixParent(std::uint32_t q) const {
    if (L(q, 1u - Bit(q)) == NilNode) Bit(q) ^= 1;
  }

  // X sits in slot, its bit already flipped to D; n goes to side D of X.
  TInsertStep Restructure(std::uint32_t n, std::uint32_t* slot, std::uint32_t x) const {
    const std::uint8_t c = A.Chars[n];
    const std::uint8_t* const chars = A.Chars;

    if (L(x, D) == NilNode) {  // room on the far side: n takes X's place, X below it
      *slot = n;
      L(n, B) = x;
      Bit(n) = Bit(x);
      return {0, nullptr};
    }

    std::uint32_t z;
    std::uint32_t* sz;
    std::uint32_t q;
    if (L(x, B) == NilNode) {
      FindFar(x, z, sz, q);
      if (B != static_cast<unsigned>(chars[z] > c)) {  // c between X and Z
        TakeLinksAndBit(n, x);
        L(n, B) = x;
        MakeLeaf(x);
        *slot = n;
        return {0, nullptr};
      }
      // Z between X and c: Z moves up, X drops to its near side.
      *slot = z;
      *sz = L(z, D);
      FixParent(q);
      TakeLinksAndBit(z, x);
      Bit(z) ^= 1;
      MakeLeaf(x);
      L(z, B) = x;
      SetPath(L(z, D));
      return {n, &L(z, D)};
    }

    // Both sides taken: X swaps into P's position first.
    std::uint32_t p = L(x, B);
    std::uint32_t* sp = &L(x, B);
    for (std::uint32_t next; (next = L(p, D)) != NilNode;) {
      sp = &L(p, D);
      p = next;
    }
    *sp = x;
    FindFar(x, z, sz, q);
    if (B != static_cast<unsigned>(chars[z] >= c)) {  // c between X and Z
      TakeLinksAndBit(n, x);
      TakeLinksAndBit(x, p);
      MakeLeaf(p);
      *slot = n;
      return {p, &L(n, B)};
    }
    *slot = z;
    *sz = L(z, D);
    TakeLinksAndBit(z, x);
    TakeLinksAndBit(x, p);
    MakeLeaf(p);
    FixParent(q);
    const std::uint32_t m = L(z, D);
    std::uint8_t saved = m != NilNode ? Bit(m) : 0;
    SetPath(m);
    Insert(A, n, &L(z, D));
    const std::uint32_t r = L(z, D);
    if (L(r, 1u - (saved & 1u)) == NilNode) saved ^= 1;
    Bit(r) = saved;
    return {p, &L(z, B)};
  }
};

// The descent: flips the bit of every node passed and puts n into the first
// empty slot on the way. Returns false, with the node where the descent
// stopped in x and its old bit in b, when a restructure is due there.
[[gnu::always_inline]] inline bool Descend(TTreeArrays a, std::uint32_t n, std::uint32_t*& slot, std::uint32_t& x,
                                           unsigned& b) {
  std::uint32_t* const links = a.Links;
  std::uint8_t* const bits = a.Bits;
  const std::uint8_t* const chars = a.Chars;
  x = *slot;
  if (x == NilNode) {
    *slot = n;
    return true;
  }
  const std::uint8_t c = chars[n];
  for (;;) {
    b = bits[x];
    bits[x] = static_cast<std::uint8_t>(b ^ 1);
    const unsigned side = chars[x] < c;
    if (side != b) return false;
    slot = &links[2 * std::size_t{x} + b];
    x = *slot;
    if (x == NilNode) {
      *slot = n;
      return true;
    }
  }
}

// From a restructure on: out of line, so that an insertion that needs none
// (most do) runs without a stack frame.
[[gnu::noinline]] void Restructure(TTreeArrays a, std::uint32_t n, std::uint32_t* slot, std::uint32_t x, unsigned b) {
  for (;;) {
    const TInsertStep next = b != 0 ? TTreeSide<1>{a}.Restructure(n, slot, x) : TTreeSide<0>{a}.Restructure(n, slot, x);
    if (next.Slot == nullptr) return;
    n = next.Node;
    slot = next.Slot;
    if (Descend(a, n, slot, x, b)) return;
  }
}

inline void Insert(TTreeArrays a, std::uint32_t n, std::uint32_t* slot) {
  std::uint32_t x;
  unsigned b;
  if (!Descend(a, n, slot, x, b)) Restructure(a, n, slot, x, b);
}

}  // namespace

void TChildTrees::InsertNode(const TDicNodes& d, std::uint32_t n, std::uint32_t* slot) {
  Insert({NodeLinks, NodeBit, d.NodeChar}, n, slot);
}

void TChildTrees::Attach(TDicNodes& d, std::uint64_t) {
  NodeLinks = d.Words;
  NodeRoot = d.Words + 2 * std::size_t{d.Slots};
  NodeBit = d.Marks;
}

void TChildTrees::Start(TDicNodes&) {
  for (std::uint32_t n = 0; n < FirstPhraseNode; ++n) {
    NodeLinks[2 * n] = NilNode;
    NodeLinks[2 * n + 1] = NilNode;
    NodeBit[n] = 0;
    NodeRoot[n] = NilNode;
  }
  std::memset(RootChild, 0, sizeof RootChild);
}

std::uint32_t TChildTrees::ScanPhrase(TDicNodes& d, const std::uint8_t* bytes, std::uint32_t length,
                                      std::uint32_t& current) const {
  return static_cast<std::uint32_t>(Follow(d.NodeChar, NodeLinks, NodeRoot, current, bytes, bytes + length) - bytes);
}

std::uint32_t TChildTrees::AddChild(TDicNodes& d, std::uint8_t c, std::uint32_t parent) {
  if (d.Full()) return NilNode;
  const std::uint32_t n = d.NodeCount++;
  d.NodeChar[n] = c;
  NodeLinks[2 * std::size_t{n}] = NilNode;
  NodeLinks[2 * std::size_t{n} + 1] = NilNode;
  NodeBit[n] = 0;
  NodeRoot[n] = NilNode;
  InsertNode(d, n, &NodeRoot[parent]);
  if (parent == RootNode) RootChild[c] = n;
  return n;
}

}  // namespace vorka
