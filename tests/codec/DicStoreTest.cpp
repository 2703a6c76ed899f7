#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/CodecHelpers.h"
#include "support/TestData.h"

namespace vorka {
namespace {

TDicStore staticStore;  // zero-initialised storage, as the program holds it

TEST(DicStore, ZeroFilledStoreHasNoDictionaryAndAllocates) {
  EXPECT_EQ(staticStore.DictionarySize(), 0u);
  ASSERT_TRUE(staticStore.Allocate(1000));
  EXPECT_EQ(staticStore.DictionarySize(), 1000u);
  staticStore.Release();
  EXPECT_EQ(staticStore.DictionarySize(), 0u);
  staticStore.Release();  // releasing twice frees nothing
}

TEST(DicStore, SizesAndFragmentLimitsAreClamped) {
  test::TTreeCodec codec;
  EXPECT_FALSE(codec.Init(0));
  EXPECT_EQ(codec.DictionarySize(), 0u);
  ASSERT_TRUE(codec.Init(1));
  EXPECT_EQ(codec.DictionarySize(), 500u);
  ASSERT_TRUE(codec.Init(100));
  EXPECT_EQ(codec.DictionarySize(), 500u);
  EXPECT_EQ(codec.Store.MaxFrag, 100u);
  codec.SetMaxFragment(2);
  EXPECT_EQ(codec.Store.MaxFrag, 4u);
  codec.SetMaxFragment(1000);
  EXPECT_EQ(codec.MaxFragment(), 500u);
  codec.SetMaxFragment(300);
  EXPECT_EQ(codec.MaxFragment(), 300u);
}

TEST(DicStore, LargestRequestIsCappedAtTheMaximum) {
  TDicStore store;
  // Linux grants the 3.7 GB lazily; a build with a tighter allocator refuses.
  if (!store.Allocate(0xFFFFFFFFu)) GTEST_SKIP() << "no address space for the largest dictionary";
  EXPECT_EQ(store.DictionarySize(), MaxDictionarySize);
  store.Release();
}

// One store serves both directions in turn, as in the file object: packing
// after unpacking on it gives the stream a fresh store gives, and so does
// unpacking after packing.
TEST(DicStore, DirectionsTakeTurnsOnOneStore) {
  const std::string first = test::MakeText(30000, 41);
  const std::string second = test::MakeBinaryish(30000, 42) + test::MakeText(20000, 43);
  test::TTreeCodec fresh;
  ASSERT_TRUE(fresh.Init(4096));
  const std::vector<std::uint8_t> want = test::PackAll(fresh, second, 100000, 100000);

  test::TCodec<THashIndex> codec;
  ASSERT_TRUE(codec.Init(4096));
  const std::vector<std::uint8_t> stream = test::PackAll(codec, first, 100000, 100000);
  ASSERT_TRUE(test::UnpackAll(codec, stream, first.size(), 100000, 100000).Data == first);
  EXPECT_EQ(test::PackAll(codec, second, 100000, 100000), want);
  EXPECT_EQ(codec.Encoder.InputBytes(), second.size());
  EXPECT_TRUE(test::UnpackAll(codec, want, second.size(), 100000, 100000).Data == second);
  EXPECT_DOUBLE_EQ(codec.Encoder.Ratio(), double(want.size()) / double(second.size()));
}

}  // namespace
}  // namespace vorka
