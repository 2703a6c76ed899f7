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
  std::uint32_t Mask{};
  std::uint32_t MaxFrag{};
  // A phrase code read but held back because its phrase did not fit the
  // room left in the call; the next call starts with it. 0 = none.
  std::uint32_t Pending{};
  // A phrase longer than a whole call's room, being delivered in pieces:
  // its next node (0 = none), and where the phrase starts.
  std::uint32_t PieceNode{};
  std::uint32_t PieceAt{};
  std::uint32_t WindowFill{};
  TItemGrammar Grammar{};  // the width in force and what the next item is
  std::uint8_t LastChar{};
  bool Damaged{};
  // Output position of the next byte, and where the dictionary was last
  // reset. The store's window keeps the last WindowSize bytes of earlier
  // calls' output (those before WindowEnd, WindowFill of them), so that most
  // codes are copied from where their phrase was last written instead of
  // being unwound node by node.
  std::uint64_t OutPos{};
  std::uint64_t EpochStart{};
  std::uint64_t WindowEnd{};
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
  // calls with consumed = produced = 0). A phrase longer than the whole
  // capacity of a call is delivered in pieces.
  bool DecodeBlock(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                   std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& produced);
  bool StreamDamaged() const { return State.Damaged; }
  // True while part of a phrase is still owed: its code was read but not all
  // of its bytes were delivered. A stream that should end here was cut short
  // inside a phrase.
  bool PhraseUnfinished() const { return State.Pending != 0 || State.PieceNode != 0; }

private:
  void ResetDictionary(TDecodeState& s);
  std::int64_t DecodeItem(TDecodeState& s, std::uint32_t v, std::uint8_t* out, std::uint32_t room);
  std::int64_t DecodeKnown(TDecodeState& s, std::uint32_t v, std::uint8_t* out, std::uint32_t room,
                           std::uint32_t at);
  std::uint32_t DeliverPieces(TDecodeState& s, std::uint8_t* out, std::uint32_t room);
  void StartPieces(TDecodeState& s, std::uint32_t v);
  bool CopyCodes(TDecodeState& s, TBitReader& in, std::uint8_t* output, std::uint32_t& doneRef,
                 std::uint32_t& roomRef, std::uint32_t windowBack, std::uint32_t callStart, std::uint32_t& codeOut);
  void KeepInWindow(TDecodeState& s, const std::uint8_t* output, std::uint64_t start, std::uint32_t length);
};

}  // namespace vorka
