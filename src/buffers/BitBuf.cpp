// Cold paths of the bit buffer; the per-code operations are inline in the header.
#include "BitBuf.h"

namespace vorka {

// Stores as many complete pending bytes as the block takes. True when at
// least 33 bits of the accumulator are free afterwards, so any code fits.
bool TBitWriter::DrainWholeBytes() {
  unsigned full = Bits / 8u;
  if (full > Room()) full = Room();
  if (full > 7) full = 7;
  bitio::StoreLow(Cursor, Acc, full);
  Cursor += full;
  Acc = full == 0 ? Acc : Acc >> (8 * full);
  Bits -= 8 * full;
  return Bits <= 33;
}

// A put within eight bytes of the block's end, or after a short block: the
// complete bytes that fit are stored, the rest stay pending.
bool TBitWriter::PutNearEnd(std::uint32_t code, unsigned width) {
  assert(width >= 1 && width <= 31 && (static_cast<std::uint64_t>(code) >> width) == 0);
  if (Cursor == End) return false;
  // Only a block shorter than 4 bytes can leave so many bits pending that the
  // code would not fit the accumulator; drain them first.
  if (Bits + width > 64 && !DrainWholeBytes()) return false;
  assert(Bits == 64 || (Acc >> Bits) == 0);
  const std::uint64_t v = Acc | static_cast<std::uint64_t>(code) << Bits;
  const unsigned total = Bits + width;
  unsigned full = total / 8;
  if (full > Room()) full = Room();
  if (full > 7) full = 7;
  bitio::StoreLow(Cursor, v, full);
  Cursor += full;
  Acc = full == 0 ? v : v >> (8 * full);
  Bits = total - 8 * full;
  return true;
}

// With more than a byte pending (only after a very short block) the bits are
// kept until they all fit instead of being cut off.
bool TBitWriter::FlushBits() {
  if (Bits == 0) return true;
  if (Cursor == End) return false;
  while (Bits > 0 && Cursor != End) {
    *Cursor++ = static_cast<std::uint8_t>(Acc);
    Acc >>= 8;
    Bits = Bits > 8 ? Bits - 8 : 0;
  }
  return Bits == 0;
}

}  // namespace vorka
