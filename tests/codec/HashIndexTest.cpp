// The hash index's table grows with the entries made, not with the
// dictionary's size: a reset empties only what the last epoch used, and a
// huge dictionary packing a small input touches a small table. Growing opens
// a further region and leaves entries where they are; streams must not
// notice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/CodecHelpers.h"
#include "support/RefCoder.h"
#include "support/TestData.h"

namespace vorka {
namespace {

using THashCodec = test::TCodec<THashIndex>;

// Entries the table must hold: every node but the reserved ones and the
// one-character phrases, which live in RootChild.
std::uint32_t TableEntries(const THashCodec& codec) {
  std::uint32_t roots = 0;
  for (const std::uint32_t n : codec.Encoder.Index.RootChild) roots += n != NilNode;
  return codec.Encoder.Nodes.NodeCount - FirstPhraseNode - roots;
}

TEST(HashIndexTable, GrowsWithTheEntriesAndStartsSmallAfterAReset) {
  THashCodec codec;
  ASSERT_TRUE(codec.Init(1u << 20));
  codec.SetMaxFragment(0xFFFFFFFF);
  // Random bytes make a node for nearly every two bytes: 800000 bytes fill
  // far more entries than the table starts with.
  const std::string data = test::MakeRandom(800000, 7);
  const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 65536, 100000);
  EXPECT_EQ(codec.Encoder.ResetCount(), 0u);
  const std::uint32_t entries = TableEntries(codec);
  ASSERT_GT(entries, THashIndex::StartSlots);
  EXPECT_GT(codec.Encoder.Index.Regions, 1u);
  EXPECT_GT(codec.Encoder.Index.Slots(), THashIndex::StartSlots);
  // About two thirds full at most, and no larger than the newest region
  // (twice the one before) makes it.
  EXPECT_GE(std::uint64_t{codec.Encoder.Index.Slots()} * 2, std::uint64_t{entries} * 3);
  EXPECT_LE(codec.Encoder.Index.Slots(), 5 * entries);
  EXPECT_LE(codec.Encoder.Index.Slots(), codec.Encoder.Index.Capacity);
  EXPECT_EQ(stream, test::RefEncode(data, codec.DictionarySize(), codec.Store.MaxFrag).Bytes);
  // Every node made has one entry, and entries are found from their own
  // home by a lookup over all regions. Such a lookup rebuilds the parent's
  // phrase hash by a slow path meant for rare use, so every 97th entry is
  // looked up (some 4000), which keeps the test short under the sanitizers.
  std::vector<bool> seen(codec.Encoder.Nodes.NodeCount);
  std::uint32_t filled = 0;
  for (std::uint32_t i = 0; i < codec.Encoder.Index.Slots(); ++i) {
    const std::uint64_t e = codec.Encoder.Index.Entry(i);
    if (e == 0) continue;
    ++filled;
    const auto node = static_cast<std::uint32_t>(e & THashIndex::NodeMask);
    const auto parent = static_cast<std::uint32_t>(e >> (THashIndex::NodeBits + 8));
    const auto c = static_cast<std::uint8_t>(e >> THashIndex::NodeBits);
    ASSERT_LT(node, seen.size());
    EXPECT_FALSE(seen[node]) << "node " << node << " twice";
    seen[node] = true;
    if (filled % 97 == 0) {
      ASSERT_EQ(codec.Encoder.Index.FindChildOf(codec.Encoder.Nodes, parent, c), node) << "entry " << i;
    }
  }
  EXPECT_EQ(filled, entries);
  for (std::uint32_t n = FirstPhraseNode; n < codec.Encoder.Nodes.NodeCount; ++n) {
    if (codec.Encoder.Index.RootChild[codec.Encoder.Nodes.NodeChar[n]] != n) {
      ASSERT_TRUE(seen[n]) << "node " << n << " lost";
    }
  }

  // A reset leaves the table to be opened at its starting size again.
  codec.StartPacking();
  EXPECT_EQ(codec.Encoder.Index.Slots(), 0u);
  const std::string small = test::MakeText(20000, 8);
  EXPECT_EQ(test::PackAll(codec, small, 65536, 100000),
            test::RefEncode(small, codec.DictionarySize(), codec.Store.MaxFrag).Bytes);
  EXPECT_EQ(codec.Encoder.Index.Slots(), THashIndex::StartSlots);
  codec.Done();
}

// A stream started with its length opens a table no larger than that length
// can fill; one that runs longer than it said (a caller's mistake) grows
// further regions and still writes the reference stream.
TEST(HashIndexTable, StatedLengthSizesTheFirstRegion) {
  struct Case { const char* name; std::uint64_t stated; std::size_t length; std::uint32_t firstAtMost; };
  const Case cases[] = {
      {"as stated", 4000, 4000, 4000 * THashIndex::MaxLoad},
      {"shorter than stated", 30000, 4000, 30000 * THashIndex::MaxLoad},
      {"longer than stated", 10, 200000, THashIndex::MinFirstSlots},
      {"not stated", UnknownInput, 4000, THashIndex::StartSlots},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    THashCodec codec;
    ASSERT_TRUE(codec.Init(100000));
    const std::string data = test::MakeRandom(c.length, 13);
    const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 65536, 100000, c.stated);
    EXPECT_LE(codec.Encoder.Index.RegionSlots[0], c.firstAtMost);
    EXPECT_GE(std::uint64_t{codec.Encoder.Index.Slots()} * 2, std::uint64_t{TableEntries(codec)} * 3);
    EXPECT_EQ(stream, test::RefEncode(data, codec.DictionarySize(), codec.Store.MaxFrag).Bytes);
    codec.Done();
  }
}

