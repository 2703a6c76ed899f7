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
  TBitBuf buf;
  buf.Init();
  EXPECT_FALSE(buf.PutCode(1, 1));  // detached
  EXPECT_EQ(buf.AccBits, 0);

  std::uint8_t block[1] = {0xAA};
  buf.AttachForWrite(block, 1);
  ASSERT_TRUE(buf.PutCode(0x5A, 8));
  EXPECT_TRUE(buf.AtBlockEnd());
  EXPECT_FALSE(buf.PutCode(1, 1));
  EXPECT_EQ(buf.AccBits, 0);
  EXPECT_EQ(buf.Acc, 0u);
  EXPECT_EQ(block[0], 0x5A);
}

TEST(BitBufPut, FiveInThreeAndThreeHundredInNine) {
  std::uint8_t block[8] = {};
  TBitBuf buf;
  buf.Init();
  buf.AttachForWrite(block, sizeof block);
  ASSERT_TRUE(buf.PutCode(5, 3));
  ASSERT_TRUE(buf.PutCode(300, 9));
  ASSERT_TRUE(buf.FlushBits());
  EXPECT_EQ(block[0], 0x65);
  EXPECT_EQ(block[1], 0x09);
  EXPECT_EQ(buf.BytesUsed(), 2u);
  EXPECT_EQ(buf.AccBits, 0);
}

TEST(BitBufPut, FlushWithNothingPendingOrNoRoom) {
  std::uint8_t block[1] = {0x11};
  TBitBuf buf;
  buf.Init();
  buf.AttachForWrite(block, 1);
  EXPECT_TRUE(buf.FlushBits());
  EXPECT_EQ(buf.BytesUsed(), 0u);
  EXPECT_EQ(block[0], 0x11);

  ASSERT_TRUE(buf.PutCode(5, 3));
  ASSERT_TRUE(buf.PutCode(0x3F, 6));  // 9 bits: one byte stored, one bit pending
  ASSERT_TRUE(buf.AtBlockEnd());
  EXPECT_EQ(block[0], 0xFD);
  EXPECT_FALSE(buf.FlushBits());
  EXPECT_EQ(buf.AccBits, 1);
  EXPECT_EQ(buf.Acc, 1u);

  std::uint8_t next[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  buf.AttachForWrite(next, 4);
  EXPECT_TRUE(buf.FlushBits());
  EXPECT_EQ(buf.BytesUsed(), 1u);
  EXPECT_EQ(next[0], 0x01);
  EXPECT_EQ(next[1], 0xEE);
}

TEST(BitBufPut, CodeStraddlesAOneByteBlockEnd) {
  std::uint8_t first[2] = {};
  TBitBuf buf;
  buf.Init();
  buf.AttachForWrite(first, 2);
  ASSERT_TRUE(buf.PutCode(0x77, 8));
  ASSERT_TRUE(buf.PutCode(5, 3));
  ASSERT_EQ(buf.BytesLeft, 1u);

  ASSERT_TRUE(buf.PutCode(0x3FFFF, 20));
  EXPECT_EQ(first[1], 0xFD);
  EXPECT_EQ(buf.AccBits, 15);
  EXPECT_EQ(buf.Acc, 0x1FFFu);
  EXPECT_TRUE(buf.AtBlockEnd());
  EXPECT_FALSE(buf.PutCode(1, 1));

  std::uint8_t second[4] = {};
  buf.AttachForWrite(second, 4);
  ASSERT_TRUE(buf.PutCode(0, 1));
  // The 15 pending bits go out first: 0x1FFF, then the new 0 bit on top.
  EXPECT_EQ(second[0], 0xFF);
  EXPECT_EQ(second[1], 0x1F);
  EXPECT_EQ(buf.BytesUsed(), 2u);
  EXPECT_EQ(buf.AccBits, 0);
}

TEST(BitBufPut, TwentySevenPendingBitsIntoAFreshBlock) {
  std::uint8_t first[1] = {};
  TBitBuf buf;
  buf.Init();
  buf.AttachForWrite(first, 1);
  buf.AccBits = 7;  // seven pending ones, as left by earlier codes
  buf.Acc = 0x7F;
  ASSERT_TRUE(buf.PutCode(0x0FFFFFFF, 28));
  EXPECT_EQ(first[0], 0xFF);
  EXPECT_EQ(buf.AccBits, 27);
  EXPECT_EQ(buf.Acc, 0x7FFFFFFu);

  std::uint8_t second[8] = {};
  buf.AttachForWrite(second, 8);
  ASSERT_TRUE(buf.PutCode(0x0ABCDEF1, 28));
  EXPECT_EQ(buf.BytesUsed(), 6u);
  EXPECT_EQ(buf.AccBits, 7);
  const std::uint64_t all = 0x7FFFFFFull | (std::uint64_t{0x0ABCDEF1} << 27);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(second[i], static_cast<std::uint8_t>(all >> (8 * i))) << i;
  EXPECT_EQ(buf.Acc, all >> 48);
}

TEST(BitBufGet, TwelveBitsAcrossOneByteBlocks) {
  const std::uint8_t first[1] = {0x34};
  const std::uint8_t second[2] = {0xF2, 0x99};
  TBitBuf buf;
  buf.Init();
  buf.AttachForRead(first, 1);
  std::uint32_t code = 0xDEAD;
  EXPECT_FALSE(buf.GetCode(code, 12));
  EXPECT_EQ(buf.AccBits, 8);
  EXPECT_EQ(buf.BytesUsed(), 1u);
  buf.AttachForRead(second, 2);
  ASSERT_TRUE(buf.GetCode(code, 12));
  EXPECT_EQ(code, 0x234u);
  EXPECT_EQ(buf.BytesUsed(), 1u);
  EXPECT_EQ(buf.AccBits, 4);
  // Enough pending bits: served without touching the block.
  std::uint8_t detachedBlock = 0;
  buf.AttachForRead(&detachedBlock, 0);
  ASSERT_TRUE(buf.GetCode(code, 4));
  EXPECT_EQ(code, 0xFu);
  EXPECT_FALSE(buf.GetCode(code, 1));
}

TEST(BitBufGet, ReadsBackTheWorkedExample) {
  const std::uint8_t bytes[2] = {0x65, 0x09};
  TBitBuf buf;
  buf.Init();
  buf.AttachForRead(bytes, 2);
  std::uint32_t a = 0, b = 0, c = 1;
  ASSERT_TRUE(buf.GetCode(a, 3));
  ASSERT_TRUE(buf.GetCode(b, 9));
  ASSERT_TRUE(buf.GetCode(c, 4));
  EXPECT_EQ(a, 5u);
  EXPECT_EQ(b, 300u);
  EXPECT_EQ(c, 0u);
  EXPECT_TRUE(buf.AtBlockEnd());
}

// Random codes in random blocks (down to 1 byte) against the bit-at-a-time
// writer, then read back in other random blocks.
TEST(BitBufRandom, MatchesTheReferenceWriterAndReadsBack) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    const std::uint32_t maxBlock = seed <= 10 ? 3 : 1 + rng() % 300;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> codes(2000);
    test::RefBitWriter ref;
    for (auto& [code, width] : codes) {
      width = static_cast<std::uint8_t>(1 + rng() % 31);
      code = rng() & ((1u << width) - 1);
      ref.Put(code, width);
    }

    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> block;
    TBitBuf buf;
    buf.Init();
    std::size_t next = 0;
    bool flushed = false;
    while (!flushed) {
      block.assign(1 + rng() % maxBlock, 0xEE);
      buf.AttachForWrite(block.data(), static_cast<std::uint32_t>(block.size()));
      while (next < codes.size() && buf.PutCode(codes[next].first, codes[next].second)) ++next;
      if (next == codes.size()) flushed = buf.FlushBits();
      stream.insert(stream.end(), block.begin(), block.begin() + buf.BytesUsed());
    }
    ASSERT_EQ(stream, ref.Bytes());

    TBitBuf in;
    in.Init();
    std::size_t pos = 0;
    next = 0;
    while (next < codes.size()) {
      ASSERT_LT(pos, stream.size() + 1);
      const std::uint32_t length =
          static_cast<std::uint32_t>(std::min<std::size_t>(1 + rng() % 7, stream.size() - pos));
      in.AttachForRead(stream.data() + pos, length);
      std::uint32_t code;
      while (next < codes.size() && in.GetCode(code, codes[next].second)) {
        ASSERT_EQ(code, codes[next].first) << "code " << next;
        ++next;
      }
      pos += in.BytesUsed();
      if (length == 0) break;
    }
    EXPECT_EQ(next, codes.size());
  }
}


