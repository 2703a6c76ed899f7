// Bit buffer: packs codes of 1 to 31 bits into caller-owned byte blocks, least
// significant bit first, and reads them back. It owns no memory; a 64-bit
// accumulator carries the bits that did not fit into one block (or that were
// read ahead) over to the next attached block, so codes may straddle blocks.
//
// Layout example: code 5 in 3 bits, then 300 in 9 bits, then FlushBits gives
// 0x65 0x09: byte 0 = 5 | (300 & 31) << 3, byte 1 = 300 >> 5, padded with zeros.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>

namespace vorka {

struct TBitBuf {
  static constexpr std::uint8_t ReadMode = 0x01;
  static constexpr std::uint8_t WriteMode = 0x02;

  std::uint8_t Mode{};
  const std::uint8_t* Block{};
  std::uint32_t BlockSize{};
  std::uint32_t BytesLeft{};
  const std::uint8_t* Cursor{};     // next byte to read; also tracks writing
  std::uint8_t* WriteCursor{};      // the same position, writable, while writing
  std::uint64_t Acc{};      // pending bits, oldest at bit 0, zero above AccBits
  std::uint8_t AccBits{};

  void Init() { Clear(); }
  void Clear();

  // The first attach in a direction after Clear empties the accumulator; later
  // ones keep the pending bits so that the stream continues.
  void AttachForWrite(std::uint8_t* block, std::uint32_t length);
  void AttachForRead(const std::uint8_t* block, std::uint32_t length);

  // Appends Code (below 2^Width, Width 1..31). False only when the block had no
  // byte left; then nothing changes. Complete bytes that do not fit stay pending
  // and go out first after the next attach.
  bool PutCode(std::uint32_t code, std::uint8_t width);

  // Stores the pending bits padded with zeros to whole bytes. False when they
  // do not all fit; whatever did not fit stays pending.
  bool FlushBits();

  // Takes the next Width bits (1..31). False when the block ran out first; the
  // bytes taken in stay pending and the caller retries after the next attach.
  bool GetCode(std::uint32_t& code, std::uint8_t width);

  std::uint32_t BytesUsed() const { return BlockSize - BytesLeft; }
  bool AtBlockEnd() const { return BytesLeft == 0; }

private:
  bool DrainWholeBytes();
  // PutCode within eight bytes of the block's end, or after a short block.
  bool PutCodeNearEnd(std::uint32_t code, std::uint8_t width);
};

namespace bitio {

inline void Store16(std::uint8_t* p, std::uint64_t v) {
  const auto w = static_cast<std::uint16_t>(v);
  std::memcpy(p, &w, 2);
}
inline void Store32(std::uint8_t* p, std::uint64_t v) {
  const auto w = static_cast<std::uint32_t>(v);
  std::memcpy(p, &w, 4);
}
inline std::uint32_t Load16(const std::uint8_t* p) {
  std::uint16_t w;
  std::memcpy(&w, p, 2);
  return w;
}
inline void Store64(std::uint8_t* p, std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}
inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}
inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

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

inline bool TBitBuf::PutCode(std::uint32_t code, std::uint8_t width) {
  assert(width >= 1 && width <= 31);
  assert((static_cast<std::uint64_t>(code) >> width) == 0);
  if (BytesLeft >= 8 && AccBits <= 32) {
    assert((Acc >> AccBits) == 0);
    // Away from the block's end: store all eight bytes of the accumulator at
    // once (the ones above the complete bytes are zero and are overwritten by
    // the next code) instead of choosing a store sequence by the byte count.
    const std::uint64_t v = Acc | static_cast<std::uint64_t>(code) << AccBits;
    const unsigned total = AccBits + width;
    const unsigned full = total / 8;
    bitio::Store64(WriteCursor, v);
    WriteCursor += full;
    Cursor += full;
    BytesLeft -= full;
    Acc = v >> (8 * full);
    AccBits = static_cast<std::uint8_t>(total % 8);
    return true;
  }
  return PutCodeNearEnd(code, width);
}

inline bool TBitBuf::GetCode(std::uint32_t& code, std::uint8_t width) {
  assert(width >= 1 && width <= 31);
  const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
  if (AccBits >= width) {
    code = static_cast<std::uint32_t>(Acc & mask);
    Acc >>= width;
    AccBits = static_cast<std::uint8_t>(AccBits - width);
    return true;
  }
  if (BytesLeft >= 4) {
    // Away from the block's end: load four bytes, keep the ones the code needs.
    const unsigned need = (static_cast<unsigned>(width - AccBits) + 7) / 8;
    const std::uint64_t fresh = bitio::Load32(Cursor) & ((std::uint64_t{1} << (8 * need)) - 1);
    const std::uint64_t v = Acc | fresh << AccBits;
    Cursor += need;
    BytesLeft -= need;
    const unsigned total = AccBits + 8 * need;
    code = static_cast<std::uint32_t>(v & mask);
    Acc = v >> width;
    AccBits = static_cast<std::uint8_t>(total - width);
    return true;
  }
  if (BytesLeft == 0) return false;
  unsigned need = (static_cast<unsigned>(width - AccBits) + 7) / 8;
  if (need > BytesLeft) need = BytesLeft;
  const std::uint64_t v = Acc | static_cast<std::uint64_t>(bitio::LoadLow(Cursor, need)) << AccBits;
  Cursor += need;
  BytesLeft -= need;
  const unsigned total = AccBits + 8 * need;
  if (total < width) {
    Acc = v;
    AccBits = static_cast<std::uint8_t>(total);
    return false;
  }
  code = static_cast<std::uint32_t>(v & mask);
  Acc = v >> width;
  AccBits = static_cast<std::uint8_t>(total - width);
  return true;
}

}  // namespace vorka
