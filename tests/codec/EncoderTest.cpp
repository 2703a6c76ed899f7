#include <gtest/gtest.h>

#include <vector>

#include "codec/CodeItems.h"
#include "codec/CodecHelpers.h"
#include "support/RefBitWriter.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace vorka {
namespace {

using test::RefItem;

// The items of a stream as the grammar reads them, with their widths.
std::vector<RefItem> Items(const std::vector<std::uint8_t>& stream, std::uint64_t bits) {
  TItemReader reader(stream.data(), bits);
  std::vector<RefItem> items;
  std::uint32_t v = 0;
  TItemKind kind{};
  for (std::uint64_t at = 0; reader.Next(v, kind); at = reader.Position())
    items.push_back({v, static_cast<std::uint8_t>(reader.Position() - at)});
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
  test::TCodec<TypeParam> codec;
  ASSERT_TRUE(codec.Init(4096));
  for (const WorkedExample& ex : kExamples) {
    SCOPED_TRACE(ex.input);
    test::RefBitWriter writer;
    for (const RefItem& item : ex.items) writer.Put(item.Value, item.Width);
    ASSERT_EQ(writer.Bits(), ex.bits);

    const std::vector<std::uint8_t> stream = test::PackAll(codec, ex.input, 1000, 1000);
    EXPECT_EQ(stream, writer.Bytes());
    EXPECT_EQ(Items(stream, ex.bits), ex.items);
    EXPECT_EQ(codec.Encoder.PackedBytes(), (ex.bits + 7) / 8);
    EXPECT_EQ(codec.Encoder.StreamBits(), ex.bits);
    EXPECT_EQ(codec.Encoder.InputBytes(), std::string(ex.input).size());
    EXPECT_EQ(codec.Encoder.LongestFragment(), ex.longest);
    EXPECT_EQ(codec.Encoder.ResetCount(), 0u);
  }
  codec.Done();
}

TYPED_TEST(Encoder, EmptyInputGivesAnEmptyStream) {
  test::TCodec<TypeParam> codec;
  ASSERT_TRUE(codec.Init(500));
  codec.StartPacking();
  std::uint8_t out[1000];
  std::uint32_t consumed = 7, written = 7;
  EXPECT_FALSE(codec.EncodeBlock(nullptr, 0, consumed, out, sizeof out, written));
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(codec.Encoder.PackedBytes(), 0u);
  EXPECT_EQ(codec.Encoder.Ratio(), 0.0);
  codec.Done();
}

TYPED_TEST(Encoder, ZeroCapacityTouchesNothing) {
  test::TCodec<TypeParam> codec;
  ASSERT_TRUE(codec.Init(500));
  codec.StartPacking();
  const std::uint8_t in[] = {'x'};
  std::uint32_t consumed = 77, written = 88;
  EXPECT_FALSE(codec.EncodeBlock(in, 1, consumed, nullptr, 0, written));
  EXPECT_EQ(consumed, 77u);
  EXPECT_EQ(written, 88u);
  EXPECT_EQ(codec.Encoder.InputBytes(), 0u);
  codec.Done();
}

// A full store of 500 entries restarts: the reset comes in the width of
// node 499 (9 bits), widths start again at 2 bits, and a literal follows.
TYPED_TEST(Encoder, ResetComesInTheFullWidthAndStartsOverWithALiteral) {
  test::TCodec<TypeParam> codec;
  ASSERT_TRUE(codec.Init(500));
  const std::string data = test::MakeRandom(20000, 5);
  const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 20000, 100000);
  TItemReader reader(stream.data(), codec.Encoder.StreamBits());
  std::uint32_t v = 0;
  TItemKind kind{};
  unsigned resets = 0;
  while (reader.Next(v, kind)) {
    if (kind != TItemKind::Reset || reader.Position() == 2) continue;
    ++resets;
    EXPECT_EQ(reader.State().NextWidth(), LiteralWidth);
    ASSERT_TRUE(reader.Next(v, kind));
    EXPECT_EQ(kind, TItemKind::Byte);
    EXPECT_EQ(reader.State().NextWidth(), 2u);
  }
  EXPECT_FALSE(reader.Truncated);
  EXPECT_GT(resets, 10u);
  EXPECT_EQ(codec.Encoder.ResetCount(), resets);
}

TYPED_TEST(Encoder, FragmentLimitHoldsOnARun) {
  for (const std::uint32_t frag : {4u, 5u, 17u}) {
    SCOPED_TRACE(frag);
    test::TCodec<TypeParam> codec;
    ASSERT_TRUE(codec.Init(100000));
    codec.SetMaxFragment(frag);
    test::PackAll(codec, std::string(50000, 'z'), 50000, 1000);
    EXPECT_EQ(codec.Encoder.LongestFragment(), frag);
    codec.Done();
  }
}

// Output blocks below the file layer's 1000 bytes still give the same stream.
TYPED_TEST(Encoder, StreamDoesNotDependOnBlockSizes) {
  const std::string data = test::MakeText(30000, 3) + test::MakeRandom(3000, 4);
  test::TCodec<TypeParam> codec;
  ASSERT_TRUE(codec.Init(4096));
  const test::RefStream ref = test::RefEncode(data, 4096, 4096);
  struct Sizes { std::uint32_t in, out; };
  for (const Sizes s : {Sizes{100000, 1000}, Sizes{1, 4099}, Sizes{777, 100000}, Sizes{5000, 1},
                        Sizes{3, 2}, Sizes{100000, 3}, Sizes{64, 4}}) {
    SCOPED_TRACE(testing::Message() << "in " << s.in << " out " << s.out);
    EXPECT_EQ(test::PackAll(codec, data, s.in, s.out), ref.Bytes);
    EXPECT_EQ(codec.Encoder.StreamBits(), ref.Bits);
  }
  codec.Done();
}

TYPED_TEST(Encoder, PackingAgainAfterTheFinalCallStaysDecodable) {
  // Without StartPacking in between, a second stream follows the first; it
  // opens with codeReset and must not lean on nodes the unpacker dropped.
  test::TCodec<TypeParam> codec;
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
