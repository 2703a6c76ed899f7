// The encoder: bytes to codes. A phrase grows while the dictionary knows it
// extended by the next byte (the index's scan); the byte that ends it starts
// the next phrase, and the phrase plus that byte becomes a node.
//
// The rule for the end of a phrase is EndPhrase, written once over the
// encoder's state in locals and a sink for the pairs it emits. The block loop
// runs it with the bit writer as the sink while the output block has room for
// any phrase end; near the block's end the pairs go through the queue, which
// keeps what the block refuses.
#include <cassert>

#include "Encoder.h"

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

// Steps that widen mask until it holds code.
inline std::uint8_t StepsFor(std::uint32_t mask, std::uint32_t code) {
  std::uint8_t steps = 0;
  for (std::uint32_t m = mask; m < code; m = 2 * m + 1) ++steps;
  return steps;
}
inline std::uint32_t MaskOf(std::uint8_t width) {
  return static_cast<std::uint32_t>((std::uint64_t{1} << width) - 1);
}

// Sends the phrase s.Current in the width in force, widening first when its
// code does not fit.
template <class TEmit>
[[gnu::always_inline]] inline void SendPhrase(TEncodeState& s, TEmit& emit) {
  if (s.Current > s.Mask) {
    emit(codeWiden, s.Width);
    const std::uint8_t steps = StepsFor(s.Mask, s.Current);
    s.Width = static_cast<std::uint8_t>(s.Width + steps);
    s.Mask = MaskOf(s.Width);
    emit(steps, StepCountWidth);
  }
  emit(s.Current, s.Width);
}

}  // namespace

template <class TIndex>
void TEncoderOf<TIndex>::Start(TDicStore& store) {
  Store = &store;
  Nodes = store.Nodes;
  Index.Attach(Nodes);
  Queue.Count = 0;
  Queue.Next = 0;
  Bits.Clear();
  State = TEncodeState{};
  State.MaxFrag = store.MaxFrag;
  ResetDictionary(State);
  State.Resets = 0;
}

// Empties the dictionary; by value in and out, so that the loops' locals
// never have their address taken.
template <class TIndex>
void TEncoderOf<TIndex>::ResetDictionary(TEncodeState& s) {
  Nodes.InitNodes(Store->Size);
  Index.Start(Nodes);
  s.Width = 2;
  s.Mask = 3;
  if (s.LongestNow > s.Longest) s.Longest = s.LongestNow;
  s.LongestNow = 0;
  s.Current = RootNode;
  s.FragLen = 0;
  s.Literal = false;
  ++s.Resets;
}

// The end of a phrase: byte c does not extend s.Current. Sends the phrase,
// makes the node phrase + c (unless the phrase is MaxFrag long), and starts
// the next phrase at c, with a literal when c is not yet a phrase of its own.
// A full store resets the dictionary on the way. At most five pairs.
template <class TIndex>
template <class TEmit>
[[gnu::always_inline]] inline void TEncoderOf<TIndex>::EndPhrase(TEncodeState& s, std::uint8_t c, TEmit& emit) {
  const auto startLiteral = [&](std::uint32_t node) {
    s.Current = node;
    emit(c, LiteralWidth);
    s.Literal = true;
    s.FragLen = 1;
  };
  if (s.Current == RootNode) {
    // The first byte of a stream: the dictionary is already empty.
    emit(codeReset, s.Width);
    startLiteral(Index.AddChild(Nodes, c, RootNode));
    return;
  }
  if (s.Literal) {
    s.Literal = false;  // the literal carried the phrase
  } else {
    SendPhrase(s, emit);
  }
  if (s.FragLen < s.MaxFrag) {
    if (Index.AddChild(Nodes, c, s.Current) == NilNode) [[unlikely]] {
      emit(codeReset, s.Width);
      ResetDictionary(s);
      startLiteral(Index.AddChild(Nodes, c, RootNode));
      return;
    }
    if (++s.FragLen > s.LongestNow) s.LongestNow = s.FragLen;
  }
  std::uint32_t next = Index.RootChild[c];
  if (next != NilNode) [[likely]] {
    s.Current = next;
    s.FragLen = 1;
    return;
  }
  next = Index.AddChild(Nodes, c, RootNode);
  if (next != NilNode) {
    emit(codeLiteral, s.Width);
  } else {
    emit(codeReset, s.Width);
    ResetDictionary(s);
    next = Index.AddChild(Nodes, c, RootNode);
  }
  startLiteral(next);
}

