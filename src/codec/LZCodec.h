// The LZ78 codec: dictionary control, encoder and decoder on one object. A code
// names a phrase already in the dictionary; the byte that ends a match starts
// the next phrase. Widths grow on demand (announced by codeWiden and a 5-bit
// step count) and the dictionary restarts when full (codeReset).
//
// The codec is a template on the packer's child index (TChildTrees or
// THashIndex, same calls); TLZCodec is the program's choice (ChildIndex.h).
// Its parts live in files by role: DicControl.cpp (storage, resets, widths,
// statistics), Encoder.cpp and Decoder.cpp.
//
// The object is plain and embedded by value: all-zero storage means "no
// dictionary" and is safe to Init. Storage is obtained once in Init.
#pragma once

#include <cstdint>

#include "../buffers/BitBuf.h"
#include "ChildIndex.h"
#include "DicStore.h"
#include "LZBase.h"
#include "LZTypes.h"

namespace vorka {

// Packing: pairs produced but not yet accepted by the bit buffer. A phrase end
// produces at most five.
struct TCodeQueue {
  std::uint32_t Value[6]{};
  std::uint8_t Width[6]{};
  std::uint8_t Count{};  // pairs of the last batch
  std::uint8_t Next{};   // first pair not yet written
};

// Unpacking state beyond the dictionary's.
struct TUnpacking {
  // A phrase code read but held back because its phrase did not fit the
  // room left in the call; the next call starts with it. 0 = none.
  std::uint32_t Pending{};
  // A phrase longer than a whole call's room, being delivered in pieces:
  // its next node (0 = none), and where the phrase starts.
  std::uint32_t PieceNode{};
  std::uint32_t PieceAt{};
  bool Damaged{};
  // Output position of the next byte, and where the dictionary was last
  // reset. Window keeps the last WindowSize bytes of earlier calls' output
  // (those before WindowEnd, WindowFill of them), so that most codes are
  // copied from where their phrase was last written instead of being
  // unwound node by node.
  std::uint64_t OutPos{};
  std::uint64_t EpochStart{};
  std::uint64_t WindowEnd{};
  std::uint32_t WindowFill{};
  std::uint8_t* Window{};
};

// The encoder's state while it ends phrases, held in locals by the loops.
struct TEncodeRegs {
  std::uint32_t Current{};
  std::uint32_t FragLen{};
  std::uint32_t LongestNow{};
  std::uint32_t Mask{};
  std::uint32_t MaxFrag{};  // read only
  std::uint8_t Width{};
  std::uint8_t State{};
};

template <class TIndex>
struct TLZCodecOf {
  using TIndexType = TIndex;

  std::uint8_t State{};
  TDicNodes Nodes{};
  TIndex Index{};
  std::uint32_t Current{};
  std::uint8_t LastChar{};
  std::uint8_t Width{};
  std::uint32_t Mask{};
  std::uint32_t FragLen{};
  std::uint32_t MaxFrag{};
  std::uint32_t LongestNow{};
  std::uint32_t Longest{};
  std::uint64_t OutBytes{};
  std::uint8_t OutBits{};
  std::uint64_t InBytes{};
  std::uint32_t DicSize{};
  std::uint32_t DicSizeCheck{};
  std::uint32_t Resets{};
  TCodeQueue Queue{};
  TBitBuf BitStream{};
  // True while the store serves a packer (its index), false while it serves
  // an unpacker (prefixes and spans).
  bool Packing{};
  TUnpacking Unpack{};

  static constexpr std::uint32_t WindowSize = std::uint32_t{1} << 18;
  // Copies move 16 bytes at a time and may write this far past a phrase.
  static constexpr std::uint32_t CopySlack = 15;

  // Allocates the dictionary (size clamped to 500..268435326) and prepares for
  // packing; false when the size is 0 or memory is short (then no storage).
  bool Init(std::uint32_t dicSize);
  void Done();

  bool AllocateDictionary(std::uint32_t n);
  void ReleaseDictionary();
  std::uint32_t DictionarySize() const { return DicSize == ~DicSizeCheck ? DicSize : 0; }

  void SetMaxFragment(std::uint32_t n) { MaxFrag = n < MinFragmentLength ? MinFragmentLength : n; }
  std::uint32_t MaxFragment() const {
    const std::uint32_t size = DictionarySize();
    return MaxFrag < size ? MaxFrag : size;
  }

  void RestartPhrase() {
    Current = RootNode;
    FragLen = 0;
  }
  void ResetDictionary();
  void ResetStream();

