// The encoder: bytes to codes. A phrase grows while the dictionary knows it
// extended by the next byte (the index's scan); the byte that ends it starts
// the next phrase, and the phrase plus that byte becomes a node.
//
// The rule for the end of a phrase is EndPhrase, written once over the
// encoder's state in locals and a sink for the pairs it emits. The block loop
// runs it with the bit writer as the sink while the output block has room for
// any phrase end; near the block's end the pairs go through the queue, which
// keeps what the block refuses. The usual case of that rule, which nearly
// every phrase takes, is also written out in each index's RunFast, without
// calls through the index's interface or state kept in memory (the hash
// index packing the Canterbury and Calgary files: 24 % fewer instructions);
// the stream tests hold both to the reference model.
#include <cassert>
#include <cstring>

#include "Encoder.h"

namespace vorka {
namespace {

// Room for the pairs of one phrase end put without checks: five pairs of at
// most 28 bits advance the writer by at most 4 bytes each, and each put may
// store the writer's whole reach.
constexpr std::uint32_t kPhraseEndRoom = 4 * 4 + TBitWriter::FastReach;

// Sinks for the pairs of a phrase end.
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

// The writer's position counts its bits: the caller takes them from there.
struct TWriterSink {
  TBitWriter& Out;
  void operator()(std::uint32_t value, std::uint8_t width) { Out.PutFast(value, width); }
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
void TEncoderOf<TIndex>::Start(TDicStore& store, std::uint64_t inputBytes) {
  Store = &store;
  Nodes = store.Nodes;
  Index.Attach(Nodes, inputBytes);
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

namespace {

// The usual phrase end (a phrase that fits the width or widens it, a node
// made or not for the fragment limit, the next phrase a known character)
// runs in RunFast, one for each index, with the index's arrays, the state and
// the writer in the function's own locals: nothing is kept in memory, and the
// hash index has no note to write and read back. RunFast stops at end, when
// the writer is short of room for a phrase end, or before a byte whose phrase
// end needs more (a literal, a full store, a new region of the hash table):
// then pending is set, the index knows where the scan stopped, and the
// caller's EndPhrase takes the byte.
bool FastReady(const THashIndex& index) { return index.Regions == 1; }
bool FastReady(const TChildTrees&) { return true; }

[[gnu::noinline]] const std::uint8_t* RunFast(TChildTrees& index, TDicNodes& nodes, TEncodeState& state,
                                              TBitWriter& writer, const std::uint8_t* at, const std::uint8_t* end,
                                              bool& pending) {
  TEncodeState s = state;
  TBitWriter out = writer;
  TWriterSink sink{out};
  const std::uint8_t* const chars = nodes.NodeChar;
  const std::uint32_t* const links = index.NodeLinks;
  const std::uint32_t* const roots = index.NodeRoot;
  std::uint32_t node = s.Current;
  pending = false;
  for (;;) {
    const std::uint8_t* const from = at;
    at = TChildTrees::Follow(chars, links, roots, node, at, end);
    s.FragLen += static_cast<std::uint32_t>(at - from);
    s.Current = node;
    if (at == end) break;
    const std::uint8_t c = *at;
    const std::uint32_t next = index.RootChild[c];
    if (next == NilNode || nodes.Full()) [[unlikely]] {
      pending = true;
      break;
    }
    ++at;
    SendPhrase(s, sink);
    if (s.FragLen < s.MaxFrag) {
      index.AddChild(nodes, c, node);
      if (++s.FragLen > s.LongestNow) s.LongestNow = s.FragLen;
    }
    node = next;
    s.Current = node;
    s.FragLen = 1;
    if (out.Room() < kPhraseEndRoom) break;
  }
  state = s;
  writer = out;
  return at;
}

[[gnu::noinline]] const std::uint8_t* RunFast(THashIndex& index, TDicNodes& nodes, TEncodeState& state,
                                              TBitWriter& writer, const std::uint8_t* at, const std::uint8_t* end,
                                              bool& pending) {
  TEncodeState s = state;
  TBitWriter out = writer;
  TWriterSink sink{out};
  std::uint32_t* const table = index.Table;
  const std::uint32_t slots = index.RegionSlots[0];
  std::uint8_t* const chars = nodes.NodeChar;
  const std::uint32_t* const roots = index.RootChild;
  const std::uint32_t first = nodes.NodeCount;
  std::uint32_t count = first;
  // Nodes placed here stop short of a full store and of the next region.
  const std::uint32_t left = index.GrowAt - 1 - index.Used;
  const std::uint32_t stop = nodes.NodeLimit - first < left ? nodes.NodeLimit : first + left;
  index.MissChar = 0;  // a node placed here may take the noted free entry
  std::uint32_t node = s.Current;
  std::uint64_t h = index.PhraseHash(nodes, node);
  pending = false;
  for (;;) {
    const std::uint8_t* const from = at;
    std::uint32_t free = 0;
    at = THashIndex::Follow(table, slots, node, h, from, at, end, free);
    s.FragLen += static_cast<std::uint32_t>(at - from);
    if (at == end) {
      index.StopAtEnd(node, h, s.Current, 0);
      break;
    }
    const std::uint8_t c = *at;
    const std::uint32_t next = roots[c];
    if (next == NilNode || count >= stop) [[unlikely]] {
      index.StopBefore(c, node, h, free, s.Current, 0);
      pending = true;
      break;
    }
    ++at;
    s.Current = node;
    SendPhrase(s, sink);
    if (s.FragLen < s.MaxFrag) {
      const std::uint64_t entry = THashIndex::Key(node, c) << THashIndex::NodeBits | count;
      std::memcpy(table + 2 * std::size_t{free}, &entry, sizeof entry);
      chars[count++] = c;
      if (++s.FragLen > s.LongestNow) s.LongestNow = s.FragLen;
    }
    node = next;
    h = THashIndex::Extend(THashIndex::kEmptyHash, c);
    s.FragLen = 1;
    if (out.Room() < kPhraseEndRoom) {
      s.Current = node;
      break;
    }
  }
  nodes.NodeCount = count;
  index.Used += count - first;
  state = s;
  writer = out;
  return at;
}

}  // namespace

template <class TIndex>
[[gnu::always_inline]] inline std::uint32_t TEncoderOf<TIndex>::RunPhrases(TEncodeState& s, TBitWriter& out,
                                                                          const std::uint8_t* input,
                                                                          std::uint32_t p, std::uint32_t length) {
  TWriterSink sink{out};
  const std::uint8_t* const end = input + length;
  const std::uint8_t* at = input + p;
  while (out.Room() >= kPhraseEndRoom) {
    if (FastReady(Index) && !s.Literal && s.Current != RootNode) {
      bool pending = false;
      at = RunFast(Index, Nodes, s, out, at, end, pending);
      if (!pending) break;
    } else {
      const std::uint32_t n = Index.ScanPhrase(Nodes, at, static_cast<std::uint32_t>(end - at), s.Current);
      s.FragLen += n;
      at += n;
      if (at == end) break;
    }
    EndPhrase(s, *at++, sink);
  }
  return static_cast<std::uint32_t>(at - input);
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
    // Every put leaves fewer than 8 bits pending; only the first may find
    // more (after blocks shorter than a code).
    if (fast.Bits <= 32) p = RunPhrases(s, fast, input, p, inputLength);
    // Each put advances the writer by its width.
    s.OutBits += 8 * static_cast<std::uint64_t>(fast.Cursor - out.Cursor) + fast.Bits - out.Bits;
    out = fast;
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
