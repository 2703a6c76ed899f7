// The decoder: codes back to bytes. It rebuilds the packer's dictionary node
// for node, one phrase behind: the node made at a phrase boundary ends with
// the first character of what follows. Every item is checked against what the
// packer can have written before it touches the store.
//
// DecodePiece is one function over locals. A fast loop runs while the margins
// allow (a refill cannot pass the input's end, the longest copy fits the
// output room, the grammar expects a phrase code) and copies each code from
// where its phrase was last written; whatever it stops on goes to the careful
// step below it, over the same locals, which classifies that item once and
// returns to the fast loop. Nothing in the loop calls out of line, so the
// fast loop's values stay in registers.
//
// It writes into the store's history buffer, right after the output before
// it, so that every phrase still held is one distance test away whether it
// was written in this call or an earlier one; DecodeBlock hands the bytes on
// and slides the buffer's last WindowSize bytes to its front when it fills.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "Decoder.h"

namespace vorka {
namespace {

// Copies a phrase of length n (1 or more) 16 bytes at a time, writing up to
// 15 bytes past its end. The source ends at or before dst, so every byte it
// needs is read before a store can reach it.
inline void Move16(std::uint8_t* dst, const std::uint8_t* src) {
  std::uint8_t chunk[16];
  std::memcpy(chunk, src, 16);
  std::memcpy(dst, chunk, 16);
}
inline void CopyPhrase(std::uint8_t* dst, const std::uint8_t* src, std::uint32_t n) {
  Move16(dst, src);
  if (n > 16) [[unlikely]] {
    for (std::uint32_t i = 16; i < n; i += 16) Move16(dst + i, src + i);
  }
}

// Writes the phrase of node n, length characters, walking its prefixes from
// the last character back.
inline void UnwindInto(const TNodeView& nodes, std::uint32_t n, std::uint8_t* out, std::uint32_t length) {
  std::uint8_t* p = out + length;
  while (p != out) {
    *--p = nodes.Chars[n];
    assert(nodes.Prefix(n) < n);  // prefixes strictly decrease, so the walk ends
    n = nodes.Prefix(n);
  }
  assert(n == RootNode);
}

// The first character of node n's phrase (n is not the root).
inline std::uint8_t FirstOf(const TNodeView& nodes, std::uint32_t n) {
  while (nodes.Prefix(n) != RootNode) n = nodes.Prefix(n);
  return nodes.Chars[n];
}

// The dictionary's moving part. The careful step updates it through Follow;
// the fast loop keeps it in registers and makes its nodes by MakeNode.
struct TPhraseRun {
  std::uint32_t Count;    // nodes made
  std::uint32_t Current;  // the last phrase
  std::uint32_t FragLen;  // its length
};

// The node rule: after the phrase current, fragLen bytes written up to output
// position at, a phrase begins with the byte first; the one extended by the
// other's first byte becomes node count. The caller has checked that the store
// has room and that the phrase is shorter than the fragment limit.
[[gnu::always_inline]] inline void MakeNode(const TNodeView& nodes, std::size_t count, std::uint32_t current,
                                            std::uint32_t fragLen, std::uint8_t first, std::uint32_t at) {
  nodes.Place(count, first, current, at - fragLen, fragLen + 1);
}

// A phrase code, once its length bytes, the first one first, are (or will
// be) written at output position at: the node rule when makes (the previous
// phrase is shorter than the fragment limit, and there is one: not just after
// a reset), and the code becomes the phrase.
[[gnu::always_inline]] inline void Follow(const TNodeView& nodes, TPhraseRun& r, bool makes, std::uint32_t code,
                                          std::uint8_t first, std::uint32_t length, std::uint32_t at) {
  if (makes) MakeNode(nodes, r.Count++, r.Current, r.FragLen, first, at);
  nodes.SetAt(code, at);
  r.Current = code;
  r.FragLen = length;
}

// The constants of one DecodePiece call, and the width in force.
struct TCallConsts {
  unsigned Width;           // of the next phrase code
  std::uint32_t MaxFrag;    // no node is made after a phrase this long
  std::uint32_t Low;        // the first output position still held
  std::uint64_t Limit;      // the nodes the store may hold
  std::uint64_t FitAt;      // a copy must end at or before this position
  std::uint64_t Mask;       // 2^Width - 1
  std::uintptr_t Base;      // output position p is held at Base + p
  std::uint8_t* Chars;      // the nodes' characters
  std::uintptr_t RefillEnd;  // a refill reads 8 bytes from up to here
};

}  // namespace

void TDecoder::Start(TDicStore& store) {
  Store = &store;
  Bits.Clear();
  State = TDecodeState{};
  State.MaxFrag = store.MaxFrag;
  // The reserved nodes are never written again, so a reset in the stream only
  // restarts the count.
  TDicNodes& nodes = store.Nodes;
  nodes.InitNodes(store.Size);
  nodes.StartSpans();
  State.Current = RootNode;
}

// Owes the phrase of code, written from output position at, of which only
// room bytes fit (the dictionary has moved past it): its nodes are threaded
// first to last through their position links and handed out from there.
[[gnu::noinline]] std::uint32_t TDecoder::Owe(TDecodeState& s, std::uint32_t code, std::uint32_t at,
                                              std::uint8_t* out, std::uint32_t room) {
  const TNodeView nodes = Store->Nodes.View();
  std::uint32_t next = NilNode;
  for (std::uint32_t n = code; n != RootNode; n = nodes.Prefix(n)) {
    nodes.SetAt(n, next);
    next = n;
  }
  s.OwedNode = next;
  s.OwedAt = at;
  return DeliverOwed(s, out, room);
}

// Hands out the next bytes of the owed phrase, putting back each node's
// position as it goes: every node of the chain is a prefix written at OwedAt.
std::uint32_t TDecoder::DeliverOwed(TDecodeState& s, std::uint8_t* out, std::uint32_t room) {
  const TNodeView nodes = Store->Nodes.View();
  std::uint32_t n = s.OwedNode;
  std::uint32_t k = 0;
  while (n != NilNode && k < room) {
    out[k++] = nodes.Chars[n];
    const std::uint32_t next = nodes.At(n);
    nodes.SetAt(n, s.OwedAt);
    n = next;
  }
  s.OwedNode = n;
  return k;
}

bool TDecoder::DecodeBlock(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                           std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& produced) {
  constexpr std::uint32_t WindowSize = TDicStore::WindowSize;
  constexpr std::uint32_t HistoryRoom = TDicStore::WindowSize + TDicStore::StageSize;
  if (outputCapacity == 0) return false;
  consumed = 0;
  produced = 0;
  if (State.Damaged) return false;
  std::uint8_t* const history = Store->History;
  if (history == nullptr) return DecodePiece(input, inputLength, consumed, output, outputCapacity, produced, 0);
  bool ok = true;
  while (ok && produced < outputCapacity) {
    const std::uint32_t wanted = outputCapacity - produced;
    std::uint32_t fill = State.HistoryFill;
    if (HistoryRoom - fill < wanted && fill > WindowSize) {
      std::memmove(history, history + fill - WindowSize, WindowSize);
      fill = WindowSize;
    }
    const std::uint32_t piece = std::min(wanted, HistoryRoom - fill);
    std::uint32_t used = 0;
    std::uint32_t got = 0;
    ok = DecodePiece(input + consumed, inputLength - consumed, used, history + fill, piece, got, fill);
    std::memcpy(output + produced, history + fill, got);
    State.HistoryFill = fill + got;
    consumed += used;
    produced += got;
    if (got < piece) break;
  }
  return ok;
}

bool TDecoder::DecodePiece(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                           std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& produced,
                           std::uint32_t held) {
  TDecodeState s = State;
  TDicNodes& store = Store->Nodes;
  TBitReader in(Bits, input, inputLength);
  std::uint32_t done = 0;
  if (s.OwedNode != NilNode) done = DeliverOwed(s, output, outputCapacity);
  const std::uint64_t callStart = s.OutPos;
  // Nodes keep their positions counted from the last reset (EpochStart).
  const auto callStart32 = static_cast<std::uint32_t>(callStart - s.EpochStart);
  // Positions from the reset are kept in 32 bits; they are exact and ordered
  // while the dictionary has produced less than 2^31 bytes since its reset.
  // Otherwise every phrase is unwound.
  const bool copies = callStart + outputCapacity - s.EpochStart < (std::uint64_t{1} << 31);

  const TNodeView nodes = store.View();
  TPhraseRun run{store.NodeCount, s.Current, s.FragLen};
  TItemGrammar grammar = s.Grammar;
  std::uint8_t* dst = output + done;
  std::uint8_t* const end = output + outputCapacity;
  // Copies end at or before here, so that their slack stays in the output.
  std::uint8_t* const fitEnd = outputCapacity > TDicStore::CopySlack ? end - TDicStore::CopySlack : output;
  // The fast loop reads these from memory on purpose: where they are used,
  // so that the registers are left to the values that change from code to
  // code. Positions are below 2^31 where the fast loop runs (copies says so),
  // so 64 bits hold them without wrapping, and node numbers in 64 bits index
  // without being widened. The empty asm below takes k's address, which keeps
  // the compiler from holding its members in registers.
  // held bytes of earlier output are there before output's first byte.
  TCallConsts k{grammar.NextWidth(), s.MaxFrag, callStart32 > held ? callStart32 - held : 0, store.NodeLimit, 0, 0,
                reinterpret_cast<std::uintptr_t>(output) - callStart32, nodes.Chars,
                reinterpret_cast<std::uintptr_t>(in.End) - 8};
  k.FitAt = reinterpret_cast<std::uintptr_t>(fitEnd) - k.Base;
  k.Mask = (std::uint64_t{1} << k.Width) - 1;
#if defined(__GNUC__)
  __asm__("" : : "r"(&k) : "memory");
#endif
  bool damaged = false;
  std::uint32_t oweCode = NilNode;
  std::uint32_t oweAt = 0;

  std::uint32_t v = 0;
  bool have = false;  // v is an item the fast loop took and left to the careful step
  while (dst != end) {
    // ---- the fast loop: phrase codes of existing nodes whose phrase is
    // still held and fits the room.
    // (With 8 bytes of input left RefillEnd is a position in the block.)
    if (grammar.Expect == 0 && grammar.Opened && copies && run.Count < k.Limit && dst < fitEnd && in.CanRefill()) {
      assert(nodes.Length(run.Current) == run.FragLen);
      // The last phrase's length is read from its node when needed: one
      // register fewer.
      std::uint64_t count = run.Count;
      std::uint64_t current = run.Current;
      std::uint32_t* const words = nodes.Words;
      // The node words for reading here; the characters' base is read from
      // k where a node is made.
      const TNodeView view{nullptr, words};
      std::uint64_t at = reinterpret_cast<std::uintptr_t>(dst) - k.Base;
      for (;;) {
        if (in.Bits < k.Width) {
          if (reinterpret_cast<std::uintptr_t>(in.Cursor) > k.RefillEnd) break;
          in.Refill();
        }
        const std::uint64_t code = in.Acc & k.Mask;
        in.Acc >>= k.Width;
        in.Bits -= k.Width;
        // One unsigned compare for both ends: control codes and unbuilt nodes.
        if (code - FirstPhraseNode >= count - FirstPhraseNode) {
          v = static_cast<std::uint32_t>(code);
          have = true;
          break;
        }
        std::uint32_t* const node = view.Node(code);
        const std::uint32_t was = node[TNodeView::AtWord];
        const std::uint32_t length = node[TNodeView::LengthWord];
        // Where the phrase is now written; also right if the careful step
        // takes the code over.
        node[TNodeView::AtWord] = static_cast<std::uint32_t>(at);
        const std::uint64_t next = at + length;
        if (was < k.Low || next > k.FitAt) {
          v = static_cast<std::uint32_t>(code);
          have = true;
          break;
        }
        const auto* const from = reinterpret_cast<const std::uint8_t*>(k.Base + was);
        const std::uint8_t first = *from;
        CopyPhrase(reinterpret_cast<std::uint8_t*>(k.Base + at), from, length);
        const std::uint32_t fragLen = view.Length(current);
        if (fragLen < k.MaxFrag) {
          MakeNode(TNodeView{k.Chars, words}, count, static_cast<std::uint32_t>(current), fragLen, first,
                   static_cast<std::uint32_t>(at));
          ++count;
          if (count >= k.Limit) {
            current = code;
            at = next;
            break;
          }
        }
        current = code;
        at = next;
      }
      dst = reinterpret_cast<std::uint8_t*>(k.Base + at);
      run = TPhraseRun{static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(current),
                       nodes.Length(current)};
    }
    // ---- the careful step: one item, whatever it is, and what follows a
    // control code with it.
    if (!have && !in.GetCode(v, grammar.NextWidth())) break;
    have = false;
    const auto done32 = static_cast<std::uint32_t>(dst - output);
    const auto at = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dst) - k.Base);
    const auto room = static_cast<std::uint32_t>(end - dst);
    if (grammar.Expect == 0 && grammar.Opened && v >= FirstPhraseNode) {
      std::uint32_t length;
      std::uint8_t first;
      const bool makes = run.FragLen < k.MaxFrag;
      if (v < run.Count) {
        // An existing node; the store must have room for the node it makes.
        if (makes && run.Count >= k.Limit) {
          damaged = true;
          break;
        }
        length = nodes.Length(v);
        if (length > room) {
          first = FirstOf(nodes, v);
          Follow(nodes, run, makes, v, first, length, at);
          oweCode = v;
          oweAt = at;
          break;
        }
        UnwindInto(nodes, v, dst, length);
        first = dst[0];
        Follow(nodes, run, makes, v, first, length, at);
      } else {
        // The node the packer made just before sending this code: the previous
        // phrase followed by its own first character. It exists only if there
        // was a previous phrase short enough to be extended and a free slot.
        if (v != run.Count || run.Current == RootNode || !makes || run.Count >= k.Limit) {
          damaged = true;
          break;
        }
        length = run.FragLen + 1;
        first = run.FragLen <= done32 + held ? dst[-static_cast<std::ptrdiff_t>(run.FragLen)]
                                             : FirstOf(nodes, run.Current);
        Follow(nodes, run, true, v, first, length, at);
        if (length > room) {
          oweCode = v;
          oweAt = at;
          break;
        }
        UnwindInto(nodes, v, dst, length);
      }
      dst += length;
      continue;
    }
    for (;;) {
      switch (grammar.Take(v)) {
        case TItemKind::Bad:
          damaged = true;
          break;
        case TItemKind::Reset:
          // The reserved nodes never change, so the count alone restarts.
          // Positions now count from here: every phrase a node can name
          // from now on is in this call's output.
          run = TPhraseRun{FirstPhraseNode, RootNode, 0};
          s.EpochStart = callStart + done32;
          k.Base = reinterpret_cast<std::uintptr_t>(dst);
          k.Low = 0;
          k.FitAt = reinterpret_cast<std::uintptr_t>(fitEnd) - k.Base;
          break;
        case TItemKind::Byte: {
          // The byte is a phrase of its own and a new node; it also completes
          // the node the previous phrase began, unless that one was too long.
          const bool makes = run.Current != RootNode && run.FragLen < k.MaxFrag;
          if (run.Count + (makes ? 2u : 1u) > k.Limit) {
            damaged = true;
            break;
          }
          // After a reset in this step, positions count from the new base.
          const auto byteAt = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dst) - k.Base);
          const auto c = static_cast<std::uint8_t>(v);
          *dst++ = c;
          Follow(nodes, run, makes, makes ? run.Count + 1 : run.Count, c, 1, byteAt);
          nodes.Place(run.Count++, c, RootNode, byteAt, 1);
          break;
        }
        case TItemKind::Literal:
        case TItemKind::Widen:
        case TItemKind::Steps:
        case TItemKind::Phrase:  // not reached: phrase codes are taken above
          break;
      }
      // A control code's literal byte or step count comes in the same step.
      if (damaged || grammar.Expect == 0 || !in.GetCode(v, grammar.NextWidth())) break;
    }
    if (damaged) break;
    k.Width = grammar.NextWidth();
    k.Mask = (std::uint64_t{1} << k.Width) - 1;
  }
  in.WriteBack(Bits);
  done = static_cast<std::uint32_t>(dst - output);
  store.NodeCount = run.Count;
  s.Current = run.Current;
  s.FragLen = run.FragLen;
  s.Grammar = grammar;
  s.Damaged = damaged;
  if (oweCode != NilNode) done += Owe(s, oweCode, oweAt, dst, outputCapacity - done);
  s.OutPos = callStart + done;
  State = s;
  consumed = in.BytesUsed();
  produced = done;
  return !damaged;
}

}  // namespace vorka
