// The encoder: bytes to codes. A phrase grows while the dictionary knows it
// extended by the next byte (the index's scan); the byte that ends it starts
// the next phrase, and the phrase plus that byte becomes a node.
//
// The rule for the end of a phrase is EndPhrase, written once over the
// encoder's state in locals and a sink for the pairs it emits. The block loop
// runs it with the bit writer as the sink while the output block has room for
// any phrase end; near the block's end (and for the single-byte EncodeByte)
// the pairs go through the queue, which keeps what the block refuses.
#include <cassert>

#include "LZCodec.h"

namespace vorka {
namespace {

// Room for the pairs of one phrase end put without checks: five pairs of at
// most 28 bits advance the writer by at most 4 bytes each, and each put may
// store the writer's whole reach.
constexpr std::uint32_t kPhraseEndRoom = 4 * 4 + TBitWriter::FastReach;

// Sinks for the pairs of a phrase end; both count the bits emitted.
struct TQueueSink {
  TCodeQueue& Queue;
  unsigned Count = 0;
  std::uint64_t Bits = 0;
  void operator()(std::uint32_t value, std::uint8_t width) {
    assert(Count < 6);
    Queue.Value[Count] = value;
    Queue.Width[Count] = width;
    ++Count;
    Bits += width;
  }
};

struct TWriterSink {
  TBitWriter& Out;
  std::uint64_t& Bits;
  void operator()(std::uint32_t value, std::uint8_t width) {
    Out.PutFast(value, width);
    Bits += width;
  }
};

}  // namespace

template <class TIndex>
void TLZCodecOf<TIndex>::StartPacking() {
  Queue.Count = 0;
  Queue.Next = 0;
  State = 0;
  Unpack.PieceNode = 0;
  Unpack.Pending = 0;
  Unpack.Damaged = false;
  Packing = true;
  BitStream.Clear();
  ResetStream();
}

template <class TIndex>
std::uint32_t TLZCodecOf<TIndex>::ScanBlock(const std::uint8_t* bytes, std::uint32_t length) {
  const std::uint32_t n = Index.ScanPhrase(Nodes, bytes, length, Current);
  FragLen += n;
  InBytes += n;
  return n;
}

// Sends the phrase r.Current in the width in force, widening first when its
// code does not fit.
template <class TIndex>
template <class TEmit>
[[gnu::always_inline]] inline void TLZCodecOf<TIndex>::SendPhrase(TEncodeRegs& r, TEmit& emit) {
  if (r.Current > r.Mask) {
    emit(codeWiden, r.Width);
    const std::uint8_t steps = StepsFor(r.Mask, r.Current);
    r.Width = static_cast<std::uint8_t>(r.Width + steps);
    r.Mask = MaskOf(r.Width);
    emit(steps, StepCountWidth);
  }
  emit(r.Current, r.Width);
}

// By value, so that the loops' locals never have their address taken.
template <class TIndex>
TEncodeRegs TLZCodecOf<TIndex>::ResetFromEncoder(TEncodeRegs r) {
  SetEncodeRegs(r);
  ResetDictionary();
  return EncodeRegs();
}

// The end of a phrase: byte c does not extend r.Current. Sends the phrase,
// makes the node phrase + c (unless the phrase is MaxFrag long), and starts
// the next phrase at c, with a literal when c is not yet a phrase of its own.
// A full store resets the dictionary on the way. At most five pairs.
template <class TIndex>
template <class TEmit>
[[gnu::always_inline]] inline void TLZCodecOf<TIndex>::EndPhrase(TEncodeRegs& r, std::uint8_t c, TEmit& emit) {
  const auto startLiteral = [&](std::uint32_t node) {
    r.Current = node;
    emit(c, LiteralWidth);
    r.State = static_cast<std::uint8_t>(r.State | csLiteral);
    r.FragLen = 1;
  };
  if (r.Current == RootNode) {
    // The first byte of a stream: the dictionary is already empty.
    emit(codeReset, r.Width);
    startLiteral(Index.AddChild(Nodes, c, RootNode));
    return;
  }
  if ((r.State & csLiteral) != 0) {
    r.State = static_cast<std::uint8_t>(r.State & ~csLiteral);  // the literal carried the phrase
  } else {
    SendPhrase(r, emit);
  }
  if (r.FragLen < r.MaxFrag) {
    if (Index.AddChild(Nodes, c, r.Current) == NilNode) [[unlikely]] {
      emit(codeReset, r.Width);
      r = ResetFromEncoder(r);
      startLiteral(Index.AddChild(Nodes, c, RootNode));
      return;
    }
    if (++r.FragLen > r.LongestNow) r.LongestNow = r.FragLen;
  }
  std::uint32_t next = Index.RootChild[c];
  if (next != NilNode) [[likely]] {
    r.Current = next;
    r.FragLen = 1;
    return;
  }
  next = Index.AddChild(Nodes, c, RootNode);
  if (next != NilNode) {
    emit(codeLiteral, r.Width);
  } else {
    emit(codeReset, r.Width);
    r = ResetFromEncoder(r);
    next = Index.AddChild(Nodes, c, RootNode);
  }
  startLiteral(next);
}

template <class TIndex>
unsigned TLZCodecOf<TIndex>::EncodeByte(std::uint8_t c) {
  ++InBytes;
  const std::uint32_t n = Index.FindChildOf(Nodes, Current, c);
  if (n != NilNode) {
    Current = n;
    ++FragLen;
    return 0;
  }
  return EncodeMiss(c);
}

// The rest of EncodeByte, once c is known not to extend the current phrase:
// the pairs go to the queue.
template <class TIndex>
unsigned TLZCodecOf<TIndex>::EncodeMiss(std::uint8_t c) {
  TEncodeRegs r = EncodeRegs();
  TQueueSink sink{Queue};
  EndPhrase(r, c, sink);
  SetEncodeRegs(r);
  AddBits(sink.Bits);
  return sink.Count;
}

template <class TIndex>
unsigned TLZCodecOf<TIndex>::EncodeEnd() {
  if (Current == RootNode) return 0;
  if ((State & csLiteral) != 0) {
    State = static_cast<std::uint8_t>(State & ~csLiteral);
    Current = RootNode;
    return 0;
  }
  TEncodeRegs r = EncodeRegs();
  TQueueSink sink{Queue};
  SendPhrase(r, sink);
  r.Current = RootNode;
  SetEncodeRegs(r);
  AddBits(sink.Bits);
  return sink.Count;
}

// Puts pairs [0, count) of a new batch; remembers where a refusal stopped it.
template <class TIndex>
bool TLZCodecOf<TIndex>::PutQueue(unsigned count) {
  unsigned next = 0;
  while (next < count && BitStream.PutCode(Queue.Value[next], Queue.Width[next])) ++next;
  Queue.Count = static_cast<std::uint8_t>(count);
  Queue.Next = static_cast<std::uint8_t>(next);
  return next == count;
}

template <class TIndex>
bool TLZCodecOf<TIndex>::EncodeBlock(const std::uint8_t* input, std::uint32_t inputLength,
                                     std::uint32_t& consumed, std::uint8_t* output,
                                     std::uint32_t outputCapacity, std::uint32_t& written) {
  if (outputCapacity == 0) return false;
  // After unpacking the store holds the unpacker's data, not a packer's
  // index: packing on without StartPacking begins a new stream.
  if (!Packing) StartPacking();
  BitStream.AttachForWrite(output, outputCapacity);
  while (Queue.Next < Queue.Count && BitStream.PutCode(Queue.Value[Queue.Next], Queue.Width[Queue.Next]))
    ++Queue.Next;

  if (inputLength == 0) {
    consumed = 0;
    if (!BitStream.AtBlockEnd()) {
      PutQueue(EncodeEnd());
      BitStream.FlushBits();
    }
    written = BitStream.BytesUsed();
    return written != 0;
  }

  // A stream opens with codeReset, after which the unpacker starts from an
  // empty dictionary. Input packed on after a final call without StartPacking
  // must not match nodes that the unpacker has dropped: drop them here too.
  if (Current == RootNode && Nodes.NodeCount != FirstPhraseNode) ResetDictionary();
  std::uint32_t p = 0;
  if (Queue.Next == Queue.Count) {
    // Away from the block's end: phrase after phrase with the state and the
    // bit writer in locals (a store to the output may alias any member).
    TBitWriter out(BitStream);
    TEncodeRegs r = EncodeRegs();
    std::uint64_t bits = 0;
    TWriterSink sink{out, bits};
    // Every put leaves fewer than 8 bits pending; only the first may find
    // more (after blocks shorter than a code).
    const bool roomy = out.Bits <= 32;
    while (roomy && out.Room() >= kPhraseEndRoom) {
      const std::uint32_t n = Index.ScanPhrase(Nodes, input + p, inputLength - p, r.Current);
      r.FragLen += n;
      p += n;
      if (p == inputLength) break;
      EndPhrase(r, input[p++], sink);
    }
    out.WriteBack(BitStream);
    SetEncodeRegs(r);
    InBytes += p;
    AddBits(bits);
  }
  // Near the block's end: the same step, its pairs through the queue.
  while (p < inputLength && !BitStream.AtBlockEnd()) {
    p += ScanBlock(input + p, inputLength - p);
    if (p < inputLength) {
      ++InBytes;
      PutQueue(EncodeMiss(input[p++]));
    }
  }
  consumed = p;
  written = BitStream.BytesUsed();
  return p != 0;
}

template void TLZCodecOf<TChildTrees>::StartPacking();
template void TLZCodecOf<THashIndex>::StartPacking();
template std::uint32_t TLZCodecOf<TChildTrees>::ScanBlock(const std::uint8_t*, std::uint32_t);
template std::uint32_t TLZCodecOf<THashIndex>::ScanBlock(const std::uint8_t*, std::uint32_t);
template unsigned TLZCodecOf<TChildTrees>::EncodeByte(std::uint8_t);
template unsigned TLZCodecOf<THashIndex>::EncodeByte(std::uint8_t);
template unsigned TLZCodecOf<TChildTrees>::EncodeEnd();
template unsigned TLZCodecOf<THashIndex>::EncodeEnd();
template bool TLZCodecOf<TChildTrees>::EncodeBlock(const std::uint8_t*, std::uint32_t, std::uint32_t&,
                                                   std::uint8_t*, std::uint32_t, std::uint32_t&);
template bool TLZCodecOf<THashIndex>::EncodeBlock(const std::uint8_t*, std::uint32_t, std::uint32_t&,
                                                  std::uint8_t*, std::uint32_t, std::uint32_t&);

}  // namespace vorka
