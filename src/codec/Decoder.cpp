// The decoder: codes back to bytes. It rebuilds the packer's dictionary node
// for node, one phrase behind: the node made at a phrase boundary ends with
// the first character of what follows. Every item is checked against what the
// packer can have written before it touches the store.
//
// Most codes name an existing phrase; TakePhrase is their rule, written once
// and used by the window-copy loop (CopyCodes), the unwinding path and
// DecodeCode alike. The bit reader lives in locals for the whole call.
#include <cassert>
#include <cstring>

#include "LZCodec.h"

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

template <class TIndex>
void TLZCodecOf<TIndex>::StartUnpacking() {
  Unpack.Pending = 0;
  Queue.Count = 0;
  Queue.Next = 0;
  State = 0;
  Unpack.PieceNode = 0;
  Unpack.OutPos = 0;
  Unpack.WindowEnd = 0;
  Unpack.WindowFill = 0;
  Unpack.Damaged = false;
  Packing = false;
  BitStream.Clear();
  ResetStream();
}

// An ordinary phrase code v, a node that exists: its phrase goes to out when
// it fits room (else the shortfall, negative, and nothing changes).
template <class TIndex>
std::int64_t TLZCodecOf<TIndex>::DecodeKnown(std::uint32_t v, std::uint8_t* out, std::uint32_t room,
                                             std::uint32_t at) {
  const std::int64_t r = Nodes.Unwind(v, out, room);
  if (r < 0) return r;
  TPhraseRun run{Current, FragLen, Nodes.NodeCount};
  TakePhrase(Nodes.View(), run, FragLen < MaxFrag, v, out[0], static_cast<std::uint32_t>(r), at);
  LastChar = out[0];
  Current = run.Current;
  FragLen = run.FragLen;
  Nodes.NodeCount = run.Count;
  return r;
}

template <class TIndex>
std::int64_t TLZCodecOf<TIndex>::DecodeCode(std::uint32_t v, std::uint8_t* out, std::uint32_t room) {
  auto reject = [this]() -> std::int64_t {
    Unpack.Damaged = true;
    return 0;
  };
  // Nodes made here are the previous phrase (just before at) plus one byte.
  const auto at = static_cast<std::uint32_t>(Unpack.OutPos);
  if ((State & csLiteral) != 0) {
    // The literal also completes the node that the packer created when the
    // previous phrase ended, unless that phrase was already MaxFrag long.
    const bool completes = Current != RootNode && FragLen < MaxFrag;
    if (Nodes.NodeCount + (completes ? 2u : 1u) > Nodes.NodeLimit) return reject();
    const auto c = static_cast<std::uint8_t>(v);
    out[0] = c;
    State = static_cast<std::uint8_t>(State & ~csLiteral);
    if (completes) Nodes.AppendNode(c, Current, at - FragLen);
    Current = Nodes.AppendNode(c, RootNode, at);
    LastChar = c;
    FragLen = 1;
    ++Unpack.OutPos;
    return 1;
  }
  if ((State & csWiden) != 0) {
    if (Width + v > MaxCodeWidth) return reject();
    WidenBy(static_cast<std::uint8_t>(v));
    State = static_cast<std::uint8_t>(State & ~csWiden);
    return 0;
  }
  // Every stream opens with codeReset; before it, nothing is valid.
  if (Resets == 0 && v != codeReset) return reject();
  switch (v) {
    case codeReset:
      ResetDictionary();
      State = static_cast<std::uint8_t>(State | csLiteral);
      return 0;
    case codeWiden:
      State = static_cast<std::uint8_t>(State | csWiden);
      return 0;
    case codeLiteral:
      State = static_cast<std::uint8_t>(State | csLiteral);
      return 0;
    default:
      break;
  }
  if (v > Nodes.NodeCount) return reject();
  if (v == Nodes.NodeCount) {
    // The node the packer made just before sending this code: the previous
    // phrase followed by its own first character. It exists only if there was
    // a previous phrase short enough to be extended and a free slot.
    if (Current == RootNode || FragLen >= MaxFrag || Nodes.Full()) return reject();
    if (FragLen >= room) return static_cast<std::int64_t>(room) - (std::int64_t{FragLen} + 1);
    Nodes.AppendNode(LastChar, Current, at - FragLen);
    const std::int64_t r = Nodes.Unwind(v, out, room);
    assert(r == std::int64_t{FragLen} + 1);
    Nodes.SetPhraseAt(v, at);
    Current = v;
    ++FragLen;
    Unpack.OutPos += static_cast<std::uint64_t>(r);
    return r;
  }
  if (FragLen < MaxFrag && Nodes.Full()) return reject();
  const std::int64_t r = DecodeKnown(v, out, room, at);
  if (r > 0) Unpack.OutPos += static_cast<std::uint64_t>(r);
  return r;
}

