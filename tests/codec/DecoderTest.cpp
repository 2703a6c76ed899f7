#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/CodecHelpers.h"
#include "support/RefBitWriter.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace vorka {
namespace {

std::vector<std::uint8_t> Stream(const std::vector<test::RefItem>& items) {
  test::RefBitWriter writer;
  for (const auto& item : items) writer.Put(item.Value, item.Width);
  return writer.Bytes();
}

const std::vector<test::RefItem> kAaaa = {{0, 2}, {97, 8}, {1, 2}, {1, 5}, {4, 3}, {3, 3}};

class Decoder : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(codec.Init(4096)); }
  void TearDown() override { codec.Done(); }
  test::TTreeCodec codec;
};

TEST_F(Decoder, WorkedExamples) {
  struct Case { const char* text; std::vector<test::RefItem> items; };
  const Case cases[] = {
      {"aaaa", kAaaa},
      {"abcabcabc",
       {{0, 2}, {97, 8}, {2, 2}, {98, 8}, {2, 2}, {99, 8}, {1, 2}, {1, 5}, {4, 3}, {1, 3}, {1, 5}, {8, 4}, {6, 4}}},
      {"abab", {{0, 2}, {97, 8}, {2, 2}, {98, 8}, {1, 2}, {1, 5}, {4, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    const auto result = test::UnpackAll(codec, Stream(c.items), text.size(), 1000, 1000);
    EXPECT_FALSE(result.Damaged);
    EXPECT_EQ(result.Data, text);
  }
}

TEST_F(Decoder, TwoByteBlocksOweTheRestOfThePhraseThatDoesNotFit) {
  const std::vector<std::uint8_t> stream = Stream(kAaaa);  // phrases a, aa (node 4), a
  codec.StartUnpacking();
  std::uint8_t out[2];
  std::uint32_t consumed = 0, produced = 0;
  ASSERT_TRUE(codec.DecodeBlock(stream.data(), static_cast<std::uint32_t>(stream.size()), consumed, out, 2, produced));
  EXPECT_EQ(std::string(out, out + produced), "aa");  // "a" and the first byte of "aa"
  EXPECT_TRUE(codec.PhraseUnfinished());
  const auto rest = static_cast<std::uint32_t>(stream.size() - consumed);
  ASSERT_TRUE(codec.DecodeBlock(stream.data() + consumed, rest, consumed, out, 2, produced));
  EXPECT_EQ(std::string(out, out + produced), "aa");  // the rest of "aa", then "a"
  EXPECT_FALSE(codec.PhraseUnfinished());
  EXPECT_EQ(codec.Store.Nodes.NodeCount, 6u);  // nodes a, aa, and the node after the last phrase
}

TEST_F(Decoder, ZeroCapacityWritesNothing) {
  const std::vector<std::uint8_t> stream = Stream(kAaaa);
  codec.StartUnpacking();
  std::uint32_t consumed = 11, produced = 22;
  EXPECT_FALSE(codec.DecodeBlock(stream.data(), 3, consumed, nullptr, 0, produced));
  EXPECT_EQ(consumed, 11u);
  EXPECT_EQ(produced, 22u);
  EXPECT_FALSE(codec.StreamDamaged());
}

TEST_F(Decoder, StopsAtTheCapacityBeforeThePadding) {
  // "ab" is 20 bits; the 4 padding bits would read as two codeReset items.
  const std::vector<std::uint8_t> stream = Stream({{0, 2}, {97, 8}, {2, 2}, {98, 8}});
  codec.StartUnpacking();
  std::uint8_t out[8];
  std::uint32_t consumed = 0, produced = 0;
  ASSERT_TRUE(codec.DecodeBlock(stream.data(), 3, consumed, out, 2, produced));
  EXPECT_EQ(std::string(out, out + produced), "ab");
  EXPECT_FALSE(codec.PhraseUnfinished());
}

// A run of one byte makes phrases of every length: with output blocks far
// shorter than the phrases they are handed out in pieces, in linear time.
TEST_F(Decoder, PhrasesLongerThanTheOutputBlockArriveInPieces) {
  codec.Done();
  ASSERT_TRUE(codec.Init(1u << 20));
  const std::string data = std::string(2000000, 'q') + "end" + std::string(5000, 'q');
  const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 100000, 100000);
  const std::uint32_t longest = codec.Encoder.LongestFragment();
  ASSERT_GT(longest, 1900u);
  for (const std::uint32_t block : {1u, 2u, 3u, 1000u}) {
    SCOPED_TRACE(block);
    for (const std::uint32_t inBlock : {1u, 4099u}) {
      const auto result = test::UnpackAll(codec, stream, data.size(), inBlock, block);
      EXPECT_FALSE(result.Damaged);
      EXPECT_TRUE(result.Data == data);
    }
  }
}

struct DamagedCase {
  const char* rule;
  std::vector<test::RefItem> items;
};

TEST_F(Decoder, RejectsItemsThePackerCannotWrite) {
  const DamagedCase cases[] = {
      {"first item is not codeReset", {{2, 2}, {97, 8}}},
      {"first item is a widen", {{1, 2}, {3, 5}, {3, 5}}},
      {"phrase code above the node count", {{0, 2}, {97, 8}, {1, 2}, {1, 5}, {5, 3}}},
      {"width beyond 28", {{0, 2}, {97, 8}, {1, 2}, {27, 5}}},
      {"width beyond 28 in two steps", {{0, 2}, {97, 8}, {1, 2}, {20, 5}, {4, 22}, {1, 22}, {7, 5}}},
      {"largest step count", {{0, 2}, {97, 8}, {1, 2}, {31, 5}}},
  };
  for (const DamagedCase& c : cases) {
    SCOPED_TRACE(c.rule);
    std::vector<std::uint8_t> stream = Stream(c.items);
    stream.resize(stream.size() + 8, 0x55);
    const auto result = test::UnpackAll(codec, stream, 100, 1000, 1000);
    EXPECT_TRUE(result.Damaged);
    EXPECT_TRUE(codec.StreamDamaged());
    // Later calls do nothing.
    std::uint8_t out[16];
    std::uint32_t consumed = 9, produced = 9;
    EXPECT_FALSE(codec.DecodeBlock(stream.data(), static_cast<std::uint32_t>(stream.size()), consumed, out,
                                   sizeof out, produced));
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(produced, 0u);
    codec.StartUnpacking();
    EXPECT_FALSE(codec.StreamDamaged());
  }
}

TEST_F(Decoder, RejectsACodeForANodeTheFragmentLimitForbade) {
  codec.SetMaxFragment(4);
  // a, then aa (node 4), aaa (5), aaaa (6); after a 4-long phrase no node is
  // made, so code 7 (the next node number) names nothing.
  const auto result = test::UnpackAll(
      codec, Stream({{0, 2}, {97, 8}, {1, 2}, {1, 5}, {4, 3}, {5, 3}, {6, 3}, {1, 3}, {1, 5}, {7, 4}, {0, 4}}), 100,
      1000, 1000);
  EXPECT_TRUE(result.Damaged);
  EXPECT_EQ(result.Data.substr(0, 10), "aaaaaaaaaa");
}

TEST_F(Decoder, RejectsALiteralIntoAFullStore) {
  codec.Done();
  ASSERT_TRUE(codec.Init(500));
  // Each codeLiteral + literal after the first adds two nodes and no reset
  // ever comes: the store overflows.
  std::vector<test::RefItem> items = {{0, 2}, {'x', 8}};
  for (int i = 0; i < 300; ++i) {
    items.push_back({2, 2});
    items.push_back({'x', 8});
  }
  const auto result = test::UnpackAll(codec, Stream(items), 1000, 1000, 1000);
  EXPECT_TRUE(result.Damaged);
  EXPECT_EQ(result.Data.size(), 249u);  // 1 + 2 * 248 = 497 phrase nodes
  EXPECT_EQ(codec.Store.Nodes.NodeCount, 500u);
}

TEST_F(Decoder, RandomBytesEndCleanly) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::vector<std::uint8_t> stream = Stream({{0, 2}, {'r', 8}});
    const std::string noise = test::MakeRandom(1 + seed * 7, seed);
    if (seed % 2 == 0) stream.clear();
    stream.insert(stream.end(), noise.begin(), noise.end());
    const auto result = test::UnpackAll(codec, stream, 1u << 16, 1 + seed % 13, 1 + seed % 50);
    EXPECT_LE(result.Data.size(), std::size_t{1} << 16);
  }
}

TEST_F(Decoder, TruncatedAndFlippedStreamsEndCleanly) {
  const std::string data = test::MakeText(4000, 9) + test::MakeRandom(500, 9);
  const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 4000, 1000);
  for (std::size_t cut = 0; cut < stream.size(); cut += 1 + cut / 8) {
    SCOPED_TRACE(testing::Message() << "cut " << cut);
    const std::vector<std::uint8_t> head(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    const auto result = test::UnpackAll(codec, head, data.size(), 1000, 1000);
    EXPECT_FALSE(result.Damaged);
    EXPECT_LT(result.Data.size(), data.size());
    EXPECT_EQ(result.Data, data.substr(0, result.Data.size()));
  }
  std::mt19937 rng(17);
  for (int i = 0; i < 300; ++i) {
    std::vector<std::uint8_t> flipped = stream;
    flipped[rng() % flipped.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    const auto result = test::UnpackAll(codec, flipped, data.size(), 1 + rng() % 100, 2 + rng() % 300);
    EXPECT_LE(result.Data.size(), data.size());
  }
}

}  // namespace
}  // namespace vorka