TEST(HashIndexTable, LargestDictionaryPacksASmallInputInASmallTable) {
  THashCodec codec;
  // Linux grants the address space lazily; a build with a tighter allocator
  // refuses, and there is nothing to show.
  if (!codec.Init(MaxDictionarySize)) GTEST_SKIP() << "no address space for the largest dictionary";
  const std::string data = test::MakeText(150000, 9) + test::MakeRandom(20000, 9);
  const std::vector<std::uint8_t> stream = test::PackAll(codec, data, 100000, 100000);
  EXPECT_EQ(codec.Encoder.Index.Slots(), THashIndex::StartSlots);
  EXPECT_EQ(stream, test::RefEncode(data, codec.DictionarySize(), codec.Store.MaxFrag).Bytes);
  EXPECT_TRUE(test::UnpackAll(codec, stream, data.size(), 100000, 100000).Data == data);
  codec.Done();
}

// Entries must spread over the table even when every phrase is one or two
// bytes long: the phrase hashes of such phrases are few and regular, and a
// home taken from badly mixed bits lines them up into long runs, which every
// later miss walks to its end. Measured as the mean length of a miss from a
// home picked uniformly (the run of filled entries from there, plus the
// empty one), against what linear probing gives with homes spread at random
// at that load: (1 + 1 / (1 - load)^2) / 2.
TEST(HashIndexTable, ShortPhrasesSpreadOverTheTable) {
  struct Case { const char* name; std::string data; };
  const Case cases[] = {
      {"random bytes", test::MakeRandom(140000, 11)},
      {"text", test::MakeText(900000, 12)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    THashCodec codec;
    ASSERT_TRUE(codec.Init(100000));
    const std::vector<std::uint8_t> stream = test::PackAll(codec, c.data, 65536, 100000);
    ASSERT_EQ(codec.Encoder.ResetCount(), 0u);
    ASSERT_EQ(codec.Encoder.Index.Regions, 1u);
    const std::uint32_t slots = codec.Encoder.Index.Slots();
    const std::uint32_t entries = TableEntries(codec);
    ASSERT_GT(entries, slots / 4);  // loaded enough for runs to show
    // Runs of filled entries, the first one joined to the last across the
    // table's end.
    std::vector<std::uint32_t> runs;
    std::uint32_t first = 0;
    while (codec.Encoder.Index.Entry(first) != 0) ++first;
    std::uint32_t run = 0;
    for (std::uint32_t k = 1; k <= slots; ++k) {
      if (codec.Encoder.Index.Entry((first + k) % slots) != 0) {
        ++run;
      } else if (run != 0) {
        runs.push_back(run);
        run = 0;
      }
    }
    // A home in a run of r entries, j entries from its end, probes j + 1.
    double probes = slots - entries;  // homes on an empty entry: one probe
    for (const std::uint32_t r : runs) probes += static_cast<double>(r) * (r + 3) / 2;
    const double mean = probes / slots;
    const double load = static_cast<double>(entries) / slots;
    const double spread = (1 + 1 / ((1 - load) * (1 - load))) / 2;
    EXPECT_LT(mean, 1.25 * spread) << "load " << load;
    codec.Done();
  }
}

// The index answers from the table it has, whichever order the calls come
// in: a lookup or an insertion before any scan opens the table too.
TEST(HashIndexTable, FirstUseMayBeAnyCall) {
  struct Case { const char* name; int first; };
  for (const Case c : {Case{"lookup", 0}, Case{"insertion", 1}, Case{"scan", 2}}) {
    SCOPED_TRACE(c.name);
    THashCodec codec;
    ASSERT_TRUE(codec.Init(4096));
    codec.StartPacking();
    TDicNodes& d = codec.Encoder.Nodes;
    THashIndex& index = codec.Encoder.Index;
    const std::uint32_t a = index.AddChild(d, 'a', RootNode);
    std::uint32_t current = a;
    const std::uint8_t b[] = {'b'};
    if (c.first == 0) {
      EXPECT_EQ(index.FindChildOf(d, a, 'b'), NilNode);
    } else if (c.first == 2) {
      EXPECT_EQ(index.ScanPhrase(d, b, 1, current), 0u);
    }
    const std::uint32_t ab = index.AddChild(d, 'b', a);
    EXPECT_EQ(index.FindChildOf(d, a, 'b'), ab);
    current = a;
    EXPECT_EQ(index.ScanPhrase(d, b, 1, current), 1u);
    EXPECT_EQ(current, ab);
    codec.Done();
  }
}

}  // namespace
}  // namespace vorka
