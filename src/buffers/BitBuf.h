// Bit buffer: packs codes of 1 to 31 bits into caller-owned byte blocks, least
// significant bit first, and reads them back. It owns no memory; a 64-bit
// accumulator carries the bits that did not fit into one block (or that were
// read ahead) over to the next attached block, so codes may straddle blocks.
//
// Layout example: code 5 in 3 bits, then 300 in 9 bits, then FlushBits gives
// 0x65 0x09: byte 0 = 5 | (300 & 31) << 3, byte 1 = 300 >> 5, padded with zeros.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Endian.h"

namespace vorka {

// What a stream carries from one block to the next: the bits that did not fit
// into the last block, or that were read ahead of the next code. Everything
// else belongs to the block and lives in a TBitWriter or TBitReader made for
// it (the attach), which hands the carry back when the block is done.
struct TBitBuf {
  std::uint64_t Acc{};  // pending bits, oldest at bit 0, zero above AccBits
  std::uint8_t AccBits{};

  void Init() { Clear(); }
  void Clear() {
    Acc = 0;
    AccBits = 0;
  }
};

namespace bitio {

using le::Load16;
using le::Load32;
using le::Load64;
using le::Store16;
using le::Store32;
using le::Store64;

// Stores the low count (0..7) bytes of v at p, least significant first.
inline void StoreLow(std::uint8_t* p, std::uint64_t v, unsigned count) {
  switch (count) {
    case 0: break;
    case 1: p[0] = static_cast<std::uint8_t>(v); break;
    case 2: Store16(p, v); break;
    case 3: Store16(p, v); p[2] = static_cast<std::uint8_t>(v >> 16); break;
    case 4: Store32(p, v); break;
    case 5: Store32(p, v); p[4] = static_cast<std::uint8_t>(v >> 32); break;
    case 6: Store32(p, v); Store16(p + 4, v >> 32); break;
    default:
      assert(count == 7);
      Store32(p, v);
      Store16(p + 4, v >> 32);
      p[6] = static_cast<std::uint8_t>(v >> 48);
      break;
  }
}

// Loads count (1..4) bytes at p as a little-endian number.
inline std::uint32_t LoadLow(const std::uint8_t* p, unsigned count) {
  switch (count) {
    case 1: return p[0];
    case 2: return Load16(p);
    case 3: return Load16(p) | static_cast<std::uint32_t>(p[2]) << 16;
    default: assert(count == 4); return Load32(p);
  }
}

}  // namespace bitio

// The bit writer and the bit reader: one block attached to a stream's carry.
// The codec's loops keep them in locals for a whole block (a store through
// the output pointer may alias any member, so a loop over members would
// reload them after every code) and write the carry back once.
struct TBitWriter {
  std::uint8_t* Block{};
  std::uint8_t* Cursor{};
  std::uint8_t* End{};
  std::uint64_t Acc{};  // pending bits, oldest at bit 0, zero above Bits
  unsigned Bits{};

  // Bytes a put away from the block's end stores at once: the whole
  // accumulator, of which the bytes above the complete ones are overwritten
  // by the next code.
  static constexpr unsigned FastReach = 8;

  // Attaches block to the stream: its pending bits go out first.
  TBitWriter(const TBitBuf& carry, std::uint8_t* block, std::uint32_t length)
      : Block(block), Cursor(block), End(block + length), Acc(carry.Acc), Bits(carry.AccBits) {}

  std::uint32_t Room() const { return static_cast<std::uint32_t>(End - Cursor); }
  std::uint32_t BytesUsed() const { return static_cast<std::uint32_t>(Cursor - Block); }
  bool AtBlockEnd() const { return Cursor == End; }
  // True when PutFast may be used: eight bytes free and any code fits the
  // accumulator.
  bool Roomy() const { return End - Cursor >= static_cast<std::ptrdiff_t>(FastReach) && Bits <= 32; }

