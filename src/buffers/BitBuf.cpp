// Cold paths of the bit buffer; the per-code operations are inline in the header.
#include "BitBuf.h"

namespace vorka {

void TBitBuf::Clear() {
  Mode = 0;
  Block = nullptr;
  BlockSize = 0;
  Acc = 0;
  AccBits = 0;
  BytesLeft = 0;
  Cursor = nullptr;
  WriteCursor = nullptr;
}

void TBitBuf::AttachForWrite(std::uint8_t* block, std::uint32_t length) {
  if ((Mode & WriteMode) == 0) {
    Acc = 0;
    AccBits = 0;
    Mode = static_cast<std::uint8_t>(Mode | WriteMode);
  }
  Block = block;
  BlockSize = length;
  BytesLeft = length;
  Cursor = block;
  WriteCursor = block;
}

void TBitBuf::AttachForRead(const std::uint8_t* block, std::uint32_t length) {
  if ((Mode & ReadMode) == 0) {
    Acc = 0;
    AccBits = 0;
    Mode = static_cast<std::uint8_t>(Mode | ReadMode);
  }
  Block = block;
  BlockSize = length;
  BytesLeft = length;
  Cursor = block;
  WriteCursor = nullptr;
}

// Stores as many complete pending bytes as the block takes. True when at
// least 33 bits of the accumulator are free afterwards, so any code fits.
bool TBitBuf::DrainWholeBytes() {
  unsigned full = AccBits / 8u;
  if (full > BytesLeft) full = BytesLeft;
  if (full > 7) full = 7;
  bitio::StoreLow(WriteCursor, Acc, full);
  WriteCursor += full;
  Cursor += full;
  BytesLeft -= full;
  Acc = full == 0 ? Acc : Acc >> (8 * full);
  AccBits = static_cast<std::uint8_t>(AccBits - 8 * full);
  return AccBits <= 33;
}

bool TBitBuf::PutCodeNearEnd(std::uint32_t code, std::uint8_t width) {
  if (BytesLeft == 0) return false;
  // Only a block shorter than 4 bytes can leave so many bits pending that the
  // code would not fit the accumulator; drain them first.
  if (AccBits + width > 64 && !DrainWholeBytes()) return false;
  assert((Acc >> AccBits) == 0 || AccBits == 64);
  const std::uint64_t v = Acc | static_cast<std::uint64_t>(code) << AccBits;
  const unsigned total = AccBits + width;
  unsigned full = total / 8;
  if (full > BytesLeft) full = BytesLeft;
  if (full > 7) full = 7;
  bitio::StoreLow(WriteCursor, v, full);
  WriteCursor += full;
  Cursor += full;
  BytesLeft -= full;
  Acc = full == 0 ? v : v >> (8 * full);
  AccBits = static_cast<std::uint8_t>(total - 8 * full);
  return true;
}

bool TBitBuf::FlushBits() {
  if (AccBits == 0) return true;
  if (BytesLeft == 0) return false;
  // With more than a byte pending (only after a very short block) the bits are
  // kept until they all fit instead of being cut off.
  while (AccBits > 0 && BytesLeft > 0) {
    *WriteCursor++ = static_cast<std::uint8_t>(Acc);
    ++Cursor;
    --BytesLeft;
    Acc >>= 8;
    AccBits = AccBits > 8 ? static_cast<std::uint8_t>(AccBits - 8) : 0;
  }
  return AccBits == 0;
}

}  // namespace vorka
