// The decoder: codes back to bytes, over a TDicStore's storage lent by Start.
// It rebuilds the packer's dictionary node for node, one phrase behind, and
// needs no child index. Every item is checked against what the packer can
// have written before it touches the store. The object is plain and valid
// when zero-filled.
#pragma once

#include <cstdint>

#include "../buffers/BitBuf.h"
#include "CodeItems.h"
#include "DicStore.h"
#include "LZTypes.h"

namespace vorka {

// The decoder's whole state between calls; DecodeBlock works on a copy in
// locals (a store to the output may alias any member) and writes it back.
struct TDecodeState {
  std::uint32_t Current{};
  std::uint32_t FragLen{};
  std::uint32_t MaxFrag{};
  // The rest of a phrase longer than the room a call had: its next node
  // (0 = none), its chain threaded first to last through the nodes' position
  // links, and where the phrase starts.
  std::uint32_t OwedNode{};
  std::uint32_t OwedAt{};
  // The last bytes of output, this many, are held in the store's history
  // buffer from its start, so that most codes are copied from where their
  // phrase was last written instead of being unwound node by node.
  std::uint32_t HistoryFill{};
  TItemGrammar Grammar{};  // the width in force and what the next item is
  bool Damaged{};
  // Output position of the next byte, and where the dictionary was last
  // reset: the nodes' positions count from there, in 32 bits.
  std::uint64_t OutPos{};
  std::uint64_t EpochStart{};
};

struct TDecoder {
  TDicStore* Store{};
  TDecodeState State{};
  TBitBuf Bits{};  // the bits read ahead, carried between blocks

  // Begins a stream over the store's storage with its fragment limit; the
  // store must have storage.
  void Start(TDicStore& store);

  // Unpacks input into output, with outputCapacity no more than the plain
  // bytes still owed (the stream has no end code). A damaged stream sets
  // StreamDamaged and makes this and every later call return false (later
  // calls with consumed = produced = 0). A phrase longer than the room left
  // in a call fills it, and the rest comes first in later calls.
  bool DecodeBlock(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                   std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& produced);
  bool StreamDamaged() const { return State.Damaged; }
  // True while part of a phrase is still owed: its code was read but not all
  // of its bytes were delivered. A stream that should end here was cut short
  // inside a phrase.
  bool PhraseUnfinished() const { return State.OwedNode != NilNode; }

private:
  // The two halves of owing a phrase that does not fit a call: Owe threads
  // it for delivery and hands out what fits, DeliverOwed the rest later.
  std::uint32_t Owe(TDecodeState& s, std::uint32_t code, std::uint32_t at, std::uint8_t* out, std::uint32_t room);
  std::uint32_t DeliverOwed(TDecodeState& s, std::uint8_t* out, std::uint32_t room);
  // DecodeBlock's work, written at output with held bytes of earlier output
  // right before it.
  bool DecodePiece(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                   std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& produced, std::uint32_t held);
};

}  // namespace vorka
