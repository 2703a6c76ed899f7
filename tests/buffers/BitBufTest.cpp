#include "buffers/BitBuf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "support/RefBitWriter.h"

namespace vorka {
namespace {

TEST(BitBufPut, RefusesWithoutAByteLeft) {
  TBitBuf carry;
  carry.Init();
  std::uint8_t block[1] = {0xAA};
  TBitWriter none(carry, block, 0);
  EXPECT_FALSE(none.PutCode(1, 1));
  EXPECT_EQ(none.Bits, 0u);

  TBitWriter out(carry, block, 1);
  ASSERT_TRUE(out.PutCode(0x5A, 8));
  EXPECT_TRUE(out.AtBlockEnd());
  EXPECT_FALSE(out.PutCode(1, 1));
  out.WriteBack(carry);
  EXPECT_EQ(carry.AccBits, 0);
  EXPECT_EQ(carry.Acc, 0u);
  EXPECT_EQ(block[0], 0x5A);
}

TEST(BitBufPut, FiveInThreeAndThreeHundredInNine) {
  std::uint8_t block[8] = {};
  TBitBuf carry;
  TBitWriter out(carry, block, sizeof block);
  ASSERT_TRUE(out.PutCode(5, 3));
  ASSERT_TRUE(out.PutCode(300, 9));
  ASSERT_TRUE(out.FlushBits());
  EXPECT_EQ(block[0], 0x65);
  EXPECT_EQ(block[1], 0x09);
  EXPECT_EQ(out.BytesUsed(), 2u);
  EXPECT_EQ(out.Bits, 0u);

  TBitReader in(carry, block, 2);
  std::uint32_t a = 0, b = 0, c = 1;
  ASSERT_TRUE(in.GetCode(a, 3));
  ASSERT_TRUE(in.GetCode(b, 9));
  ASSERT_TRUE(in.GetCode(c, 4));
  EXPECT_EQ(a, 5u);
  EXPECT_EQ(b, 300u);
  EXPECT_EQ(c, 0u);
  EXPECT_EQ(in.BytesUsed(), 2u);
}

TEST(BitBufPut, FlushWithNothingPendingOrNoRoom) {
  std::uint8_t block[1] = {0x11};
  TBitBuf carry;
  TBitWriter out(carry, block, 1);
  EXPECT_TRUE(out.FlushBits());
  EXPECT_EQ(out.BytesUsed(), 0u);
  EXPECT_EQ(block[0], 0x11);

  ASSERT_TRUE(out.PutCode(5, 3));
  ASSERT_TRUE(out.PutCode(0x3F, 6));  // 9 bits: one byte stored, one bit pending
  ASSERT_TRUE(out.AtBlockEnd());
  EXPECT_EQ(block[0], 0xFD);
  EXPECT_FALSE(out.FlushBits());
  out.WriteBack(carry);
  EXPECT_EQ(carry.AccBits, 1);
  EXPECT_EQ(carry.Acc, 1u);

  std::uint8_t next[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  TBitWriter more(carry, next, 4);
  EXPECT_TRUE(more.FlushBits());
  EXPECT_EQ(more.BytesUsed(), 1u);
  EXPECT_EQ(next[0], 0x01);
  EXPECT_EQ(next[1], 0xEE);
}

// Pending bits carried into the next block go out before its first code.
TEST(BitBufPut, PendingBitsCrossIntoTheNextBlock) {
  struct TCase {
    std::uint64_t CarryAcc;  // bits pending when the first block is attached
    unsigned CarryBits;
    std::uint32_t FirstSize;
    std::vector<std::pair<std::uint32_t, unsigned>> Codes;  // put into the first block
    unsigned PendingAfter;                                  // bits carried to the second block
    std::pair<std::uint32_t, unsigned> Next;                // put into the second block
  } cases[] = {
      // 8 + 3 bits, then 20 into one byte left: 15 bits carried.
      {0, 0, 2, {{0x77, 8}, {5, 3}, {0x3FFFF, 20}}, 15, {0, 1}},
      // seven pending bits and a 28-bit code into a one-byte block: 27 carried.
      {0x7F, 7, 1, {{0x0FFFFFFF, 28}}, 27, {0x0ABCDEF1, 28}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "first block " << c.FirstSize);
    test::RefBitWriter ref;
    for (unsigned i = 0; i < c.CarryBits; ++i) ref.Put(static_cast<std::uint32_t>(c.CarryAcc >> i) & 1u, 1);
    TBitBuf carry;
    carry.Acc = c.CarryAcc;
    carry.AccBits = static_cast<std::uint8_t>(c.CarryBits);
    std::vector<std::uint8_t> first(c.FirstSize);
    TBitWriter out(carry, first.data(), c.FirstSize);
    for (auto [code, width] : c.Codes) {
      ASSERT_TRUE(out.PutCode(code, width));
      ref.Put(code, static_cast<std::uint8_t>(width));
    }
    EXPECT_TRUE(out.AtBlockEnd());
    EXPECT_FALSE(out.PutCode(1, 1));
    out.WriteBack(carry);
    EXPECT_EQ(carry.AccBits, c.PendingAfter);
    EXPECT_EQ(carry.Acc >> carry.AccBits, 0u);

    std::vector<std::uint8_t> second(8, 0xEE);
    TBitWriter more(carry, second.data(), 8);
    ASSERT_TRUE(more.PutCode(c.Next.first, c.Next.second));
    ASSERT_TRUE(more.FlushBits());
    ref.Put(c.Next.first, static_cast<std::uint8_t>(c.Next.second));
    first.insert(first.end(), second.begin(), second.begin() + more.BytesUsed());
    EXPECT_EQ(first, ref.Bytes());
  }
}

TEST(BitBufGet, TwelveBitsAcrossOneByteBlocks) {
  const std::uint8_t first[1] = {0x34};
  const std::uint8_t second[2] = {0xF2, 0x99};
  TBitBuf carry;
  TBitReader in(carry, first, 1);
  std::uint32_t code = 0xDEAD;
  EXPECT_FALSE(in.GetCode(code, 12));
  in.WriteBack(carry);
  EXPECT_EQ(carry.AccBits, 8);
  EXPECT_EQ(in.BytesUsed(), 1u);
  TBitReader next(carry, second, 2);
  ASSERT_TRUE(next.GetCode(code, 12));
  EXPECT_EQ(code, 0x234u);
  next.WriteBack(carry);
  EXPECT_EQ(next.BytesUsed(), 1u);
  EXPECT_EQ(carry.AccBits, 4);
  // Enough pending bits: served without a block.
  TBitReader none(carry, nullptr, 0);
  ASSERT_TRUE(none.GetCode(code, 4));
  EXPECT_EQ(code, 0xFu);
  EXPECT_FALSE(none.GetCode(code, 1));
}

// Random codes in random blocks against the bit-at-a-time writer, the way the
// codec's loops use the writer and the reader: one per block, many codes, the
// carry written back once.
struct TCodeList {
  std::vector<std::pair<std::uint32_t, std::uint8_t>> Codes;
  test::RefBitWriter Ref;
};

TCodeList RandomCodes(std::mt19937& rng, std::size_t count) {
  TCodeList list;
  list.Codes.resize(count);
  for (auto& [code, width] : list.Codes) {
    width = static_cast<std::uint8_t>(rng() % 4 == 0 ? 1 + rng() % 31 : 2 + rng() % 27);
    code = rng() & ((1u << width) - 1);
    list.Ref.Put(code, width);
  }
  return list;
}

TEST(BitBufValues, WriterInLocalsMatchesTheReference) {
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    const TCodeList list = RandomCodes(rng, 5000);
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> block;
    TBitBuf buf;
    buf.Init();
    std::size_t next = 0;
    bool flushed = false;
    while (!flushed) {
      const std::uint32_t size = seed % 3 == 0 ? 1 + rng() % 3 : seed % 3 == 1 ? 4 + rng() % 40 : 1000 + rng() % 5000;
      block.assign(size, 0xEE);
      TBitWriter out(buf, block.data(), size);
      // The fast put while there is room for it, the checked one after.
      while (next < list.Codes.size()) {
        const auto [code, width] = list.Codes[next];
        if (out.Roomy()) {
          out.PutFast(code, width);
        } else if (!out.PutCode(code, width)) {
          break;
        }
        ++next;
      }
      if (next == list.Codes.size()) flushed = out.FlushBits();
      out.WriteBack(buf);
      EXPECT_EQ(out.BytesUsed(), block.size() - out.Room());
      stream.insert(stream.end(), block.begin(), block.begin() + out.BytesUsed());
    }
    ASSERT_EQ(stream, list.Ref.Bytes());
  }
}

// A reader reads ahead of its codes, then hands back the whole bytes it did
// not need: consumption and pending bits are those of a reader that takes
// only the bytes each code needs, which the bit counts give exactly.
TEST(BitBufValues, ReaderReportsOnlyWhatItsCodesTook) {
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    const TCodeList list = RandomCodes(rng, 4000);
    const std::vector<std::uint8_t> stream = list.Ref.Bytes();
    TBitBuf buf;
    buf.Init();
    std::size_t pos = 0;     // bytes consumed so far
    std::size_t next = 0;    // codes taken so far
    std::uint64_t bits = 0;  // their bits
    while (next < list.Codes.size()) {
      const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(seed % 2 == 0 ? 1 + rng() % 7 : 1 + rng() % 300, stream.size() - pos));
      TBitReader in(buf, stream.data() + pos, length);
      // Sometimes stop early, as the decoder does when its output is full.
      const std::size_t stopAt = std::min(list.Codes.size(), rng() % 3 == 0 ? next + rng() % 20 : list.Codes.size());
      bool starved = false;
      while (next < stopAt) {
        std::uint32_t code = 0;
        if (!in.GetCode(code, list.Codes[next].second)) {
          starved = true;
          break;
        }
        ASSERT_EQ(code, list.Codes[next].first) << "code " << next;
        bits += list.Codes[next].second;
        ++next;
      }
      in.WriteBack(buf);
      const std::size_t total = pos + in.BytesUsed();
      if (starved) {
        EXPECT_EQ(total, pos + length) << "a code still incomplete keeps every byte taken in";
      } else {
        EXPECT_EQ(total, std::max<std::size_t>(pos, (bits + 7) / 8));
      }
      EXPECT_EQ(std::uint64_t{buf.AccBits}, 8 * total - bits);
      EXPECT_EQ(buf.Acc >> buf.AccBits, 0u);
      pos = total;
      if (length == 0) break;
    }
    EXPECT_EQ(next, list.Codes.size());
  }
}

}  // namespace
}  // namespace vorka