// The writer and the reader as values, the way the codec's loops use them:
// copied out of the buffer, many codes, written back once per block.
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
      block.assign(seed % 3 == 0 ? 4 + rng() % 40 : 1000 + rng() % 5000, 0xEE);
      buf.AttachForWrite(block.data(), static_cast<std::uint32_t>(block.size()));
      TBitWriter out(buf);
      // The fast put while there is room for it, the checked one after.
      while (next < list.Codes.size()) {
        const auto [code, width] = list.Codes[next];
        if (out.Roomy()) {
          out.PutFast(code, width);
        } else if (!out.Put(code, width)) {
          break;
        }
        ++next;
      }
      out.WriteBack(buf);
      EXPECT_EQ(buf.BytesUsed(), block.size() - out.Room());
      if (next == list.Codes.size()) flushed = buf.FlushBits();
      stream.insert(stream.end(), block.begin(), block.begin() + buf.BytesUsed());
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
      const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(1 + rng() % 300, stream.size() - pos));
      buf.AttachForRead(stream.data() + pos, length);
      TBitReader in(buf);
      // Sometimes stop early, as the decoder does when its output is full.
      const std::size_t stopAt = std::min(list.Codes.size(), rng() % 3 == 0 ? next + rng() % 20 : list.Codes.size());
      bool starved = false;
      while (next < stopAt) {
        std::uint32_t code = 0;
        if (!in.Get(code, list.Codes[next].second)) {
          starved = true;
          break;
        }
        ASSERT_EQ(code, list.Codes[next].first) << "code " << next;
        bits += list.Codes[next].second;
        ++next;
      }
      in.WriteBack(buf);
      const std::size_t total = pos + buf.BytesUsed();
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