  void PutFast(std::uint32_t code, unsigned width) {
    assert(Roomy());
    assert(width >= 1 && width <= 31 && (static_cast<std::uint64_t>(code) >> width) == 0);
    assert((Acc >> Bits) == 0);
    const std::uint64_t v = Acc | static_cast<std::uint64_t>(code) << Bits;
    const unsigned total = Bits + width;
    bitio::Store64(Cursor, v);
    Cursor += total / 8;
    Acc = v >> (8 * (total / 8));
    Bits = total % 8;
  }
  // Appends code (below 2^width, width 1..31). False only when the block had
  // no byte left; then nothing changes. Complete bytes that do not fit stay
  // pending and go out first into the next block.
  bool PutCode(std::uint32_t code, unsigned width) {
    if (Roomy()) {
      PutFast(code, width);
      return true;
    }
    return PutNearEnd(code, width);
  }
  // Stores the pending bits padded with zeros to whole bytes. False when they
  // do not all fit; whatever did not fit stays pending.
  bool FlushBits();

  void WriteBack(TBitBuf& carry) const {
    carry.Acc = Acc;
    carry.AccBits = static_cast<std::uint8_t>(Bits);
  }

private:
  bool PutNearEnd(std::uint32_t code, unsigned width);
  bool DrainWholeBytes();
};

struct TBitReader {
  const std::uint8_t* Block{};
  const std::uint8_t* Cursor{};
  const std::uint8_t* End{};
  std::uint64_t Acc{};  // pending bits, oldest at bit 0; above Bits: the stream's next ones or zero
  unsigned Bits{};

  // Attaches block to the stream: the bits read ahead of it are taken first.
  TBitReader(const TBitBuf& carry, const std::uint8_t* block, std::uint32_t length)
      : Block(block), Cursor(block), End(block + length), Acc(carry.Acc), Bits(carry.AccBits) {}

  // The bytes of the block taken so far; exact after WriteBack.
  std::uint32_t BytesUsed() const { return static_cast<std::uint32_t>(Cursor - Block); }

  // Away from the block's end, tops the accumulator up to 56 bits or more in
  // one load. The bits above the whole bytes taken are the stream's next ones
  // too, so OR-ing them in again later is harmless.
  bool CanRefill() const { return End - Cursor >= 8; }
  void Refill() {
    assert(CanRefill() && Bits < 64);
    Acc |= bitio::Load64(Cursor) << Bits;
    const unsigned k = (63 - Bits) >> 3;
    Cursor += k;
    Bits += 8 * k;
  }
  // The next code, when Bits >= width; mask is 2^width - 1, which a loop at
  // one width keeps at hand.
  std::uint32_t Take(unsigned width, std::uint32_t mask) {
    assert(width >= 1 && width <= 31 && Bits >= width && mask == (std::uint64_t{1} << width) - 1);
    const auto code = static_cast<std::uint32_t>(Acc) & mask;
    Acc >>= width;
    Bits -= width;
    return code;
  }
  // Takes the next width bits (1..31). False when the block ran out before
  // the code was complete; the bytes taken in then stay pending for the next
  // block.
  bool GetCode(std::uint32_t& code, unsigned width) {
    if (Bits < width) {
      if (CanRefill()) {
        Refill();
      } else if (!LoadNearEnd(width)) {
        return false;
      }
    }
    code = Take(width, static_cast<std::uint32_t>((std::uint64_t{1} << width) - 1));
    return true;
  }

  // Hands back the whole bytes read ahead (never past the start of the
  // block), so that the carry holds what a code-by-code reader would and
  // BytesUsed counts what the codes took. Only Refill reads ahead, and it
  // never reaches the block's end: at the end the pending bits are those of
  // a code still incomplete, which stay.
  void WriteBack(TBitBuf& carry) {
    unsigned back = Cursor == End ? 0 : Bits >> 3;
    const auto readHere = static_cast<std::uint32_t>(Cursor - Block);
    if (back > readHere) back = readHere;
    Cursor -= back;
    Bits -= 8 * back;
    if (Bits < 64) Acc &= (std::uint64_t{1} << Bits) - 1;
    carry.Acc = Acc;
    carry.AccBits = static_cast<std::uint8_t>(Bits);
  }

private:
  // Takes in the bytes the code still needs, as many as the block has.
  bool LoadNearEnd(unsigned width) {
    const auto left = static_cast<unsigned>(End - Cursor);
    if (left == 0) return false;
    unsigned need = (width - Bits + 7) / 8;
    if (need > left) need = left;
    Acc |= static_cast<std::uint64_t>(bitio::LoadLow(Cursor, need)) << Bits;
    Cursor += need;
    Bits += 8 * need;
    return Bits >= width;
  }
};

}  // namespace vorka
