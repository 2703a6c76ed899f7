// The encoder: bytes to codes, searching the dictionary with a given child
// index (TChildTrees or THashIndex; both number the nodes alike, so they write
// the same stream). A code names a phrase already in the dictionary; the byte
// that ends a match starts the next phrase. Widths grow on demand (codeWiden
// and a 5-bit step count) and the dictionary restarts when full (codeReset).
//
// The storage is a TDicStore's, lent by Start; the object itself is plain and
// valid when zero-filled.
#pragma once

#include <cstdint>

#include "../buffers/BitBuf.h"
#include "ChildTrees.h"
#include "DicStore.h"
#include "HashIndex.h"
#include "LZTypes.h"

namespace vorka {

// The encoder's whole state between calls. The block loop copies it into
// locals and back: a store to the output may alias any member.
struct TEncodeState {
  std::uint32_t Current{};  // the phrase being matched; RootNode before the first byte
  std::uint32_t FragLen{};
  std::uint32_t LongestNow{};  // longest phrase since the last reset
  std::uint32_t Mask{};
  std::uint32_t MaxFrag{};
  std::uint32_t Longest{};
  std::uint32_t Resets{};
  std::uint8_t Width{};
  bool Literal{};  // Current was sent as a literal, so its code is not sent again
  std::uint64_t InBytes{};
  std::uint64_t OutBits{};
};

// Pairs of a phrase end not yet accepted by the output block (at most five).
struct TCodeQueue {
  std::uint32_t Value[6]{};
  std::uint8_t Width[6]{};
  std::uint8_t Count{};  // pairs of the last batch
  std::uint8_t Next{};   // first pair not yet written
};

template <class TIndex>
struct TEncoderOf {
  TDicStore* Store{};
  // The store's nodes as this encoder counts them: its own copy of the
  // pointers, beside the index, so that a node store is known not to touch
  // the index's fields.
  TDicNodes Nodes{};
  TIndex Index{};
  TEncodeState State{};
  TCodeQueue Queue{};
  TBitBuf Bits{};  // the bits carried between blocks

  // Begins a stream over the store's storage with its fragment limit; the
  // store must have storage. inputBytes: the most the stream will pack, when
  // known, so that the index prepares no more than it can use.
  void Start(TDicStore& store, std::uint64_t inputBytes = UnknownInput);

  // Packs input into output. A call with inputLength 0 ends the stream; call
  // it until it writes less than a full block. Result: true when input was
  // consumed (final call: when output was written); capacity 0 gives false
  // and leaves the out values alone.
  bool EncodeBlock(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                   std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& written);

  // Statistics of the stream so far.
  std::uint32_t LongestFragment() const { return State.LongestNow > State.Longest ? State.LongestNow : State.Longest; }
  std::uint32_t ResetCount() const { return State.Resets; }
  std::uint64_t InputBytes() const { return State.InBytes; }
  std::uint64_t PackedBytes() const { return (State.OutBits + 7) / 8; }
  // Bits of the code stream so far, and the dictionary's entries in use
  // (control nodes included): for tools that watch a stream grow.
  std::uint64_t StreamBits() const { return State.OutBits; }
  std::uint32_t NodeCount() const { return Nodes.NodeCount; }
  double Ratio() const;

private:
  void ResetDictionary(TEncodeState& s);
  template <class TEmit>
  void EndPhrase(TEncodeState& s, std::uint8_t c, TEmit& emit);
  unsigned EncodeMiss(TEncodeState& s, std::uint8_t c);
  unsigned EncodeEnd(TEncodeState& s);
  bool PutQueue(TBitWriter& out, unsigned count);
  // Phrase after phrase from input[p] while the writer has room for a phrase
  // end; returns the new p.
  std::uint32_t RunPhrases(TEncodeState& s, TBitWriter& out, const std::uint8_t* input, std::uint32_t p,
                           std::uint32_t length);
};

using TTreeEncoder = TEncoderOf<TChildTrees>;
using THashEncoder = TEncoderOf<THashIndex>;

}  // namespace vorka