// Applies the dictionary update of phrase code v as DecodeCode would on
// delivery, and threads the phrase first-to-last through the nodes' position
// links so that it can be handed out over several calls; delivery puts the
// positions back, since every node of the chain is a prefix written at PieceAt.
template <class TIndex>
void TLZCodecOf<TIndex>::StartPieces(std::uint32_t v) {
  const auto at = static_cast<std::uint32_t>(Unpack.OutPos);
  const bool isNew = v == Nodes.NodeCount;
  if (isNew) Nodes.AppendNode(LastChar, Current, at - FragLen);
  const std::uint32_t* const prefix = Nodes.NodePrefix;
  std::uint32_t next = NilNode;
  std::uint32_t length = 0;
  for (std::uint32_t n = v; n != RootNode; n = prefix[n]) {
    assert(prefix[n] < n);
    Nodes.SetPhraseAt(n, next);
    next = n;
    ++length;
  }
  Unpack.PieceNode = next;
  Unpack.PieceAt = at;
  if (isNew) {
    ++FragLen;
  } else {
    LastChar = Nodes.NodeChar[next];
    if (FragLen < MaxFrag) Nodes.AppendNode(LastChar, Current, at - FragLen);
    FragLen = length;
  }
  Current = v;
}

template <class TIndex>
std::uint32_t TLZCodecOf<TIndex>::DeliverPieces(std::uint8_t* out, std::uint32_t room) {
  std::uint32_t n = Unpack.PieceNode;
  std::uint32_t k = 0;
  while (n != NilNode && k < room) {
    out[k++] = Nodes.NodeChar[n];
    const std::uint32_t next = Nodes.PhraseAt(n);
    Nodes.SetPhraseAt(n, Unpack.PieceAt);
    n = next;
  }
  Unpack.PieceNode = n;
  Unpack.OutPos += k;
  return k;
}

// The common case in one tight loop over locals: a code of an existing
// phrase that is still in this call's output or in the window, copied from
// there, and the node it completes. Stores to the output may alias any
// member, so nothing here lives in one. True when it stops with a code taken
// that needs anything else; false when the input ran short first.
template <class TIndex>
bool TLZCodecOf<TIndex>::CopyCodes(TBitReader& in, std::uint8_t* output, std::uint32_t& doneRef,
                                   std::uint32_t& roomRef, std::uint32_t windowBack, std::uint32_t callStart,
                                   std::uint32_t& codeOut) {
  if (roomRef <= CopySlack || FragLen >= MaxFrag || Nodes.Full()) return false;
  bool haveCode = false;
  std::uint8_t* dst = output + doneRef;
  // A phrase fits when it ends at or before here (the slack stays free).
  const std::uint8_t* const fitEnd = dst + (roomRef - CopySlack);
  TBitReader bits = in;
  const unsigned width = Width;
  const std::uint32_t mask = Mask;
  const std::uint32_t limit = Nodes.NodeLimit;
  const std::uint32_t maxFrag = MaxFrag;
  const TNodeView nodes = Nodes.View();
  const std::uint8_t* const window = Unpack.Window;
  TPhraseRun run{Current, FragLen, Nodes.NodeCount};
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
  if (run.Count != startCount) LastChar = nodes.Chars[run.Count - 1];
  Nodes.NodeCount = run.Count;
  Current = run.Current;
  FragLen = run.FragLen;
  codeOut = code;
  return haveCode;
}

template <class TIndex>
void TLZCodecOf<TIndex>::KeepInWindow(const std::uint8_t* output, std::uint64_t start, std::uint32_t length) {
  std::uint8_t* const window = Unpack.Window;
  if (window == nullptr || length == 0) return;
  if (Unpack.WindowEnd != start) Unpack.WindowFill = 0;
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
  Unpack.WindowEnd = start + length;
  const std::uint32_t fill = Unpack.WindowFill;
  Unpack.WindowFill = fill + length < WindowSize ? fill + length : WindowSize;
}

