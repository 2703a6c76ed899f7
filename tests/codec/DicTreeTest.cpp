#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "codec/CodecHelpers.h"

namespace vorka {
namespace {

// The child trees' shapes, through a codec that packs with them.
class DicTree : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(codec.Init(4096)); }
  void TearDown() override { codec.Done(); }

  TDicNodes& Nodes() { return codec.Encoder.Nodes; }
  TChildTrees& Trees() { return codec.Encoder.Index; }
  std::uint32_t Root() { return Trees().NodeRoot[RootNode]; }
  std::uint32_t Lower(std::uint32_t n) { return Trees().NodeLinks[2 * n]; }
  std::uint32_t Higher(std::uint32_t n) { return Trees().NodeLinks[2 * n + 1]; }
  std::uint8_t Char(std::uint32_t n) { return Nodes().NodeChar[n]; }

  std::uint32_t Add(std::uint8_t c) { return Trees().AddChild(Nodes(), c, RootNode); }

  int Height(std::uint32_t n) {
    return n == NilNode ? 0 : 1 + std::max(Height(Lower(n)), Height(Higher(n)));
  }
  void Walk(std::uint32_t n, std::vector<int>& chars) {
    if (n == NilNode) return;
    Walk(Lower(n), chars);
    chars.push_back(Char(n));
    Walk(Higher(n), chars);
  }
  void ExpectSearchTree(std::size_t count) {
    std::vector<int> chars;
    Walk(Root(), chars);
    ASSERT_EQ(chars.size(), count);
    EXPECT_TRUE(std::adjacent_find(chars.begin(), chars.end(), std::greater_equal<int>()) == chars.end());
    for (std::uint32_t n = FirstPhraseNode; n < Nodes().NodeCount; ++n) {
      EXPECT_EQ(Trees().FindChildOf(Nodes(), RootNode, Char(n)), n);
      EXPECT_LE(Trees().NodeBit[n], 1);
    }
    EXPECT_EQ(Trees().NodeBit[NilNode], 0);
  }

  test::TCodec<TChildTrees> codec;
};

TEST_F(DicTree, ThreeThenFourAscending) {
  const std::uint32_t n1 = Add(1), n2 = Add(2), n3 = Add(3);
  EXPECT_EQ(Root(), n2);
  EXPECT_EQ(Lower(n2), n1);
  EXPECT_EQ(Higher(n2), n3);
  EXPECT_EQ(Trees().NodeBit[n2], 0);

  const std::uint32_t n4 = Add(4);
  EXPECT_EQ(Root(), n3);
  EXPECT_EQ(Trees().NodeBit[n3], 1);
  EXPECT_EQ(Lower(n3), n2);
  EXPECT_EQ(Lower(n2), n1);
  EXPECT_EQ(Higher(n2), NilNode);
  EXPECT_EQ(Higher(n3), n4);
  ExpectSearchTree(4);
}

TEST_F(DicTree, AllCharactersAscendingOrDescendingGiveHeightEleven) {
  struct Case { const char* name; bool descending; };
  for (const Case& c : {Case{"ascending", false}, Case{"descending", true}}) {
    SCOPED_TRACE(c.name);
    codec.StartPacking();
    EXPECT_EQ(Height(Root()), 0);
    for (int i = 0; i < 256; ++i) {
      Add(static_cast<std::uint8_t>(c.descending ? 255 - i : i));
      if (i == 0) {
        EXPECT_EQ(Height(Root()), 1);
      }
    }
    EXPECT_EQ(Height(Root()), 11);
    ExpectSearchTree(256);
  }
}