  // Steps that widen mask until it holds code.
  static std::uint8_t StepsFor(std::uint32_t mask, std::uint32_t code) {
    std::uint8_t steps = 0;
    for (std::uint32_t m = mask; m < code; m = 2 * m + 1) ++steps;
    return steps;
  }
  static std::uint32_t MaskOf(std::uint8_t width) {
    return static_cast<std::uint32_t>((std::uint64_t{1} << width) - 1);
  }
  std::uint8_t WidenFor(std::uint32_t code) {
    const std::uint8_t steps = StepsFor(Mask, code);
    WidenBy(steps);
    return steps;
  }
  void WidenBy(std::uint8_t steps);
  std::uint8_t ReadWidth() const {
    if ((State & csLiteral) != 0) return LiteralWidth;
    if ((State & csWiden) != 0) return StepCountWidth;
    return Width;
  }

  void AddBits(std::uint64_t n) {
    const std::uint64_t t = OutBits + n;
    OutBits = static_cast<std::uint8_t>(t % 8);
    OutBytes += t / 8;
  }
  std::uint32_t LongestFragment() {
    if (LongestNow > Longest) Longest = LongestNow;
    return Longest;
  }
  std::uint32_t ResetCount() const { return Resets; }
  std::uint64_t InputBytes() const { return InBytes; }
  std::uint64_t PackedBytes() const { return OutBytes + (OutBits != 0 ? 1 : 0); }
  // Bits of the code stream so far, and the dictionary's entries in use
  // (control nodes included): for tools that watch a stream grow.
  std::uint64_t StreamBits() const { return OutBytes * 8 + OutBits; }
  std::uint32_t NodeCount() const { return Nodes.NodeCount; }
  double Ratio() const;

  // Packing. A call with inputLength 0 ends the stream. Result: true when input
  // was consumed (final call: when output was written); capacity 0 gives false
  // and leaves the out values alone.
  void StartPacking();
  bool EncodeBlock(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                   std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& written);

  // Unpacking. Every item is checked before it touches the dictionary; a
  // damaged stream sets StreamDamaged and makes this and every later call
  // return false (later calls with consumed = produced = 0). A phrase longer
  // than the whole capacity of a call is delivered in pieces.
  void StartUnpacking();
  bool DecodeBlock(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t& consumed,
                   std::uint8_t* output, std::uint32_t outputCapacity, std::uint32_t& produced);
  bool StreamDamaged() const { return Unpack.Damaged; }
  // True while part of a phrase is still owed: its code was read but not all
  // of its bytes were delivered. A stream that should end here was cut short
  // inside a phrase.
  bool PhraseUnfinished() const { return Unpack.Pending != 0 || Unpack.PieceNode != 0; }

  // Building blocks of the two directions, public for tests.
  std::uint32_t ScanBlock(const std::uint8_t* bytes, std::uint32_t length);
  // One input byte: the pairs it produces are Queue.Value/Width[0, result).
  unsigned EncodeByte(std::uint8_t c);
  unsigned EncodeEnd();
  // Bytes written for item v, or minus the bytes missing when its phrase does
  // not fit room. Sets Damaged (and returns 0) for an item the packer cannot
  // have written.
  std::int64_t DecodeCode(std::uint32_t v, std::uint8_t* out, std::uint32_t room);

private:
  TEncodeRegs EncodeRegs() const { return {Current, FragLen, LongestNow, Mask, MaxFrag, Width, State}; }
  void SetEncodeRegs(const TEncodeRegs& r) {
    Current = r.Current;
    FragLen = r.FragLen;
    LongestNow = r.LongestNow;
    Mask = r.Mask;
    Width = r.Width;
    State = r.State;
  }
  template <class TEmit>
  void SendPhrase(TEncodeRegs& r, TEmit& emit);
  template <class TEmit>
  void EndPhrase(TEncodeRegs& r, std::uint8_t c, TEmit& emit);
  TEncodeRegs ResetFromEncoder(TEncodeRegs r);
  unsigned EncodeMiss(std::uint8_t c);
  bool PutQueue(unsigned count);

  std::int64_t DecodeKnown(std::uint32_t v, std::uint8_t* out, std::uint32_t room, std::uint32_t at);
  std::uint32_t DeliverPieces(std::uint8_t* out, std::uint32_t room);
  void StartPieces(std::uint32_t v);
  bool CopyCodes(TBitReader& in, std::uint8_t* output, std::uint32_t& doneRef, std::uint32_t& roomRef,
                 std::uint32_t windowBack, std::uint32_t callStart, std::uint32_t& codeOut);
  void KeepInWindow(const std::uint8_t* output, std::uint64_t start, std::uint32_t length);
};

// Both instantiations are compiled into the library (each file by role ends
// with its members' instantiations), so every build tests both indexes.
using TLZCodec = TLZCodecOf<TChildIndex>;

}  // namespace vorka
