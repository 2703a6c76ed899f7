#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

#include "codec/CodecHelpers.h"
#include "codec/LZCodec.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace vorka {
namespace {

TLZCodec staticCodec;  // zero-initialised storage, as the program holds it

TEST(CodecStorage, ZeroFilledCodecHasNoDictionaryAndInits) {
  EXPECT_EQ(staticCodec.DictionarySize(), 0u);
  ASSERT_TRUE(staticCodec.Init(1000));
  EXPECT_EQ(staticCodec.DictionarySize(), 1000u);
  staticCodec.Done();
  EXPECT_EQ(staticCodec.DictionarySize(), 0u);
  staticCodec.Done();  // releasing twice frees nothing
}

TEST(CodecStorage, SizesAreClamped) {
  TLZCodec codec;
  EXPECT_FALSE(codec.AllocateDictionary(0));
  EXPECT_EQ(codec.DictionarySize(), 0u);
  ASSERT_TRUE(codec.AllocateDictionary(1));
  EXPECT_EQ(codec.DictionarySize(), 500u);
  ASSERT_TRUE(codec.Init(100));
  EXPECT_EQ(codec.DictionarySize(), 500u);
  EXPECT_EQ(codec.MaxFrag, 100u);
  codec.SetMaxFragment(2);
  EXPECT_EQ(codec.MaxFrag, 4u);
  codec.SetMaxFragment(1000);
  EXPECT_EQ(codec.MaxFragment(), 500u);
  codec.SetMaxFragment(300);
  EXPECT_EQ(codec.MaxFragment(), 300u);
  codec.Done();
}

TEST(CodecStorage, LargestRequestIsCappedAtTheMaximum) {
  TLZCodec codec;
  // Linux grants the 3.7 GB lazily; a build with a tighter allocator refuses.
  if (!codec.AllocateDictionary(0xFFFFFFFFu)) GTEST_SKIP() << "no address space for the largest dictionary";
  EXPECT_EQ(codec.DictionarySize(), MaxDictionarySize);
  codec.Done();
}

TEST(CodecStorage, BrokenSizePairMeansNoDictionary) {
  TLZCodec codec;
  ASSERT_TRUE(codec.Init(600));
  const std::uint32_t check = codec.DicSizeCheck;
  codec.DicSizeCheck = 12345;
  EXPECT_EQ(codec.DictionarySize(), 0u);
  const std::uint32_t count = codec.Nodes.NodeCount;
  try {
    codec.ResetDictionary();
    ADD_FAILURE() << "no ERunError";
  } catch (const ERunError& e) {
    EXPECT_EQ(e.RunErrorCode, 201);
    EXPECT_STREQ(e.what(), "RunError(201)");
  }
  EXPECT_EQ(codec.Nodes.NodeCount, count);
  codec.DicSizeCheck = check;
  codec.Done();
}

TEST(CodecRunError, RaisesOnlyForNonZeroCodes) {
  EXPECT_NO_THROW(RaiseRunError(0));
  EXPECT_THROW(RaiseRunError(7), ERunError);
  const ERunError e(42);
  EXPECT_STREQ(e.what(), "RunError(42)");
  const std::runtime_error& base = e;  // derives from the standard base
  EXPECT_STREQ(base.what(), "RunError(42)");
}

TEST(CodecControl, ResetRestoresTheStartState) {
  TLZCodec codec;
  ASSERT_TRUE(codec.Init(500));
  const std::string text = "abracadabra, abracadabra";
  std::uint8_t out[1000];
  std::uint32_t consumed = 0, written = 0;
  codec.EncodeBlock(reinterpret_cast<const std::uint8_t*>(text.data()),
                    static_cast<std::uint32_t>(text.size()), consumed, out, sizeof out, written);
  ASSERT_GT(codec.Nodes.NodeCount, 3u);
  codec.ResetDictionary();
  EXPECT_EQ(codec.Width, 2);
  EXPECT_EQ(codec.Mask, 3u);
  EXPECT_EQ(codec.Nodes.NodeCount, 3u);
  EXPECT_EQ(codec.Current, RootNode);
  EXPECT_EQ(codec.FragLen, 0u);
  EXPECT_EQ(codec.ResetCount(), 1u);
  codec.Done();
}

TEST(CodecControl, WidthRule) {
  struct Case { std::uint32_t code; std::uint8_t steps; std::uint8_t width; std::uint32_t mask; };
  const Case cases[] = {{3, 0, 2, 3}, {4, 1, 3, 7}, {7, 1, 3, 7}, {8, 2, 4, 15}, {500, 7, 9, 511},
                        {MaxDictionarySize - 1, 26, 28, (1u << 28) - 1}};
  TLZCodec codec;
  ASSERT_TRUE(codec.Init(500));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    codec.ResetDictionary();
    EXPECT_EQ(codec.WidenFor(c.code), c.steps);
    EXPECT_EQ(codec.Width, c.width);
    EXPECT_EQ(codec.Mask, c.mask);
  }
  codec.Done();
}

TEST(CodecControl, BitCountAndRatio) {
  TLZCodec codec;
  ASSERT_TRUE(codec.Init(500));
  EXPECT_EQ(codec.Ratio(), 0.0);  // no input consumed
  codec.AddBits(13);
  EXPECT_EQ(codec.OutBytes, 1u);
  EXPECT_EQ(codec.OutBits, 5);
  EXPECT_EQ(codec.PackedBytes(), 2u);
  EXPECT_EQ(codec.Ratio(), 0.0);
  codec.InBytes = 8;
  EXPECT_DOUBLE_EQ(codec.Ratio(), 0.25);
  codec.AddBits(3);
  EXPECT_EQ(codec.OutBytes, 2u);
  EXPECT_EQ(codec.OutBits, 0);
  EXPECT_EQ(codec.PackedBytes(), 2u);
  codec.Done();
}

// The store holds the unpacker's data after unpacking; packing straight on,
// without StartPacking, must still give the stream a fresh packer writes.
TEST(CodecControl, PackingAfterUnpackingStartsAFreshStream) {
  const std::string first = test::MakeText(30000, 41);
  const std::string second = test::MakeBinaryish(30000, 42) + test::MakeText(20000, 43);
  TLZCodec fresh;
  ASSERT_TRUE(fresh.Init(4096));
  const std::vector<std::uint8_t> want = test::PackAll(fresh, second, 100000, 100000);
  fresh.Done();

  TLZCodec codec;
  ASSERT_TRUE(codec.Init(4096));
  const std::vector<std::uint8_t> stream = test::PackAll(codec, first, 100000, 100000);
  ASSERT_TRUE(test::UnpackAll(codec, stream, first.size(), 100000, 100000).Data == first);
  std::vector<std::uint8_t> out(200000);
  std::uint32_t consumed = 0, written = 0, total = 0;
  ASSERT_TRUE(codec.EncodeBlock(test::Bytes(second), static_cast<std::uint32_t>(second.size()), consumed,
                                out.data(), static_cast<std::uint32_t>(out.size()), written));
  EXPECT_EQ(consumed, second.size());
  total = written;
  codec.EncodeBlock(nullptr, 0, consumed, out.data() + total, static_cast<std::uint32_t>(out.size()) - total,
                    written);
  total += written;
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + total), want);
  EXPECT_EQ(codec.InputBytes(), second.size());
  codec.Done();
}

}  // namespace
}  // namespace vorka
