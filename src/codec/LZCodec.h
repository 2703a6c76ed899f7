// The LZ78 codec: dictionary control, encoder and decoder on one object. A code
// names a phrase already in the dictionary; the byte that ends a match starts
// the next phrase. Widths grow on demand (announced by codeWiden and a 5-bit
// step count) and the dictionary restarts when full (codeReset).
//
// The object is plain and embedded by value: all-zero storage means "no
// dictionary" and is safe to Init. Storage is obtained once in Init.
#pragma once

#include <cstdint>

#include "../buffers/BitBuf.h"
#include "LZBase.h"
#include "LZDic0.h"
#include "LZTypes.h"

namespace vorka {

struct TLZCodec {
  std::uint8_t State{};
  TDicNodes Nodes{};
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
  // Packing: pairs produced but not yet accepted by the bit buffer.
  // Unpacking: QueueValue[0] is the pending code (0 = none).
  std::uint32_t QueueValue[6]{};
  std::uint8_t QueueWidth[6]{};
  std::uint8_t QueueCount{};
  std::uint8_t QueueNext{};
  TBitBuf BitStream{};
  // Unpacking: next node of a phrase that is being delivered in pieces because
  // it is longer than a whole output block (0 = none), and where it starts.
  std::uint32_t PieceNode{};
  std::uint32_t PieceAt{};
  bool Damaged{};
  // Unpacking: output position of the next byte, and where the dictionary
  // was last reset. Window keeps the last WindowSize bytes of earlier calls'
  // output (those before WindowEnd, WindowFill of them), so that most codes
  // are copied from where their phrase was last written instead of being
  // unwound node by node.
  std::uint64_t OutPos{};
  std::uint64_t EpochStart{};
  std::uint64_t WindowEnd{};
  std::uint32_t WindowFill{};
  std::uint8_t* Window{};
  static constexpr std::uint32_t WindowSize = std::uint32_t{1} << 18;
  // Copies move 16 bytes at a time and may write this far past a phrase.
  static constexpr std::uint32_t CopySlack = 15;

  // Allocates the dictionary (size clamped to 500..268435326) and prepares for
  // packing; false when the size is 0 or memory is short (then no storage).
  bool Init(std::uint32_t dicSize);
  void Done();

  bool AllocateDictionary(std::uint32_t n);
  void ReleaseDictionary();
  std::uint32_t DictionarySize() const;

  void SetMaxFragment(std::uint32_t n);
  std::uint32_t MaxFragment() const;

  void RestartPhrase();
  void ResetDictionary();
  void ResetStream();

  std::uint8_t WidenFor(std::uint32_t code);
  void WidenBy(std::uint8_t steps);
  std::uint8_t ReadWidth() const;

  void AddBits(std::uint32_t n);
  std::uint32_t LongestFragment();
  std::uint32_t ResetCount() const { return Resets; }
  std::uint64_t InputBytes() const { return InBytes; }
  std::uint64_t PackedBytes() const { return OutBytes + (OutBits != 0 ? 1 : 0); }
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
  bool StreamDamaged() const { return Damaged; }
  // True while part of a phrase is still owed: its code was read but not all
  // of its bytes were delivered. A stream that should end here was cut short
  // inside a phrase.
  bool PhraseUnfinished() const { return QueueValue[0] != 0 || PieceNode != 0; }

  // Building blocks of the two directions, public for tests.
  std::uint32_t ScanBlock(const std::uint8_t* bytes, std::uint32_t length);
  unsigned EncodeByte(std::uint8_t c);
  unsigned EncodeEnd();
  // Bytes written for item v, or minus the bytes missing when its phrase does
  // not fit room. Sets Damaged (and returns 0) for an item the packer cannot
  // have written.
  std::int64_t DecodeCode(std::uint32_t v, std::uint8_t* out, std::uint32_t room);

private:
  unsigned EncodeMiss(std::uint8_t c);
  std::uint32_t PackPhrases(const std::uint8_t* input, std::uint32_t inputLength, std::uint32_t p);
  void Emit(unsigned& count, std::uint32_t value, std::uint8_t width);
  bool PutQueue(unsigned count);
  std::uint32_t DeliverPieces(std::uint8_t* out, std::uint32_t room);
  void StartPieces(std::uint32_t v);
  bool CopyCodes(std::uint8_t* output, std::uint32_t& doneRef, std::uint32_t& roomRef, std::uint32_t windowBack,
                 std::uint32_t callStart, std::uint32_t& codeOut);
  void KeepInWindow(const std::uint8_t* output, std::uint64_t start, std::uint32_t length);
};

}  // namespace vorka
