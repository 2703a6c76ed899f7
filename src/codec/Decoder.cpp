// The decoder: codes back to bytes. It rebuilds the packer's dictionary node
// for node, one phrase behind: the node made at a phrase boundary ends with
// the first character of what follows. Every item is checked against what the
// packer can have written before it touches the store.
//
// Most codes name an existing phrase; TakePhrase is their rule, written once
// and used by the window-copy loop (CopyCodes), the unwinding path and
// DecodeItem alike. The bit reader lives in locals for the whole call.
#include <cassert>
#include <cstring>

#include "Decoder.h"

namespace vorka {
namespace {

// The decoder's dictionary state over a run of codes.
struct TPhraseRun {
  std::uint32_t Current{};
  std::uint32_t FragLen{};
  std::uint32_t Count{};  // NodeCount
};

// The rule of an ordinary phrase code, once its `length` bytes, the first
// one `first`, are written at output position at: the previous phrase
// followed by that first byte becomes a node, and the code becomes the
// phrase. makesNode is whether the previous phrase is shorter than MaxFrag
// (the packer made no node after a longer one); the caller has checked that
// the store has room.
[[gnu::always_inline]] inline void TakePhrase(const TNodeView& nodes, TPhraseRun& r, bool makesNode,
                                              std::uint32_t code, std::uint8_t first, std::uint32_t length,
                                              std::uint32_t at) {
  if (makesNode) nodes.Place(r.Count++, first, r.Current, at - r.FragLen, r.FragLen + 1);
  nodes.SetAt(code, at);
  r.Current = code;
  r.FragLen = length;
}

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

}  // namespace

void TDecoder::Start(TDicStore& store) {
  Store = &store;
  Bits.Clear();
  State = TDecodeState{};
  State.MaxFrag = store.MaxFrag;
  ResetDictionary(State);
}

void TDecoder::ResetDictionary(TDecodeState& s) {
  TDicNodes& nodes = Store->Nodes;
  nodes.InitNodes(Store->Size);
  nodes.StartSpans();
  s.Mask = 3;
  s.Current = RootNode;
  s.FragLen = 0;
  s.EpochStart = s.OutPos;
}

// An ordinary phrase code v, a node that exists: its phrase goes to out when
// it fits room (else the shortfall, negative, and nothing changes).
std::int64_t TDecoder::DecodeKnown(TDecodeState& s, std::uint32_t v, std::uint8_t* out, std::uint32_t room,
                                   std::uint32_t at) {
  TDicNodes& nodes = Store->Nodes;
  const std::int64_t r = nodes.Unwind(v, out, room);
  if (r < 0) return r;
  TPhraseRun run{s.Current, s.FragLen, nodes.NodeCount};
  TakePhrase(nodes.View(), run, s.FragLen < s.MaxFrag, v, out[0], static_cast<std::uint32_t>(r), at);
  s.LastChar = out[0];
  s.Current = run.Current;
  s.FragLen = run.FragLen;
  nodes.NodeCount = run.Count;
  return r;
}

// Any item v: bytes written for it, or minus the bytes missing when its phrase
// does not fit room. Sets Damaged (and returns 0) for an item the packer
// cannot have written.
std::int64_t TDecoder::DecodeItem(TDecodeState& s, std::uint32_t v, std::uint8_t* out, std::uint32_t room) {
  TDicNodes& nodes = Store->Nodes;
  auto reject = [&s]() -> std::int64_t {
    s.Damaged = true;
    return 0;
  };
  // Nodes made here are the previous phrase (just before at) plus one byte.
  const auto at = static_cast<std::uint32_t>(s.OutPos);
  switch (s.Grammar.Take(v)) {
    case TItemKind::Bad:
      return reject();
    case TItemKind::Byte: {
      // The literal also completes the node that the packer created when the
      // previous phrase ended, unless that phrase was already MaxFrag long.
      const bool completes = s.Current != RootNode && s.FragLen < s.MaxFrag;
      if (nodes.NodeCount + (completes ? 2u : 1u) > nodes.NodeLimit) return reject();
      const auto c = static_cast<std::uint8_t>(v);
      out[0] = c;
      if (completes) nodes.AppendNode(c, s.Current, at - s.FragLen);
      s.Current = nodes.AppendNode(c, RootNode, at);
      s.LastChar = c;
      s.FragLen = 1;
      ++s.OutPos;
      return 1;
    }
    case TItemKind::Steps:
      s.Mask = static_cast<std::uint32_t>((std::uint64_t{1} << s.Grammar.Width) - 1);
      return 0;
    case TItemKind::Reset:
      ResetDictionary(s);
      return 0;
    case TItemKind::Widen:
    case TItemKind::Literal:
      return 0;
    case TItemKind::Phrase:
      break;
  }
  if (v > nodes.NodeCount) return reject();
  if (v == nodes.NodeCount) {
    // The node the packer made just before sending this code: the previous
    // phrase followed by its own first character. It exists only if there was
    // a previous phrase short enough to be extended and a free slot.
    if (s.Current == RootNode || s.FragLen >= s.MaxFrag || nodes.Full()) return reject();
    if (s.FragLen >= room) return static_cast<std::int64_t>(room) - (std::int64_t{s.FragLen} + 1);
    nodes.AppendNode(s.LastChar, s.Current, at - s.FragLen);
    const std::int64_t r = nodes.Unwind(v, out, room);
    assert(r == std::int64_t{s.FragLen} + 1);
    nodes.SetPhraseAt(v, at);
    s.Current = v;
    ++s.FragLen;
    s.OutPos += static_cast<std::uint64_t>(r);
    return r;
  }
  if (s.FragLen < s.MaxFrag && nodes.Full()) return reject();
  const std::int64_t r = DecodeKnown(s, v, out, room, at);
  if (r > 0) s.OutPos += static_cast<std::uint64_t>(r);
  return r;
}

// Applies the dictionary update of phrase code v as DecodeItem would on
// delivery, and threads the phrase first-to-last through the nodes' position
// links so that it can be handed out over several calls; delivery puts the
// positions back, since every node of the chain is a prefix written at PieceAt.
void TDecoder::StartPieces(TDecodeState& s, std::uint32_t v) {
  TDicNodes& nodes = Store->Nodes;
  const auto at = static_cast<std::uint32_t>(s.OutPos);
  const bool isNew = v == nodes.NodeCount;
  if (isNew) nodes.AppendNode(s.LastChar, s.Current, at - s.FragLen);
  const std::uint32_t* const prefix = nodes.NodePrefix;
  std::uint32_t next = NilNode;
  std::uint32_t length = 0;
  for (std::uint32_t n = v; n != RootNode; n = prefix[n]) {
    assert(prefix[n] < n);
    nodes.SetPhraseAt(n, next);
    next = n;
    ++length;
  }
  s.PieceNode = next;
  s.PieceAt = at;
  if (isNew) {
    ++s.FragLen;
  } else {
    s.LastChar = nodes.NodeChar[next];
    if (s.FragLen < s.MaxFrag) nodes.AppendNode(s.LastChar, s.Current, at - s.FragLen);
    s.FragLen = length;
  }
  s.Current = v;
}

std::uint32_t TDecoder::DeliverPieces(TDecodeState& s, std::uint8_t* out, std::uint32_t room) {
  TDicNodes& nodes = Store->Nodes;
  std::uint32_t n = s.PieceNode;
  std::uint32_t k = 0;
  while (n != NilNode && k < room) {
    out[k++] = nodes.NodeChar[n];
    const std::uint32_t next = nodes.PhraseAt(n);
    nodes.SetPhraseAt(n, s.PieceAt);
    n = next;
  }
  s.PieceNode = n;
  s.OutPos += k;
  return k;
}

// The common case in one tight loop over locals: a code of an existing
// phrase that is still in this call's output or in the window, copied from
// there, and the node it completes. Stores to the output may alias any
// member, so nothing here lives in one. True when it stops with a code taken
// that needs anything else; false when the input ran short first.
[[gnu::always_inline]] inline bool TDecoder::CopyCodes(TDecodeState& s, TBitReader& in, std::uint8_t* output, std::uint32_t& doneRef,
                         std::uint32_t& roomRef, std::uint32_t windowBack, std::uint32_t callStart,
                         std::uint32_t& codeOut) {
  constexpr std::uint32_t WindowSize = TDicStore::WindowSize;
  TDicNodes& nodes0 = Store->Nodes;
  if (roomRef <= TDicStore::CopySlack || s.FragLen >= s.MaxFrag || nodes0.Full()) return false;
  bool haveCode = false;
  std::uint8_t* dst = output + doneRef;
  // A phrase fits when it ends at or before here (the slack stays free).
  const std::uint8_t* const fitEnd = dst + (roomRef - TDicStore::CopySlack);
  TBitReader bits = in;
  const unsigned width = s.Grammar.Width;
  const std::uint32_t mask = s.Mask;
  const std::uint32_t limit = nodes0.NodeLimit;
  const std::uint32_t maxFrag = s.MaxFrag;
  const TNodeView nodes = nodes0.View();
  const std::uint8_t* const window = Store->Window;
  TPhraseRun run{s.Current, s.FragLen, nodes0.NodeCount};
  const std::uint32_t startCount = run.Count;
  std::uint32_t code = 0;
  std::uint32_t at = callStart + doneRef;
  for (;;) {
    if (bits.Bits < width) {
      if (!bits.CanRefill()) break;
      bits.Refill();
    }
    code = bits.Take(width, mask);
    haveCode = true;
    // One unsigned compare for both ends: control codes and unbuilt nodes.
    if (code - FirstPhraseNode >= run.Count - FirstPhraseNode) break;
    assert(nodes.Length(run.Current) == run.FragLen);
    const std::uint32_t length = nodes.Length(code);
    const std::uint32_t was = nodes.At(code);
    const std::uint32_t back = at - was;
    const std::uint8_t* from;
    const auto done = static_cast<std::uint32_t>(dst - output);
    if (back <= done) {
      from = dst - back;
    } else if (back - done <= windowBack && back - done >= length &&
               (was & (WindowSize - 1)) + length <= WindowSize) {
      from = window + (was & (WindowSize - 1));
    } else {
      break;
    }
    if (length > static_cast<std::uint32_t>(fitEnd - dst)) break;
    const std::uint8_t first = *from;
    CopyPhrase(dst, from, length);
    // Every phrase here is shorter than MaxFrag (see the loop's end).
    TakePhrase(nodes, run, true, code, first, length, at);
    dst += length;
    at += length;
    haveCode = false;
    // A phrase of MaxFrag makes no node, nor does a full store: those
    // cases are the general path's.
    if ((length >= maxFrag) | (run.Count >= limit)) break;
  }
  in = bits;
  const auto made = static_cast<std::uint32_t>(dst - (output + doneRef));
  doneRef += made;
  roomRef -= made;
  if (run.Count != startCount) s.LastChar = nodes.Chars[run.Count - 1];
  nodes0.NodeCount = run.Count;
  s.Current = run.Current;
  s.FragLen = run.FragLen;
  codeOut = code;
  return haveCode;
}

void TDecoder::KeepInWindow(TDecodeState& s, const std::uint8_t* output, std::uint64_t start, std::uint32_t length) {
  constexpr std::uint32_t WindowSize = TDicStore::WindowSize;
  std::uint8_t* const window = Store->Window;
  if (window == nullptr || length == 0) return;
  if (s.WindowEnd != start) s.WindowFill = 0;
  const std::uint8_t* from = output;
  std::uint32_t n = length;
  std::uint64_t pos = start;
  if (n > WindowSize) {
    from += n - WindowSize;
    pos += n - WindowSize;
    n = WindowSize;
  }
  const auto index = static_cast<std::uint32_t>(pos & (WindowSize - 1));
  const std::uint32_t first = n < WindowSize - index ? n : WindowSize - index;
  std::memcpy(window + index, from, first);
  std::memcpy(window, from + first, n - first);
  s.WindowEnd = start + length;
  const std::uint32_t fill = s.WindowFill;
  s.WindowFill = fill + length < WindowSize ? fill + length : WindowSize;
}

bool TDecoder::DecodeBlock(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                           std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& produced) {
  if (outputCapacity == 0) return false;
  if (State.Damaged) {
    consumed = 0;
    produced = 0;
    return false;
  }
  TDicNodes& nodes = Store->Nodes;
  TDecodeState s = State;
  TBitReader in(Bits, input, inputLength);
  std::uint32_t done = 0;
  std::uint32_t room = outputCapacity;
  const std::uint64_t callStart = s.OutPos;
  // Output of earlier calls that is still in the window, just before this
  // call's: [callStart - windowBack, callStart).
  const std::uint32_t windowBack = s.WindowEnd == callStart ? s.WindowFill : 0;
  // Positions are kept modulo 2^32; a distance is exact while the dictionary
  // has produced less than 2^31 bytes since its reset.
  const bool useWindow =
      Store->Window != nullptr && callStart + outputCapacity - s.EpochStart < (std::uint64_t{1} << 31);

  // Delivers item v; false when the call must stop (held back or damaged).
  auto deliver = [&](std::uint32_t v) -> bool {
    s.OutPos = callStart + done;
    const std::int64_t r = DecodeItem(s, v, output + done, room);
    if (s.Damaged) return false;
    if (r >= 0) {
      s.Pending = 0;
      done += static_cast<std::uint32_t>(r);
      room -= static_cast<std::uint32_t>(r);
      return true;
    }
    if (done != 0) {  // the next call starts with this phrase
      s.Pending = v;
      return false;
    }
    // Longer than a whole call's capacity: hand it out in pieces.
    s.Pending = 0;
    StartPieces(s, v);
    const std::uint32_t k = DeliverPieces(s, output, room);
    done += k;
    room -= k;
    return true;
  };

  if (s.PieceNode != NilNode) {
    const std::uint32_t k = DeliverPieces(s, output, room);
    done += k;
    room -= k;
  }
  bool go = room > 0 && (s.Pending == 0 || deliver(s.Pending));
  while (go && room > 0) {
    std::uint32_t code;
    bool haveCode = false;
    if (s.Grammar.Expect == 0 && s.Grammar.Opened && useWindow)
      haveCode = CopyCodes(s, in, output, done, room, windowBack, static_cast<std::uint32_t>(callStart), code);
    if (!haveCode && !in.GetCode(code, s.Grammar.NextWidth())) break;
    // An ordinary phrase code that missed the window is unwound: DecodeItem's
    // last case without its tests for the rare items (control codes,
    // literals, the node not yet built, a full store).
    if (s.Grammar.Expect == 0 && s.Grammar.Opened && code >= FirstPhraseNode && code < nodes.NodeCount &&
        s.FragLen < s.MaxFrag && !nodes.Full()) {
      const std::int64_t r = DecodeKnown(s, code, output + done, room, static_cast<std::uint32_t>(callStart + done));
      if (r >= 0) {
        s.Pending = 0;
        done += static_cast<std::uint32_t>(r);
        room -= static_cast<std::uint32_t>(r);
        continue;
      }
    }
    go = deliver(code);
  }
  in.WriteBack(Bits);
  s.OutPos = callStart + done;
  KeepInWindow(s, output, callStart, done);
  State = s;
  consumed = in.BytesUsed();
  produced = done;
  return !s.Damaged;
}

}  // namespace vorka