// The insertion rules fix the shapes, not only the search: a fingerprint of
// every link and bit guards rewrites of the insertion's code.
TEST_F(DicTree, RandomOrdersStaySearchTrees) {
  std::uint64_t print = 0;
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    codec.StartPacking();
    std::vector<int> chars(256);
    std::iota(chars.begin(), chars.end(), 0);
    std::mt19937 rng(seed);
    std::shuffle(chars.begin(), chars.end(), rng);
    const std::size_t count = 1 + rng() % 256;
    for (std::size_t i = 0; i < count; ++i) Add(static_cast<std::uint8_t>(chars[i]));
    ExpectSearchTree(count);
    for (std::uint32_t n = RootNode; n < Nodes().NodeCount; ++n)
      print = (print ^ Lower(n) ^ Higher(n) << 10 ^ std::uint64_t{Trees().NodeBit[n]} << 20) * 0x100000001B3u;
    EXPECT_LE(Height(Root()), 24);  // roughly balanced: a list would reach 256
    for (std::size_t i = count; i < 256; ++i)
      EXPECT_EQ(Trees().FindChildOf(Nodes(), RootNode, static_cast<std::uint8_t>(chars[i])), NilNode);
  }
  EXPECT_EQ(print, 6466140256745170847u);
}

// What both child indexes must do alike.
template <class TIndex>
class DicIndex : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(codec.Init(4096)); }
  void TearDown() override { codec.Done(); }
  std::uint32_t Add(std::uint8_t c, std::uint32_t parent) { return codec.Encoder.Index.AddChild(codec.Encoder.Nodes, c, parent); }
  std::uint32_t Scan(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t& current) {
    return codec.Encoder.Index.ScanPhrase(codec.Encoder.Nodes, bytes, length, current);
  }
  test::TCodec<TIndex> codec;
};
TYPED_TEST_SUITE(DicIndex, test::ChildIndexes, test::IndexNames);

TYPED_TEST(DicIndex, EmptyIndexFindsNothing) {
  EXPECT_EQ(this->codec.Encoder.Index.FindChildOf(this->codec.Encoder.Nodes, RootNode, 'a'), NilNode);
  std::uint32_t current = RootNode;
  const std::uint8_t bytes[] = {'a', 'b'};
  EXPECT_EQ(this->Scan(bytes, 2, current), 0u);
  EXPECT_EQ(current, RootNode);
}

TYPED_TEST(DicIndex, ScanFollowsNestedPhrases) {
  const std::uint32_t a = this->Add('a', RootNode);
  const std::uint32_t ab = this->Add('b', a);
  const std::uint32_t abc = this->Add('c', ab);
  this->Add('x', a);
  const std::uint8_t bytes[] = {'a', 'b', 'c', 'd'};
  std::uint32_t current = RootNode;
  EXPECT_EQ(this->Scan(bytes, 4, current), 3u);
  EXPECT_EQ(current, abc);
  current = RootNode;
  EXPECT_EQ(this->Scan(bytes, 2, current), 2u);
  EXPECT_EQ(current, ab);
  current = a;
  EXPECT_EQ(this->Scan(bytes + 1, 3, current), 2u);
  EXPECT_EQ(current, abc);
}

TYPED_TEST(DicIndex, FullStoreRefusesNewNodes) {
  this->codec.Done();
  ASSERT_TRUE(this->codec.Init(500));
  std::uint32_t made = 0;
  for (std::uint32_t parent = RootNode; this->codec.Encoder.Nodes.NodeCount < 500; ++made)
    parent = this->Add(static_cast<std::uint8_t>(made), parent);
  EXPECT_EQ(made, 497u);
  const std::uint32_t count = this->codec.Encoder.Nodes.NodeCount;
  EXPECT_EQ(this->Add('z', RootNode), NilNode);
  EXPECT_EQ(this->Add('z', 300), NilNode);
  EXPECT_EQ(this->codec.Encoder.Nodes.NodeCount, count);
  EXPECT_EQ(this->codec.Encoder.Index.FindChildOf(this->codec.Encoder.Nodes, RootNode, 'z'), NilNode);
  // The chain made is intact.
  std::string chain;
  for (std::uint32_t k = 0; k < 497; ++k) chain.push_back(static_cast<char>(k));
  std::uint32_t current = RootNode;
  EXPECT_EQ(this->Scan(reinterpret_cast<const std::uint8_t*>(chain.data()), 497, current), 497u);
  EXPECT_EQ(current, 499u);
}

}  // namespace
}  // namespace vorka
