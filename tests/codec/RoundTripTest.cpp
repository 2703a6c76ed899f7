#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/CodecHelpers.h"
#include "support/RefCoder.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace vorka {
namespace {

struct NamedInput {
  const char* name;
  std::string data;
};

const std::vector<NamedInput>& Inputs() {
  static const std::vector<NamedInput> inputs = [] {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    std::string allTwice;
    for (int i = 0; i < 256; ++i)
      for (int j = 0; j < 256; j += 17) allTwice += {static_cast<char>(i), static_cast<char>(j)};
    return std::vector<NamedInput>{
        {"empty", ""},
        {"one_byte", "x"},
        {"run", std::string(70000, '\0')},
        {"text", test::MakeText(60000, 1)},
        {"random", test::MakeRandom(40000, 2)},
        {"all_256_values", all + all + all},
        {"pairs", allTwice},
        {"binary", test::MakeBinaryish(50000, 3)},
        // Many resets of a small dictionary and wide codes in a large one.
        {"resets_and_wide_codes", test::MakeRandom(150000, 4) + test::MakeText(100000, 5)},
    };
  }();
  return inputs;
}

struct Setting {
  std::uint32_t dic;
  std::uint32_t frag;
};

const Setting kSettings[] = {{500, 4},      {500, 1000},      {4096, 5},      {4096, 0xFFFFFFFF},
                             {100000, 17},  {100000, 100000}, {1u << 20, 1000}, {1u << 20, 0xFFFFFFFF},
                             {500, 0xFFFFFFFF}, {4096, 17}};

class RoundTrip : public testing::TestWithParam<std::tuple<std::size_t, Setting>> {};

template <class TCodec>
void CheckRoundTrip(const NamedInput& input, const Setting setting) {
  TCodec codec;
  ASSERT_TRUE(codec.Init(setting.dic));
  codec.SetMaxFragment(setting.frag);
  const test::RefStream ref = test::RefEncode(input.data, codec.DictionarySize(), codec.Store.MaxFrag);
  std::vector<std::uint8_t> stream;
  for (const std::uint32_t outBlock : {1000u, 4099u, 100000u}) {
    for (const std::uint32_t inBlock : {1000u, 65536u}) {
      SCOPED_TRACE(testing::Message() << "pack in " << inBlock << " out " << outBlock);
      stream = test::PackAll(codec, input.data, inBlock, outBlock);
      ASSERT_EQ(stream, ref.Bytes);
      EXPECT_EQ(codec.Encoder.StreamBits(), ref.Bits);
      EXPECT_EQ(codec.Encoder.ResetCount(), ref.Resets);
      EXPECT_EQ(codec.Encoder.LongestFragment(), ref.Longest);
      EXPECT_EQ(codec.Encoder.InputBytes(), input.data.size());
    }
  }
  for (const std::uint32_t outBlock : {2u, 5u, 4099u, 100000u}) {
    for (const std::uint32_t inBlock : {7u, 100000u}) {
      SCOPED_TRACE(testing::Message() << "unpack in " << inBlock << " out " << outBlock);
      const auto result = test::UnpackAll(codec, stream, input.data.size(), inBlock, outBlock);
      ASSERT_FALSE(result.Damaged);
      ASSERT_TRUE(result.Data == input.data);
    }
  }
  codec.Done();
}

TEST_P(RoundTrip, StreamMatchesTheModelAndUnpacks) {
  const NamedInput& input = Inputs()[std::get<0>(GetParam())];
  const Setting setting = std::get<1>(GetParam());
  {
    SCOPED_TRACE("tree");
    CheckRoundTrip<test::TCodec<TChildTrees>>(input, setting);
  }
  {
    SCOPED_TRACE("hash");
    CheckRoundTrip<test::TCodec<THashIndex>>(input, setting);
  }
}

std::string CaseName(const testing::TestParamInfo<RoundTrip::ParamType>& info) {
  const Setting s = std::get<1>(info.param);
  return std::string(Inputs()[std::get<0>(info.param)].name) + "_dic" + std::to_string(s.dic) + "_frag" +
         (s.frag == 0xFFFFFFFF ? std::string("max") : std::to_string(s.frag));
}

INSTANTIATE_TEST_SUITE_P(Table, RoundTrip,
                         testing::Combine(testing::Range<std::size_t>(0, 9), testing::ValuesIn(kSettings)),
                         CaseName);

// The public corpora: real encoder against the model, then back.
TEST(RoundTripCorpus, FilesMatchTheModel) {
  const std::filesystem::path dir = std::filesystem::path(VORKA_CORPUS_DIR) / "canterbury";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  for (const char* name : {"alice29.txt", "kennedy.xls", "xargs.1", "ptt5", "sum"}) {
    SCOPED_TRACE(name);
    const std::string data = test::ReadFile((dir / name).string());
    for (const Setting s : {Setting{100000, 100000}, Setting{4096, 0xFFFFFFFF}}) {
      test::TTreeCodec codec;
      ASSERT_TRUE(codec.Init(s.dic));
      codec.SetMaxFragment(s.frag);
      const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 100000, 100000);
      EXPECT_EQ(stream, test::RefEncode(data, codec.DictionarySize(), codec.Store.MaxFrag).Bytes);
      const auto result = test::UnpackAll(codec, stream, data.size(), 100000, 100000);
      EXPECT_TRUE(result.Data == data);
      codec.Done();
    }
  }
}

}  // namespace
}  // namespace vorka