// One byte that does not extend the current phrase: the pairs go to the queue.
template <class TIndex>
unsigned TEncoderOf<TIndex>::EncodeMiss(TEncodeState& s, std::uint8_t c) {
  TQueueSink sink{Queue};
  EndPhrase(s, c, sink);
  s.OutBits += sink.Bits;
  return sink.Count;
}

template <class TIndex>
unsigned TEncoderOf<TIndex>::EncodeEnd(TEncodeState& s) {
  if (s.Current == RootNode) return 0;
  if (s.Literal) {
    s.Literal = false;
    s.Current = RootNode;
    return 0;
  }
  TQueueSink sink{Queue};
  SendPhrase(s, sink);
  s.Current = RootNode;
  s.OutBits += sink.Bits;
  return sink.Count;
}

// Puts pairs [0, count) of a new batch; remembers where a refusal stopped it.
template <class TIndex>
bool TEncoderOf<TIndex>::PutQueue(TBitWriter& out, unsigned count) {
  unsigned next = 0;
  while (next < count && out.PutCode(Queue.Value[next], Queue.Width[next])) ++next;
  Queue.Count = static_cast<std::uint8_t>(count);
  Queue.Next = static_cast<std::uint8_t>(next);
  return next == count;
}

template <class TIndex>
bool TEncoderOf<TIndex>::EncodeBlock(const std::uint8_t* input, std::uint32_t inputLength,
                                     std::uint32_t& consumed, std::uint8_t* output,
                                     std::uint32_t outputCapacity, std::uint32_t& written) {
  if (outputCapacity == 0) return false;
  TBitWriter out(Bits, output, outputCapacity);
  while (Queue.Next < Queue.Count && out.PutCode(Queue.Value[Queue.Next], Queue.Width[Queue.Next]))
    ++Queue.Next;

  if (inputLength == 0) {
    consumed = 0;
    if (!out.AtBlockEnd()) {
      PutQueue(out, EncodeEnd(State));
      out.FlushBits();
    }
    out.WriteBack(Bits);
    written = out.BytesUsed();
    return written != 0;
  }

  // A stream opens with codeReset, after which the unpacker starts from an
  // empty dictionary. Input packed on after a final call without Start must
  // not match nodes that the unpacker has dropped: drop them here too.
  if (State.Current == RootNode && Nodes.NodeCount != FirstPhraseNode) ResetDictionary(State);
  std::uint32_t p = 0;
  if (Queue.Next == Queue.Count) {
    // Away from the block's end: phrase after phrase with the state and the
    // bit writer in locals of this loop alone.
    TEncodeState s = State;
    TBitWriter fast = out;
    std::uint64_t bits = 0;
    TWriterSink sink{fast, bits};
    // Every put leaves fewer than 8 bits pending; only the first may find
    // more (after blocks shorter than a code).
    const bool roomy = fast.Bits <= 32;
    while (roomy && fast.Room() >= kPhraseEndRoom) {
      const std::uint32_t n = Index.ScanPhrase(Nodes, input + p, inputLength - p, s.Current);
      s.FragLen += n;
      p += n;
      if (p == inputLength) break;
      EndPhrase(s, input[p++], sink);
    }
    out = fast;
    s.OutBits += bits;
    State = s;
  }
  // Near the block's end: the same step, its pairs through the queue.
  while (p < inputLength && !out.AtBlockEnd()) {
    const std::uint32_t n = Index.ScanPhrase(Nodes, input + p, inputLength - p, State.Current);
    State.FragLen += n;
    p += n;
    if (p < inputLength) PutQueue(out, EncodeMiss(State, input[p++]));
  }
  out.WriteBack(Bits);
  State.InBytes += p;
  consumed = p;
  written = out.BytesUsed();
  return p != 0;
}

template <class TIndex>
double TEncoderOf<TIndex>::Ratio() const {
  if (State.InBytes == 0) return 0.0;
  const long double packed = static_cast<long double>(static_cast<std::int64_t>(PackedBytes()));
  const long double input = static_cast<long double>(static_cast<std::int64_t>(State.InBytes));
  return static_cast<double>(packed / input);
}

template struct TEncoderOf<TChildTrees>;
template struct TEncoderOf<THashIndex>;

}  // namespace vorka
