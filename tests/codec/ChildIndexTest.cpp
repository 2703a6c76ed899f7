// Both child indexes (trees and hash) used in random orders against a map: lookups, scans from any node, insertions
// after a scan and elsewhere, across resets. The packer itself nearly always
// goes on from where its last scan stopped; these orders reach the paths it
// seldom takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/CodecHelpers.h"

namespace vorka {
namespace {

using TEdges = std::map<std::pair<std::uint32_t, unsigned>, std::uint32_t>;

std::uint32_t Walk(const TEdges& edges, std::uint32_t from, const std::string& s, std::uint32_t& taken) {
  taken = 0;
  for (const char ch : s) {
    const auto it = edges.find({from, static_cast<unsigned char>(ch)});
    if (it == edges.end()) break;
    from = it->second;
    ++taken;
  }
  return from;
}

template <class TIndex>
class ChildIndex : public testing::Test {};
TYPED_TEST_SUITE(ChildIndex, test::ChildIndexes, test::IndexNames);

TYPED_TEST(ChildIndex, RandomOrdersAgreeWithAMap) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 24; ++round) {
    test::TCodec<TypeParam> codec;
    const std::uint32_t size = 500 + rng() % 3000;
    ASSERT_TRUE(codec.Init(size));
    TDicNodes& d = codec.Encoder.Nodes;
    TypeParam& index = codec.Encoder.Index;
    for (int epoch = 0; epoch < 3; ++epoch) {
      SCOPED_TRACE(testing::Message() << "round " << round << " size " << size << " epoch " << epoch);
      codec.StartPacking();
      TEdges edges;
      std::vector<std::uint32_t> nodes{RootNode};
      const unsigned alphabet = 2 + rng() % 20;
      auto add = [&](std::uint32_t parent, unsigned c) {
        const std::uint32_t n = index.AddChild(d, static_cast<std::uint8_t>(c), parent);
        if (n == NilNode) return false;
        EXPECT_EQ(n, nodes.size() + FirstPhraseNode - 1) << "nodes are numbered in order";
        edges[{parent, c}] = n;
        nodes.push_back(n);
        return true;
      };
      bool room = true;
      while (room && !d.Full()) {
        const std::uint32_t p = nodes[rng() % nodes.size()];
        const unsigned c = 'a' + rng() % alphabet;
        switch (rng() % 3) {
          case 0: {  // a lookup, and the child made when missing
            const auto it = edges.find({p, c});
            ASSERT_EQ(index.FindChildOf(d, p, static_cast<std::uint8_t>(c)), it == edges.end() ? NilNode : it->second);
            if (it == edges.end()) room = add(p, c);
            break;
          }
          case 1: {  // a scan from any node, then perhaps the child its miss asks for
            std::string s;
            for (unsigned k = rng() % 12; k > 0; --k) s += static_cast<char>('a' + rng() % alphabet);
            std::uint32_t want = 0;
            const std::uint32_t end = Walk(edges, p, s, want);
            std::uint32_t current = p;
            const std::uint32_t taken =
                index.ScanPhrase(d, reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<std::uint32_t>(s.size()),
                             current);
            ASSERT_EQ(taken, want);
            ASSERT_EQ(current, end);
            if (taken < s.size() && rng() % 2 != 0) room = add(current, static_cast<unsigned char>(s[taken]));
            break;
          }
          default:
            if (edges.find({p, c}) == edges.end()) room = add(p, c);
            break;
        }
      }
      for (const auto& [key, node] : edges)
        ASSERT_EQ(index.FindChildOf(d, key.first, static_cast<std::uint8_t>(key.second)), node);
    }
    codec.Done();
  }
}

}  // namespace
}  // namespace vorka
