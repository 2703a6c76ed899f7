#include <gtest/gtest.h>

#include <vector>

#include "codec/LZCodec.h"
#include "codec/CodecHelpers.h"
#include "support/RefBitWriter.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace vorka {
namespace {

using test::RefItem;

// Items the encoder emits, taken from its queue byte by byte.
template <class TCodec>
std::vector<RefItem> Items(TCodec& codec, const std::string& data) {
  codec.StartPacking();
  std::vector<RefItem> items;
  for (const char ch : data) {
    const unsigned m = codec.EncodeByte(static_cast<std::uint8_t>(ch));
    for (unsigned i = 0; i < m; ++i) items.push_back({codec.Queue.Value[i], codec.Queue.Width[i]});
  }
  const unsigned m = codec.EncodeEnd();
  for (unsigned i = 0; i < m; ++i) items.push_back({codec.Queue.Value[i], codec.Queue.Width[i]});
  return items;
}

struct WorkedExample {
  const char* input;
  std::vector<RefItem> items;  // computed by hand
  std::uint64_t bits;
  std::uint32_t longest;
};

const WorkedExample kExamples[] = {
    {"aaaa", {{0, 2}, {97, 8}, {1, 2}, {1, 5}, {4, 3}, {3, 3}}, 23, 3},
    {"abcabcabc",
     {{0, 2}, {97, 8}, {2, 2}, {98, 8}, {2, 2}, {99, 8}, {1, 2}, {1, 5}, {4, 3}, {1, 3}, {1, 5}, {8, 4}, {6, 4}},
     56, 3},
    {"abab", {{0, 2}, {97, 8}, {2, 2}, {98, 8}, {1, 2}, {1, 5}, {4, 3}}, 30, 2},
    {"a", {{0, 2}, {97, 8}}, 10, 0},
};

// Every case runs over both child indexes.
template <class TIndex>
class Encoder : public testing::Test {};
TYPED_TEST_SUITE(Encoder, test::ChildIndexes, test::IndexNames);

TYPED_TEST(Encoder, WorkedExamplesItemsBitsAndStatistics) {
  TLZCodecOf<TypeParam> codec;
  ASSERT_TRUE(codec.Init(4096));
  for (const WorkedExample& ex : kExamples) {
    SCOPED_TRACE(ex.input);
    EXPECT_EQ(Items(codec, ex.input), ex.items);

    test::RefBitWriter writer;
    for (const RefItem& item : ex.items) writer.Put(item.Value, item.Width);
    ASSERT_EQ(writer.Bits(), ex.bits);

    const std::vector<std::uint8_t> stream = test::PackAll(codec, ex.input, 1000, 1000);
    EXPECT_EQ(stream, writer.Bytes());
    EXPECT_EQ(codec.PackedBytes(), (ex.bits + 7) / 8);
    EXPECT_EQ(codec.OutBytes * 8 + codec.OutBits, ex.bits);
    EXPECT_EQ(codec.InputBytes(), std::string(ex.input).size());
    EXPECT_EQ(codec.LongestFragment(), ex.longest);
    EXPECT_EQ(codec.ResetCount(), 0u);
  }
  codec.Done();
}

TYPED_TEST(Encoder, EmptyInputGivesAnEmptyStream) {
  TLZCodecOf<TypeParam> codec;
  ASSERT_TRUE(codec.Init(500));
  codec.StartPacking();
  std::uint8_t out[1000];
  std::uint32_t consumed = 7, written = 7;
  EXPECT_FALSE(codec.EncodeBlock(nullptr, 0, consumed, out, sizeof out, written));
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(codec.PackedBytes(), 0u);
  EXPECT_EQ(codec.Ratio(), 0.0);
  codec.Done();
}

TYPED_TEST(Encoder, ZeroCapacityTouchesNothing) {
  TLZCodecOf<TypeParam> codec;
  ASSERT_TRUE(codec.Init(500));
  codec.StartPacking();
  const std::uint8_t in[] = {'x'};
  std::uint32_t consumed = 77, written = 88;
  EXPECT_FALSE(codec.EncodeBlock(in, 1, consumed, nullptr, 0, written));
  EXPECT_EQ(consumed, 77u);
  EXPECT_EQ(written, 88u);
  EXPECT_EQ(codec.InputBytes(), 0u);
  codec.Done();
}

TYPED_TEST(Encoder, FirstResetComesWhenNode499ExistsAndAnotherIsNeeded) {
  TLZCodecOf<TypeParam> codec;
  ASSERT_TRUE(codec.Init(500));
  codec.StartPacking();
  const std::string data = test::MakeRandom(20000, 5);
  unsigned resets = 0;
  bool sawFirst = false;
  for (const char ch : data) {
    const std::uint32_t countBefore = codec.Nodes.NodeCount;
    const std::uint8_t widthBefore = codec.Width;
    const unsigned m = codec.EncodeByte(static_cast<std::uint8_t>(ch));
    for (unsigned i = 0; i < m; ++i) {
      if (codec.Queue.Value[i] != codeReset || codec.Queue.Width[i] == 8 || codec.Queue.Width[i] == 5) continue;
      if (!sawFirst) {
        sawFirst = true;
        continue;
      }
      SCOPED_TRACE(testing::Message() << "reset " << resets);
      ++resets;
      // Node 499 exists (made before or by this byte) and one more is needed.
      EXPECT_GE(countBefore, 499u);
      EXPECT_LE(countBefore, 500u);
      EXPECT_GE(codec.Queue.Width[i], widthBefore);
      ASSERT_LT(i + 1, m);
      EXPECT_EQ(codec.Queue.Width[i + 1], 8);  // then the literal
      EXPECT_EQ(codec.Width, 2);
      EXPECT_EQ(codec.Nodes.NodeCount, 4u);
    }
  }
  EXPECT_GT(resets, 10u);
  EXPECT_EQ(codec.ResetCount(), resets);
  codec.Done();
}

TYPED_TEST(Encoder, FragmentLimitHoldsOnARun) {
  for (const std::uint32_t frag : {4u, 5u, 17u}) {
    SCOPED_TRACE(frag);
    TLZCodecOf<TypeParam> codec;
    ASSERT_TRUE(codec.Init(100000));
    codec.SetMaxFragment(frag);
    test::PackAll(codec, std::string(50000, 'z'), 50000, 1000);
    EXPECT_EQ(codec.LongestFragment(), frag);
    codec.Done();
  }
}

// Output blocks below the file layer's 1000 bytes still give the same stream.
TYPED_TEST(Encoder, StreamDoesNotDependOnBlockSizes) {
  const std::string data = test::MakeText(30000, 3) + test::MakeRandom(3000, 4);
  TLZCodecOf<TypeParam> codec;
  ASSERT_TRUE(codec.Init(4096));
  const test::RefStream ref = test::RefEncode(data, 4096, 4096);
  struct Sizes { std::uint32_t in, out; };
  for (const Sizes s : {Sizes{100000, 1000}, Sizes{1, 4099}, Sizes{777, 100000}, Sizes{5000, 1},
                        Sizes{3, 2}, Sizes{100000, 3}, Sizes{64, 4}}) {
    SCOPED_TRACE(testing::Message() << "in " << s.in << " out " << s.out);
    EXPECT_EQ(test::PackAll(codec, data, s.in, s.out), ref.Bytes);
    EXPECT_EQ(codec.OutBytes * 8 + codec.OutBits, ref.Bits);
  }
  codec.Done();
}

TYPED_TEST(Encoder, PackingAgainAfterTheFinalCallStaysDecodable) {
  // Without StartPacking in between, a second stream follows the first; it
  // opens with codeReset and must not lean on nodes the unpacker dropped.
  TLZCodecOf<TypeParam> codec;
  ASSERT_TRUE(codec.Init(500));
  const std::string first = "abcabcabcabc", second = "abcabd";
  EXPECT_EQ(test::PackAll(codec, first, 1000, 1000), test::RefEncode(first, 500, 500).Bytes);
  std::uint8_t out[1000];
  std::uint32_t consumed = 0, written = 0;
  codec.EncodeBlock(test::Bytes(second), static_cast<std::uint32_t>(second.size()), consumed, out,
                    sizeof out, written);
  std::vector<std::uint8_t> tail(out, out + written);
  codec.EncodeBlock(nullptr, 0, consumed, out, sizeof out, written);
  tail.insert(tail.end(), out, out + written);
  EXPECT_EQ(tail, test::RefEncode(second, 500, 500).Bytes);
  codec.Done();
}

}  // namespace
}  // namespace vorka