template <class TIndex>
bool TLZCodecOf<TIndex>::DecodeBlock(const std::uint8_t* input, std::uint32_t inputLength,
                                     std::uint32_t& consumed, std::uint8_t* output,
                                     std::uint32_t outputCapacity, std::uint32_t& produced) {
  if (outputCapacity == 0) return false;
  // After packing the store holds a packer's index: unpacking without
  // StartUnpacking begins a new stream.
  if (Packing) StartUnpacking();
  if (Unpack.Damaged) {
    consumed = 0;
    produced = 0;
    return false;
  }
  BitStream.AttachForRead(input, inputLength);
  TBitReader in(BitStream);
  std::uint32_t done = 0;
  std::uint32_t room = outputCapacity;
  const std::uint64_t callStart = Unpack.OutPos;
  // Output of earlier calls that is still in the window, just before this
  // call's: [callStart - windowBack, callStart).
  const std::uint32_t windowBack = Unpack.WindowEnd == callStart ? Unpack.WindowFill : 0;
  // Positions are kept modulo 2^32; a distance is exact while the dictionary
  // has produced less than 2^31 bytes since its reset.
  const bool useWindow =
      Unpack.Window != nullptr && callStart + outputCapacity - Unpack.EpochStart < (std::uint64_t{1} << 31);

  // Delivers item v; false when the call must stop (held back or damaged).
  auto deliver = [&](std::uint32_t v) -> bool {
    Unpack.OutPos = callStart + done;
    const std::int64_t r = DecodeCode(v, output + done, room);
    if (Unpack.Damaged) return false;
    if (r >= 0) {
      Unpack.Pending = 0;
      done += static_cast<std::uint32_t>(r);
      room -= static_cast<std::uint32_t>(r);
      return true;
    }
    if (done != 0) {  // the next call starts with this phrase
      Unpack.Pending = v;
      return false;
    }
    // Longer than a whole call's capacity: hand it out in pieces.
    Unpack.Pending = 0;
    StartPieces(v);
    const std::uint32_t k = DeliverPieces(output, room);
    done += k;
    room -= k;
    return true;
  };

  if (Unpack.PieceNode != NilNode) {
    const std::uint32_t k = DeliverPieces(output, room);
    done += k;
    room -= k;
  }
  bool go = room > 0 && (Unpack.Pending == 0 || deliver(Unpack.Pending));
  while (go && room > 0) {
    std::uint32_t code;
    bool haveCode = false;
    if (State == 0 && Resets != 0 && useWindow)
      haveCode = CopyCodes(in, output, done, room, windowBack, static_cast<std::uint32_t>(callStart), code);
    if (!haveCode && !in.Get(code, ReadWidth())) break;
    // An ordinary phrase code that missed the window is unwound: DecodeCode's
    // last case without its tests for the rare items (control codes,
    // literals, the node not yet built, a full store).
    if (State == 0 && Resets != 0 && code >= FirstPhraseNode && code < Nodes.NodeCount && FragLen < MaxFrag &&
        !Nodes.Full()) {
      const std::int64_t r = DecodeKnown(code, output + done, room, static_cast<std::uint32_t>(callStart + done));
      if (r >= 0) {
        Unpack.Pending = 0;
        done += static_cast<std::uint32_t>(r);
        room -= static_cast<std::uint32_t>(r);
        continue;
      }
    }
    go = deliver(code);
  }
  in.WriteBack(BitStream);
  Unpack.OutPos = callStart + done;
  KeepInWindow(output, callStart, done);
  consumed = BitStream.BytesUsed();
  produced = done;
  return !Unpack.Damaged;
}

template void TLZCodecOf<TChildTrees>::StartUnpacking();
template void TLZCodecOf<THashIndex>::StartUnpacking();
template std::int64_t TLZCodecOf<TChildTrees>::DecodeCode(std::uint32_t, std::uint8_t*, std::uint32_t);
template std::int64_t TLZCodecOf<THashIndex>::DecodeCode(std::uint32_t, std::uint8_t*, std::uint32_t);
template bool TLZCodecOf<TChildTrees>::DecodeBlock(const std::uint8_t*, std::uint32_t, std::uint32_t&,
                                                   std::uint8_t*, std::uint32_t, std::uint32_t&);
template bool TLZCodecOf<THashIndex>::DecodeBlock(const std::uint8_t*, std::uint32_t, std::uint32_t&,
                                                  std::uint8_t*, std::uint32_t, std::uint32_t&);

}  // namespace vorka
