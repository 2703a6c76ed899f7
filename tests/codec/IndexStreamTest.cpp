// Fuzz-style stream check of the packer's child indexes: packing with the
// child trees and with the hash index must each write exactly the reference
// model's stream, so the two write the same bytes. Inputs mix seeded random pieces of
// every redundancy, dictionary sizes with many resets or none, and fragment
// limits from the smallest up; then every corpus file at the defaults.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codec/CodecHelpers.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace vorka {
namespace {

// A random input made of pieces: text, random bytes, binary-like records,
// runs and repeats of earlier pieces, so phrases of every length occur.
std::string MixedInput(std::mt19937& rng) {
  std::string s;
  const std::size_t target = 1 + rng() % 120000;
  while (s.size() < target) {
    const std::size_t piece = 1 + rng() % 5000;
    const std::uint32_t seed = rng();
    switch (rng() % 5) {
      case 0: s += test::MakeText(piece, seed); break;
      case 1: s += test::MakeRandom(piece, seed); break;
      case 2: s += test::MakeBinaryish(piece, seed); break;
      case 3: s += std::string(piece, static_cast<char>(seed)); break;
      default:
        if (!s.empty()) {
          const std::size_t from = rng() % s.size();
          s += s.substr(from, piece);
        }
        break;
    }
  }
  s.resize(target);
  return s;
}

template <class TIndex>
class IndexStream : public testing::Test {};
TYPED_TEST_SUITE(IndexStream, test::ChildIndexes, test::IndexNames);

TYPED_TEST(IndexStream, RandomInputsMatchTheModel) {
  // A fixed seed keeps CI repeatable; VORKA_TEST_SEED explores others.
  const char* chosen = std::getenv("VORKA_TEST_SEED");
  const auto seed = static_cast<std::uint32_t>(chosen != nullptr ? std::strtoul(chosen, nullptr, 10) : 20261209u);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 rng(seed);
  // 300000 nodes: the hash table grows while in use.
  const std::uint32_t dics[] = {500, 501, 777, 4096, 65536, 100000, 300000};
  for (int round = 0; round < 40; ++round) {
    const std::string data = MixedInput(rng);
    const std::uint32_t dic = dics[rng() % std::size(dics)];
    const std::uint32_t frag = rng() % 3 == 0 ? 0xFFFFFFFFu : 4 + rng() % 300;
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << data.size() << " bytes, dictionary "
                                    << dic << ", fragments " << frag);
    test::TCodec<TypeParam> codec;
    ASSERT_TRUE(codec.Init(dic));
    codec.SetMaxFragment(frag);
    const std::uint32_t block = 1000 + rng() % 100000;
    const std::vector<std::uint8_t> stream = test::PackAll(codec, data, block, block);
    const test::RefStream ref = test::RefEncode(data, codec.DictionarySize(), codec.Store.MaxFrag);
    ASSERT_EQ(stream, ref.Bytes);
    const auto back = test::UnpackAll(codec, stream, data.size(), block, block);
    ASSERT_TRUE(back.Data == data);
    codec.Done();
  }
}

TYPED_TEST(IndexStream, CorpusFilesMatchTheModel) {
  const std::filesystem::path root = std::filesystem::path(VORKA_CORPUS_DIR);
  ASSERT_TRUE(std::filesystem::is_directory(root)) << root;
  for (const char* folder : {"canterbury", "calgary"}) {
    for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
      const std::string name = std::string(folder) + "/" + entry.path().filename().string();
      SCOPED_TRACE(name);
      const std::string data = test::CorpusFile(name);
      test::TCodec<TypeParam> codec;
      ASSERT_TRUE(codec.Init(100000));
      const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 100000, 100000);
      EXPECT_EQ(stream, test::RefEncode(data, codec.DictionarySize(), codec.Store.MaxFrag).Bytes);
      codec.Done();
    }
  }
}

}  // namespace
}  // namespace vorka
